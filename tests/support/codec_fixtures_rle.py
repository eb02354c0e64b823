#!/usr/bin/python3
"""Fixtures of the RLE frame decoder and the colour conversions, written into OUTDIR/rle/.

Small images made with numpy are written by pydicom, compressed by DCMTK's dcmcrle, and each
frame's fragment is cut out with pydicom's encapsulation helpers; the expected pixels are the
source's. pydicom's own RLE files (among them a dose grid of 32-bit samples) are decoded by dcmdrle
for the reference. Every frame is one
line of manifest.tsv: name, columns, rows, samples, bytes per sample, bits stored, signed,
photometric, codestream file, expected raw file (samples interleaved, 16 and 32 bits little endian).

colour.tsv holds pydicom's conversion of a real YBR_FULL_422 file: name, columns, rows, the
native 4:2:2 bytes, the same pixels as full YBR, and pydicom's RGB.
"""

import os
import subprocess
import sys
import tempfile

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import generate_pixel_data_frame
from pydicom.pixel_data_handlers.util import convert_color_space
from pydicom.uid import ExplicitVRLittleEndian, RLELossless, SecondaryCaptureImageStorage, generate_uid

PYDICOM_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")
COLUMNS = ["name", "columns", "rows", "samples", "bytes_per_sample", "bits_stored", "signed", "photometric",
           "codestream", "expected"]


