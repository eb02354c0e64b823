#!/usr/bin/python3
"""Makes the fixtures of the element walk's tests in the folder given as the only argument.

reader/: small 16-bit grey images written by pydicom with an element before the pixels that the
walk must step over whole (implicit sequences of undefined length, an implicit element longer
than 65535 bytes, explicit VRs with the long length field), each with pydicom's pixel bytes
beside it (NAME.raw). reader/pydicom_shapes.tsv: columns, rows and number of frames of every
one of pydicom's own test files as pydicom reads them (empty fields where an element is absent).
"""
import os
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence

EXPLICIT = "1.2.840.10008.1.2.1"
IMPLICIT = "1.2.840.10008.1.2"
TEST_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")
COLUMNS, ROWS = 13, 7


def base(syntax, seed):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = "1.2.826.0.1.3680043.2.1143.9." + str(seed)
    meta.TransferSyntaxUID = syntax
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = syntax == IMPLICIT
    ds.PatientName = "Reader^Fixture"
    ds.Rows, ds.Columns = ROWS, COLUMNS
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = 16
    ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 0
    rng = np.random.default_rng(seed)
    ds.PixelData = rng.integers(0, 65536, size=(ROWS, COLUMNS), dtype=np.uint16).tobytes()
    return ds


def item(**values):
    entry = Dataset()
    for key, value in values.items():
        setattr(entry, key, value)
    return entry


def undefined_sequence(ds, keyword, items, undefined_items=False):
    setattr(ds, keyword, Sequence(items))
    ds[keyword].is_undefined_length = True
    for entry in items:
        entry.is_undefined_length_sequence_item = undefined_items


def implicit_sequence():
    ds = base(IMPLICIT, 1)
    undefined_sequence(ds, "ReferencedSeriesSequence", [item(SeriesInstanceUID="1.2.3.4")])
    return ds


def implicit_nested_sequence():
    ds = base(IMPLICIT, 2)
    inner = [item(ReferencedSOPClassUID="1.2.840.10008.5.1.4.1.1.2", ReferencedSOPInstanceUID="1.2.3.4.5")]
    outer = item(SeriesInstanceUID="1.2.3.4")
    undefined_sequence(outer, "ReferencedSOPSequence", inner, undefined_items=True)
    undefined_sequence(ds, "ReferencedSeriesSequence", [outer], undefined_items=True)
    return ds


def implicit_long_private():
    ds = base(IMPLICIT, 3)
    block = ds.private_block(0x0029, "READER FIXTURE", create=True)
    block.add_new(0x01, "OB", b"0123456789" * 7000)
    return ds


def explicit_long_vrs(*vrs):
    ds = base(EXPLICIT, 10 + len(vrs[0]) * ord(vrs[0][0]) + ord(vrs[0][1]))
    values = {
        "UT": "a UT value of some length",
        "UC": "a UC value",
        "UR": "http://example.org/x",
        "OD": b"\x00" * 7 + b"\x40",
        "OF": b"\x00\x00\x80\x3f",
        "OL": b"\x01\x00\x00\x00",
        "OV": b"\x02" + b"\x00" * 7,
        "SV": [-3],
        "UV": [3],
    }
    block = ds.private_block(0x0029, "READER FIXTURE", create=True)
    for offset, vr in enumerate(vrs, start=1):
        block.add_new(offset, vr, values[vr])
    return ds


FIXTURES = {
    "implicit_sequence": implicit_sequence,
    "implicit_nested_sequence": implicit_nested_sequence,
    "implicit_long_private": implicit_long_private,
    "explicit_ut": lambda: explicit_long_vrs("UT"),
    "explicit_uc": lambda: explicit_long_vrs("UC"),
    "explicit_other_vrs": lambda: explicit_long_vrs("OD", "OF", "OL", "OV", "SV", "UR", "UV"),
}


def make_images(folder):
    for name, build in FIXTURES.items():
        path = os.path.join(folder, name + ".dcm")
        build().save_as(path, write_like_original=False)
        with open(os.path.join(folder, name + ".raw"), "wb") as f:
            f.write(pydicom.dcmread(path).PixelData)


def number(value):
    """The text of a whole number; "?" for a value that is none, empty when there is no value."""
    if value is None:
        return ""
    try:
        return str(int(value))
    except ValueError:
        return "?"


def make_shapes(folder):
    lines = []
    for root, _, files in sorted(os.walk(TEST_FILES)):
        for name in sorted(files):
            path = os.path.join(root, name)
            try:
                ds = pydicom.dcmread(path, force=True)
                fields = [number(ds.get(keyword)) for keyword in ("Columns", "Rows", "NumberOfFrames")]
            except Exception:
                continue
            lines.append("\t".join([os.path.relpath(path, TEST_FILES)] + fields))
    with open(os.path.join(folder, "pydicom_shapes.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    folder = os.path.join(sys.argv[1], "reader")
    os.makedirs(folder, exist_ok=True)
    make_images(folder)
    make_shapes(folder)


if __name__ == "__main__":
    main()
