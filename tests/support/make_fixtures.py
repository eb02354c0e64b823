#!/usr/bin/python3
"""Makes the DICOM fixtures of the tests in the folder given as the only argument.

Source images are written uncompressed by pydicom and compressed by DCMTK (dcmcjpeg: lossless
process 14 selection value 1; dcmcjpls: JPEG-LS lossless). For every one of pydicom's own test
files a manifest line tells the reference outcome and, where there are pixels, where the
reference decoder's bytes are (pydicom for uncompressed files, dcmdjpeg/dcmdjpls for compressed).
"""
import os
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

EXPLICIT = "1.2.840.10008.1.2.1"
IMPLICIT = "1.2.840.10008.1.2"
JPEG_LOSSLESS = "1.2.840.10008.1.2.4.70"
JPEG_LS = "1.2.840.10008.1.2.4.80"
TEST_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")


def image(name, width, height, frames, bits_stored, samples):
    rng = np.random.default_rng(sum(map(ord, name)))
    y, x = np.mgrid[0:height, 0:width]
    planes = []
    top = (1 << bits_stored) - 1
    for f in range(frames):
        base = ((x * 7 + y * 3 + f * 11) % (top + 1)).astype(np.int64)
        noise = rng.integers(-3, 4, size=(height, width))
        planes.append(np.clip(base + noise, 0, top))
    data = np.stack(planes)
    if samples == 3:
        data = np.stack([data, (top - data), (data // 2)], axis=-1)
    return data.astype(np.uint8 if bits_stored <= 8 else np.uint16)


def write_source(path, pixels, bits_stored, samples):
    frames = pixels.shape[0]
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid(entropy_srcs=[path])
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName = "Fixture^Image"
    ds.PatientID = "FIX-1"
    ds.Modality = "OT"
    ds.InstanceNumber = 7
    ds.SliceLocation = "-12.5"
    ds.Rows, ds.Columns = pixels.shape[1], pixels.shape[2]
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = "RGB" if samples == 3 else "MONOCHROME2"
    if samples == 3:
        ds.PlanarConfiguration = 0
    ds.BitsAllocated = 8 if bits_stored <= 8 else 16
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 0
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.PixelData = pixels.tobytes()
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.save_as(path, write_like_original=False)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_compressed(out):
    cases = [
        # name, width, height, frames, bits stored, samples
        ("gray8", 67, 45, 1, 8, 1),
        ("gray12", 64, 48, 1, 12, 1),
        ("gray16", 61, 40, 1, 16, 1),
        ("rgb8", 33, 29, 1, 8, 3),
        ("gray8x4", 40, 30, 4, 8, 1),
        ("gray16x3", 32, 24, 3, 16, 1),
        ("rgb8x2", 20, 18, 2, 8, 3),
    ]
    for name, w, h, frames, bits, samples in cases:
        source = os.path.join(out, f"src_{name}.dcm")
        write_source(source, image(name, w, h, frames, bits, samples), bits, samples)
        run("dcmcjpeg", source, os.path.join(out, f"jpeg_{name}.dcm"))
        run("dcmcjpls", source, os.path.join(out, f"jls_{name}.dcm"))
        # One frame per fragment without an offset table, as other writers store them.
        run("dcmcjpeg", "-ot", source, os.path.join(out, f"jpegnobot_{name}.dcm"))


def reference_pixels(path, syntax, scratch):
    """The pixel bytes a reference decoder gives, or None when the file has none."""
    if syntax in (JPEG_LOSSLESS, JPEG_LS):
        tool = "dcmdjpeg" if syntax == JPEG_LOSSLESS else "dcmdjpls"
        try:
            run(tool, path, scratch)
        except subprocess.CalledProcessError:
            return None
        path = scratch
    ds = pydicom.dcmread(path, force=True)
    return ds.get("PixelData")


def describe(path, scratch):
    with open(path, "rb") as f:
        data = f.read()
    if b"DICM" not in data:
        return "error", "Invalid DICOM file format 1", None
    try:
        ds = pydicom.dcmread(path, force=True)
        syntax = str(ds.file_meta.get("TransferSyntaxUID", "")) if hasattr(ds, "file_meta") else ""
    except Exception:
        return "unreadable", "", None
    if syntax not in (EXPLICIT, IMPLICIT, JPEG_LOSSLESS, JPEG_LS):
        return "error", "Unsuported transfer syntax " + syntax, None
    bits = ds.get("BitsAllocated", 0)
    stored = ds.get("BitsStored", 0)
    high = ds.get("HighBit", -1)
    if bits is None or stored is None or high is None:
        return "unreadable", "", None
    if bits % 8 != 0 or stored != high + 1:
        return "error", "Illegal pixel size 1", None
    if max(bits // 8, ds.get("SamplesPerPixel", 1) or 1) not in (1, 2, 3, 4):
        return "error", "Invalid pixel size", None
    return "ok", syntax, reference_pixels(path, syntax, scratch)


def make_references(out):
    folder = os.path.join(out, "pydicom")
    os.makedirs(folder, exist_ok=True)
    scratch = os.path.join(folder, "scratch.dcm")
    lines = []
    for root, _, files in sorted(os.walk(TEST_FILES)):
        for name in sorted(files):
            path = os.path.join(root, name)
            rel = os.path.relpath(path, TEST_FILES)
            outcome, detail, pixels = describe(path, scratch)
            raw = ""
            if pixels is not None:
                raw = rel.replace("/", "__") + ".raw"
                with open(os.path.join(folder, raw), "wb") as f:
                    f.write(pixels)
            lines.append("\t".join([rel, outcome, detail, raw]))
    with open(os.path.join(folder, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    make_compressed(out)
    make_references(out)
    subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "make_reader_fixtures.py"), out], check=True)


if __name__ == "__main__":
    main()
