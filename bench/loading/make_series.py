#!/usr/bin/python3
"""Writes the loading benchmark's series: 400 files of 512 x 512 16-bit CT slices (about 200 MiB,
explicit little endian) into FOLDER, and with --jpeg JPEGFOLDER a JPEG-lossless copy of every file
(dcmcjpeg, two at a time). --files and --size change the number of files and their rows and
columns (the field of view stays 256 mm): many small files time what a load costs per file.
Deterministic. Run with Debian's python3 (pydicom, numpy).

usage: make_series.py FOLDER [--jpeg JPEGFOLDER] [--files N] [--size PIXELS]
"""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import time
import uuid

import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

FILES, SIZE, FIELD, STEP = 400, 512, 256.0, 0.625
NAMESPACE = uuid.UUID("0e5a3c1d-8f47-5b2c-a9d0-6c6f6164696e")
CT_STORAGE = "1.2.840.10008.5.1.4.1.1.2"


def uid(*parts):
    return "2.25." + str(uuid.uuid5(NAMESPACE, "/".join(map(str, parts))).int)


def slice_pixels(k, files, rng, X, Y):
    """An elliptic body with a spine and two organs whose size changes along the stack."""
    z = (k - files / 2) / (files / 2)
    hu = np.full(X.shape, -1000.0, dtype=np.float32)
    hu[(X / 170) ** 2 + (Y / 120) ** 2 <= 1] = 40
    hu[(X / 160) ** 2 + (Y / 110) ** 2 <= 1] = 55
    r = 60 * np.sqrt(max(0.0, 1 - z * z))
    if r > 1:
        hu[((X + 70) / r) ** 2 + ((Y + 10) / (0.8 * r)) ** 2 <= 1] = 65
        hu[((X - 70) / (0.7 * r)) ** 2 + ((Y + 20) / (0.6 * r)) ** 2 <= 1] = 25
    hu[(X / 22) ** 2 + ((Y - 70) / 20) ** 2 <= 1] = 900
    hu[(Y > 125) & (Y < 135) & (np.abs(X) < 200)] = 150
    hu += rng.normal(0, 8, X.shape).astype(np.float32)
    return np.clip(np.rint(hu + 1024), 0, 4095).astype("<u2")


def write_series(folder, files=FILES, size=SIZE):
    os.makedirs(folder, exist_ok=True)
    rng = np.random.default_rng(400)
    pixel = FIELD / size
    axis = (np.arange(size) - (size - 1) / 2) * pixel
    Y, X = np.meshgrid(axis.astype(np.float32), axis.astype(np.float32), indexing="ij")
    x0 = axis[0]
    paths = []
    digits = max(4, len(str(files)))
    for k in range(files):
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = CT_STORAGE
        meta.MediaStorageSOPInstanceUID = uid("instance", k)
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        meta.ImplementationClassUID = uid("implementation")
        ds = Dataset()
        ds.file_meta = meta
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.SOPClassUID, ds.SOPInstanceUID = CT_STORAGE, meta.MediaStorageSOPInstanceUID
        ds.StudyDate = ds.SeriesDate = "20240301"
        ds.StudyTime = ds.SeriesTime = "101500"
        ds.Modality = "CT"
        ds.StudyDescription, ds.SeriesDescription = "Loading benchmark", "Body 0.625 mm"
        ds.PatientName, ds.PatientID = "BENCH^LOADING", "TVC-BENCH"
        ds.PatientBirthDate, ds.PatientSex = "19800101", "M"
        ds.StudyInstanceUID, ds.SeriesInstanceUID = uid("study"), uid("series")
        ds.FrameOfReferenceUID = uid("frame-of-reference")
        ds.SeriesNumber, ds.InstanceNumber = 1, k + 1
        ds.ImageType = ["ORIGINAL", "PRIMARY", "AXIAL"]
        z = (k - (files - 1) / 2) * STEP
        ds.ImagePositionPatient = [f"{x0:.3f}", f"{x0:.3f}", f"{z:.4f}"]
        ds.ImageOrientationPatient = ["1", "0", "0", "0", "1", "0"]
        ds.SliceLocation = f"{z:.4f}"
        ds.PixelSpacing = [f"{pixel:g}", f"{pixel:g}"]
        ds.SliceThickness = ds.SpacingBetweenSlices = f"{STEP:g}"
        ds.WindowCenter, ds.WindowWidth = "40", "400"
        ds.RescaleIntercept, ds.RescaleSlope = "-1024", "1"
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
        ds.Rows = ds.Columns = size
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 0
        ds.PixelData = slice_pixels(k, files, rng, X, Y).tobytes()
        path = os.path.join(folder, "IM%0*d.dcm" % (digits, k + 1))
        ds.save_as(path, write_like_original=False)
        paths.append(path)
    return paths


def compress(paths, folder):
    os.makedirs(folder, exist_ok=True)

    def one(path):
        subprocess.run(["dcmcjpeg", path, os.path.join(folder, os.path.basename(path))], check=True)

    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(one, paths))


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))


def main():
    parser = argparse.ArgumentParser(description="Writes the loading benchmark's series.")
    parser.add_argument("folder")
    parser.add_argument("--jpeg", metavar="JPEGFOLDER")
    parser.add_argument("--files", type=int, default=FILES)
    parser.add_argument("--size", type=int, default=SIZE)
    options = parser.parse_args()
    if options.files < 1 or options.size < 8:
        parser.error("--files must be at least 1 and --size at least 8")
    start = time.monotonic()
    paths = write_series(options.folder, options.files, options.size)
    print(f"{options.folder}: {len(paths)} files, {folder_bytes(options.folder) / 1048576:.1f} MiB "
          f"({time.monotonic() - start:.1f} s)")
    if options.jpeg:
        start = time.monotonic()
        compress(paths, options.jpeg)
        print(f"{options.jpeg}: {len(paths)} JPEG lossless files, "
              f"{folder_bytes(options.jpeg) / 1048576:.1f} MiB ({time.monotonic() - start:.1f} s)")


if __name__ == "__main__":
    sys.exit(main())
