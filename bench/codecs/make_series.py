#!/usr/bin/python3
"""Writes the codec benchmark's series from the loading benchmark's plain series (400 files of
512 x 512 16-bit CT, made by bench/loading/make_series.py when PLAIN does not exist yet):

  OUT/j2k     every file by `gdcmconv -K` (JPEG 2000 lossless)
  OUT/htj2k   every frame by `ojph_compress -reversible true`, wrapped as HTJ2K lossless
  OUT/jpeg8   the slices scaled to 8 bits (Bits Allocated 8), then `dcmcjpeg +eb` (JPEG baseline)

Two encoders run at a time. Deterministic; a folder that already holds every file of PLAIN is left
as it is. Run with Debian's python3 (pydicom, numpy).

usage: make_series.py PLAIN OUT
"""

import concurrent.futures
import os
import subprocess
import sys
import tempfile
import time
import uuid

import numpy as np
import pydicom
from pydicom.encaps import encapsulate
from pydicom.filebase import DicomFileLike
from pydicom.filewriter import write_dataset, write_file_meta_info
from pydicom.uid import ExplicitVRLittleEndian

HTJ2K_LOSSLESS = "1.2.840.10008.1.2.4.201"
WORKERS = 2
NAMESPACE = uuid.UUID("5b1f0c1e-3d2a-5e4b-9c8d-636f64656373")
LOADING_SERIES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "loading", "make_series.py")


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def pgm(path, pixels, bits):
    """One 16-bit frame as PGM; the largest value tells the encoder the samples' depth."""
    height, width = pixels.shape
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n%d\n" % (width, height, (1 << bits) - 1))
        f.write(pixels.astype(">u2").tobytes())


def write_encapsulated(ds, target, syntax, frames):
    """The data set with its pixels replaced by encapsulated frames, written element by element:
    this pydicom's save_as refuses syntaxes newer than itself."""
    ds.file_meta.TransferSyntaxUID = syntax
    ds.PixelData = encapsulate(frames)
    ds["PixelData"].is_undefined_length = True
    ds["PixelData"].VR = "OB"
    ds.is_little_endian, ds.is_implicit_VR = True, False
    with open(target, "wb") as f:
        f.write(b"\0" * 128 + b"DICM")
        fp = DicomFileLike(f)
        fp.is_little_endian, fp.is_implicit_VR = True, False
        write_file_meta_info(fp, ds.file_meta)
        write_dataset(fp, ds)


def j2k(source, target, work):
    run("gdcmconv", "-K", source, target)


def htj2k(source, target, work):
    ds = pydicom.dcmread(source)
    name = os.path.join(work, os.path.basename(target))
    pgm(name + ".pgm", ds.pixel_array, ds.BitsStored)
    run("ojph_compress", "-i", name + ".pgm", "-o", name + ".j2c", "-reversible", "true")
    with open(name + ".j2c", "rb") as f:
        frame = f.read()
    os.remove(name + ".pgm")
    os.remove(name + ".j2c")
    write_encapsulated(ds, target, HTJ2K_LOSSLESS, [frame])


def jpeg8(source, target, work):
    ds = pydicom.dcmread(source)
    shift = ds.BitsStored - 8
    ds.PixelData = (ds.pixel_array >> shift).astype(np.uint8).tobytes()
    ds.BitsAllocated, ds.BitsStored, ds.HighBit = 8, 8, 7
    # The same Hounsfield units from the coarser samples, so the window still fits.
    ds.RescaleSlope = str(1 << shift)
    # A new image, under a UID of its own that every run gives it alike (the encoder would draw one).
    ds.SOPInstanceUID = "2.25." + str(uuid.uuid5(NAMESPACE, ds.SOPInstanceUID + "/jpeg8").int)
    ds.file_meta.MediaStorageSOPInstanceUID = ds.SOPInstanceUID
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.is_little_endian, ds.is_implicit_VR = True, False
    eight = os.path.join(work, os.path.basename(target) + ".8bit")
    ds.save_as(eight, write_like_original=False)
    run("dcmcjpeg", "+eb", "+un", eight, target)
    os.remove(eight)


ENCODINGS = {"j2k": j2k, "htj2k": htj2k, "jpeg8": jpeg8}


def is_complete(folder, names):
    return all(os.path.isfile(os.path.join(folder, n)) for n in names)


def encode_folder(plain, names, folder, encode):
    """Every missing file of the folder; each is written under a hidden name and renamed when
    whole, so an interrupted run leaves no half file under a real name."""
    os.makedirs(folder, exist_ok=True)
    for stale in (n for n in os.listdir(folder) if n.startswith(".part-")):
        os.remove(os.path.join(folder, stale))
    missing = [n for n in names if not os.path.exists(os.path.join(folder, n))]
    with tempfile.TemporaryDirectory() as work:
        def one(name):
            part = os.path.join(folder, ".part-" + name)
            encode(os.path.join(plain, name), part, work)
            os.replace(part, os.path.join(folder, name))

        with concurrent.futures.ThreadPoolExecutor(max_workers=WORKERS) as pool:
            list(pool.map(one, missing))
    return len(missing)


def folder_mib(folder, names):
    return sum(os.path.getsize(os.path.join(folder, n)) for n in names) / 1048576


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    plain, out = argv
    if not os.path.isdir(plain):
        subprocess.run([sys.executable, LOADING_SERIES, plain], check=True)
    names = sorted(n for n in os.listdir(plain) if os.path.isfile(os.path.join(plain, n)))
    if not names:
        print(f"{plain}: no files", file=sys.stderr)
        return 1
    for label, encode in ENCODINGS.items():
        folder = os.path.join(out, label)
        if is_complete(folder, names):
            print(f"{folder}: complete, {len(names)} files, {folder_mib(folder, names):.1f} MiB")
            continue
        start = time.monotonic()
        written = encode_folder(plain, names, folder, encode)
        print(f"{folder}: wrote {written} of {len(names)} files, {folder_mib(folder, names):.1f} MiB "
              f"({time.monotonic() - start:.1f} s)", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