def texture(rng, rows, columns, high):
    """Flat areas (long runs), a ramp, and noise (literals) in one picture."""
    image = np.zeros((rows, columns), dtype=np.int64)
    image[: rows // 3, :] = high // 3
    ramp = np.arange(columns, dtype=np.int64) * (high // max(columns - 1, 1))
    image[rows // 3 : 2 * rows // 3, :] = ramp
    image[2 * rows // 3 :, :] = rng.integers(0, high + 1, size=(rows - 2 * rows // 3, columns))
    image[rows // 2, columns // 4] = high
    return image


def source_images():
    rng = np.random.default_rng(20240611)
    gray8 = texture(rng, 45, 67, 255).astype(np.uint8)
    gray16 = texture(rng, 50, 64, 65535).astype(np.uint16)
    signed16 = (texture(rng, 33, 40, 60000) - 30000).astype(np.int16)
    rgb8 = np.stack([texture(rng, 41, 53, 255) for _ in range(3)], axis=-1).astype(np.uint8)
    rgb8[:10, :, :] = [200, 30, 90]
    frames16 = np.stack([texture(rng, 24, 32, 4095) for _ in range(3)]).astype(np.uint16)
    # name, pixels, samples, bits stored, signed, photometric, frames
    return [
        ("gray8", gray8, 1, 8, False, "MONOCHROME2", 1),
        ("gray16", gray16, 1, 16, False, "MONOCHROME2", 1),
        ("signed16", signed16, 1, 16, True, "MONOCHROME2", 1),
        ("rgb8", rgb8, 3, 8, False, "RGB", 1),
        ("frames16", frames16, 1, 12, False, "MONOCHROME2", 3),
    ]


def write_native(path, pixels, samples, bits_stored, signed, photometric, frames):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = SecondaryCaptureImageStorage
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = "OT"
    ds.Rows, ds.Columns = (pixels.shape[1], pixels.shape[2]) if frames > 1 else pixels.shape[:2]
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = photometric
    if samples > 1:
        ds.PlanarConfiguration = 0
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.BitsAllocated = pixels.dtype.itemsize * 8
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    data = pixels.astype(pixels.dtype.newbyteorder("<")).tobytes()
    ds.PixelData = data + b"\0" * (len(data) % 2)
    ds.save_as(path, write_like_original=False)


def frames_of(path):
    ds = pydicom.dcmread(path)
    if ds.file_meta.TransferSyntaxUID != RLELossless:
        sys.exit(f"{path}: not RLE but {ds.file_meta.TransferSyntaxUID}")
    count = int(ds.get("NumberOfFrames", 1))
    return ds, list(generate_pixel_data_frame(ds.PixelData, count))


def interleaved_frames(ds):
    """The native pixel data of ds as a list of frames' bytes, samples interleaved."""
    count = int(ds.get("NumberOfFrames", 1))
    dtype = np.dtype(f"<u{ds.BitsAllocated // 8}")
    samples = int(ds.SamplesPerPixel)
    pixels = np.frombuffer(ds.PixelData, dtype=dtype)[: count * ds.Rows * ds.Columns * samples]
    if samples > 1 and int(ds.get("PlanarConfiguration", 0)) == 1:
        pixels = pixels.reshape(count, samples, ds.Rows, ds.Columns).transpose(0, 2, 3, 1)
    return [frame.tobytes() for frame in pixels.reshape(count, -1)]


def manifest_line(out, name, ds, codestream, expected):
    with open(os.path.join(out, name + ".rle"), "wb") as f:
        f.write(codestream)
    with open(os.path.join(out, name + ".raw"), "wb") as f:
        f.write(expected)
    return [name, ds.Columns, ds.Rows, ds.SamplesPerPixel, ds.BitsAllocated // 8, ds.BitsStored,
            int(ds.PixelRepresentation), ds.PhotometricInterpretation, name + ".rle", name + ".raw"]


def made_fixtures(out, work):
    lines = []
    for name, pixels, samples, bits_stored, signed, photometric, frames in source_images():
        native, compressed = os.path.join(work, name + ".dcm"), os.path.join(work, name + "_rle.dcm")
        write_native(native, pixels, samples, bits_stored, signed, photometric, frames)
        subprocess.run(["dcmcrle", native, compressed], check=True)
        ds, streams = frames_of(compressed)
        expected = pixels.astype(pixels.dtype.newbyteorder("<")).reshape(frames, -1)
        for index, stream in enumerate(streams):
            frame_name = name if frames == 1 else f"{name}_f{index}"
            lines.append(manifest_line(out, frame_name, ds, stream, expected[index].tobytes()))
    return lines


def pydicom_fixtures(out, work):
    lines = []
    for file in ["MR_small_RLE.dcm", "SC_rgb_rle.dcm", "SC_rgb_rle_16bit.dcm", "SC_rgb_rle_2frame.dcm",
                 "SC_rgb_rle_16bit_2frame.dcm", "rtdose_rle_1frame.dcm"]:
        source = os.path.join(PYDICOM_FILES, file)
        decoded = os.path.join(work, "decoded_" + file)
        subprocess.run(["dcmdrle", source, decoded], check=True)
        ds, streams = frames_of(source)
        expected = interleaved_frames(pydicom.dcmread(decoded))
        stem = "pydicom_" + os.path.splitext(file)[0]
        for index, stream in enumerate(streams):
            frame_name = stem if len(streams) == 1 else f"{stem}_f{index}"
            lines.append(manifest_line(out, frame_name, ds, stream, expected[index]))
    return lines


def colour_fixtures(out):
    ds = pydicom.dcmread(os.path.join(PYDICOM_FILES, "SC_ybr_full_422_uncompressed.dcm"))
    native = bytes(ds.PixelData[: ds.Rows * ds.Columns * 2])
    ybr = ds.pixel_array  # pydicom spreads each pair's Cb and Cr over both pixels
    rgb = convert_color_space(ybr, "YBR_FULL", "RGB")
    name = "pydicom_SC_ybr_full_422"
    files = {"ybr422": native, "ybr": ybr.astype(np.uint8).tobytes(), "rgb": rgb.astype(np.uint8).tobytes()}
    for suffix, content in files.items():
        with open(os.path.join(out, f"{name}.{suffix}"), "wb") as f:
            f.write(content)
    with open(os.path.join(out, "colour.tsv"), "w") as f:
        f.write("name\tcolumns\trows\tybr422\tybr\trgb\n")
        f.write(f"{name}\t{ds.Columns}\t{ds.Rows}\t{name}.ybr422\t{name}.ybr\t{name}.rgb\n")


def main():
    out = os.path.join(sys.argv[1], "rle")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        lines = made_fixtures(out, work) + pydicom_fixtures(out, work)
    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        for line in [COLUMNS] + lines:
            f.write("\t".join(str(value) for value in line) + "\n")
    colour_fixtures(out)


if __name__ == "__main__":
    main()
