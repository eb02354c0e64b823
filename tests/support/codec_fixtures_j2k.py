#!/usr/bin/python3
"""Makes the JPEG 2000 and HTJ2K fixtures of the frame decoders in OUTDIR/j2k.

Source images made here are compressed by real encoders: GDCM's gdcmconv (JPEG 2000, lossless
and irreversible) and OpenJPH's ojph_compress (HTJ2K). pydicom's own JPEG 2000 files are taken as
they are. Each case is one frame's codestream (cut from the DICOM file by pydicom) beside the
pixels it must decode to: the source pixels for lossless cases, a reference decoder's output
(gdcmconv --raw, ojph_expand) for lossy ones and for pydicom's files. manifest.tsv lists them:

name codec columns rows samples bytes_per_sample bits_stored signed photometric codestream expected tolerance

codec is "j2k" or "htj2k"; expected holds the samples interleaved, 16-bit ones little endian;
tolerance is the largest difference allowed per sample (0: exact); for lossy frames it leaves
room for another decoder's rounding.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import generate_pixel_data_frame
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

TEST_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")


def source_image(name, width, height, frames, bits_stored, samples, signed=False):
    """Smooth ramps with noise over the whole range of bits_stored: compressible, yet every bit
    plane carries something."""
    rng = np.random.default_rng(sum(map(ord, name)))
    y, x = np.mgrid[0:height, 0:width]
    top = (1 << bits_stored) - 1
    planes = []
    for f in range(frames):
        ramp = (x * top) // max(width - 1, 1) * (y + 1) // height + f * 977
        planes.append(np.clip(ramp % (top + 1) + rng.integers(-5, 6, size=(height, width)), 0, top))
    data = np.stack(planes).astype(np.int64)
    if samples == 3:
        data = np.stack([data, top - data, (data + 64 * y) % (top + 1)], axis=-1)
    if signed:
        data -= 1 << (bits_stored - 1)
        return data.astype(np.int16)
    return data.astype(np.uint8 if bits_stored <= 8 else np.uint16)


def write_dicom(path, pixels, bits_stored, samples, signed=False):
    """A secondary capture with native pixel data; pixels has the shape (frames, rows, columns[, 3])."""
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid(entropy_srcs=[os.path.basename(path)])
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName = "Fixture^Codec"
    ds.PatientID = "FIX-J2K"
    ds.Modality = "OT"
    ds.Rows, ds.Columns = pixels.shape[1], pixels.shape[2]
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = "RGB" if samples == 3 else "MONOCHROME2"
    if samples == 3:
        ds.PlanarConfiguration = 0
    ds.BitsAllocated = 8 if pixels.dtype.itemsize == 1 else 16
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if pixels.shape[0] > 1:
        ds.NumberOfFrames = pixels.shape[0]
    ds.PixelData = pixels.astype(pixels.dtype.newbyteorder("<")).tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)


def run(*argv):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)


def frames_of(path):
    """The codestreams of a file's frames, and its data set."""
    ds = pydicom.dcmread(path)
    count = int(ds.get("NumberOfFrames", 1) or 1)
    return list(generate_pixel_data_frame(ds.PixelData, count)), ds


def native_pixels(path):
    """The frames of an uncompressed file as (frames, rows, columns[, samples]) in its own type."""
    ds = pydicom.dcmread(path)
    count = int(ds.get("NumberOfFrames", 1) or 1)
    dtype = np.dtype("<u1" if ds.BitsAllocated == 8 else "<u2")
    data = np.frombuffer(ds.PixelData, dtype=dtype)[: count * ds.Rows * ds.Columns * ds.SamplesPerPixel]
    return data.reshape(count, ds.Rows, ds.Columns, ds.SamplesPerPixel), ds


class Manifest:
    def __init__(self, folder):
        self.folder = folder
        self.lines = []

    def add(self, name, codec, codestream, expected, bits_stored, signed, photometric, tolerance):
        """expected: one frame as (rows, columns, samples) of 8- or 16-bit samples."""
        rows, columns, samples = expected.shape
        stream_name, raw_name = name + (".j2c" if codec == "htj2k" else ".j2k"), name + ".raw"
        with open(os.path.join(self.folder, stream_name), "wb") as f:
            f.write(codestream)
        bytes_per_sample = expected.dtype.itemsize
        little = expected.astype(expected.dtype.newbyteorder("<"))
        little.view("<u1" if bytes_per_sample == 1 else "<u2").tofile(os.path.join(self.folder, raw_name))
        self.lines.append([name, codec, columns, rows, samples, bytes_per_sample, bits_stored,
                           int(signed), photometric, stream_name, raw_name, tolerance])

    def write(self):
        with open(os.path.join(self.folder, "manifest.tsv"), "w") as f:
            for line in self.lines:
                f.write("\t".join(map(str, line)) + "\n")


def check_close(name, decoded, source, most):
    """A lossy reference decoding must still resemble its source, or the case proves nothing."""
    error = np.abs(decoded.astype(np.int64) - source.astype(np.int64)).max()
    if error > most:
        sys.exit(f"{name}: the reference decoding is {error} away from its source")


def gdcm_cases(work, manifest):
    cases = [
        # name, source, bits stored, samples, signed, gdcmconv options, tolerance
        ("gdcm_gray8", source_image("gdcm_gray8", 67, 45, 1, 8, 1), 8, 1, False, ["-K"], 0),
        ("gdcm_gray12", source_image("gdcm_gray12", 64, 48, 1, 12, 1), 12, 1, False, ["-K"], 0),
        ("gdcm_gray16s", source_image("gdcm_gray16s", 50, 61, 1, 16, 1, True), 16, 1, True, ["-K"], 0),
        ("gdcm_rgb8", source_image("gdcm_rgb8", 40, 33, 1, 8, 3), 8, 3, False, ["-K"], 0),
        ("gdcm_frames16", source_image("gdcm_frames16", 32, 24, 3, 16, 1), 16, 1, False, ["-K"], 0),
        ("gdcm_lossy16s", source_image("gdcm_lossy16s", 64, 64, 1, 16, 1, True), 16, 1, True,
         ["-K", "-Y", "--irreversible", "-q", "60"], 1),
        ("gdcm_lossy_rgb8", source_image("gdcm_lossy_rgb8", 48, 40, 1, 8, 3), 8, 3, False,
         ["-K", "-Y", "--irreversible", "-q", "40"], 1),
    ]
    for name, pixels, bits_stored, samples, signed, options, tolerance in cases:
        source = os.path.join(work, name + ".dcm")
        compressed = os.path.join(work, name + "_j2k.dcm")
        write_dicom(source, pixels, bits_stored, samples, signed)
        run("gdcmconv", *options, source, compressed)
        frames, ds = frames_of(compressed)
        if tolerance == 0:
            expected = pixels.reshape(pixels.shape[0], pixels.shape[1], pixels.shape[2], samples)
        else:
            decoded = os.path.join(work, name + "_raw.dcm")
            run("gdcmconv", "--raw", compressed, decoded)
            expected, _ = native_pixels(decoded)
            check_close(name, expected.view(pixels.dtype).reshape(pixels.shape), pixels, 1 << (bits_stored - 3))
        for index, frame in enumerate(frames):
            suffix = f"_{index}" if len(frames) > 1 else ""
            manifest.add(name + suffix, "j2k", frame, expected[index], bits_stored, signed,
                         ds.PhotometricInterpretation, tolerance)


def pydicom_cases(work, manifest):
    """pydicom's JPEG 2000 files, decoded for reference by gdcmconv --raw: a JP2 file, signed and
    lossy ones, and one whose codestream calls unsigned what the data set calls signed."""
    for file in ["MR_small_jp2klossless.dcm", "693_J2KI.dcm", "GDCMJ2K_TextGBR.dcm",
                 "J2K_pixelrep_mismatch.dcm", "SC_rgb_gdcm_KY.dcm", "JPEG2000.dcm"]:
        name = "pydicom_" + os.path.splitext(file)[0]
        frames, ds = frames_of(os.path.join(TEST_FILES, file))
        decoded = os.path.join(work, name + "_raw.dcm")
        run("gdcmconv", "--raw", os.path.join(TEST_FILES, file), decoded)
        expected, _ = native_pixels(decoded)
        manifest.add(name, "j2k", frames[0], expected[0], ds.BitsStored, ds.PixelRepresentation == 1,
                     ds.PhotometricInterpretation, 0)


def write_netpbm(path, pixels):
    """pixels: (rows, columns[, 3]) unsigned; the largest value names the bit depth."""
    rows, columns = pixels.shape[:2]
    kind = "P6" if pixels.ndim == 3 else "P5"
    top = 255 if pixels.dtype.itemsize == 1 else 65535
    with open(path, "wb") as f:
        f.write(f"{kind}\n{columns} {rows}\n{top}\n".encode())
        f.write(pixels.astype(pixels.dtype.newbyteorder(">")).tobytes())


def ojph_cases(work, manifest):
    """HTJ2K by ojph_compress, from netpbm files, or raw 16-bit little-endian words where the bit
    depth must be told. ojph_compress takes raw words as unsigned even where it is told they are
    signed, so it cannot make frames with negative samples: the test makes those with OpenJPH's
    own encoder."""
    cases = [
        # name, pixels, bits stored, ojph_compress options, tolerance
        ("ojph_gray8", source_image("ojph_gray8", 71, 39, 1, 8, 1)[0], 8, [], 0),
        ("ojph_gray16", source_image("ojph_gray16", 64, 50, 1, 16, 1)[0], 16, [], 0),
        ("ojph_gray12", source_image("ojph_gray12", 45, 64, 1, 12, 1)[0], 12, [], 0),
        ("ojph_rgb8", source_image("ojph_rgb8", 37, 29, 1, 8, 3)[0], 8, [], 0),
        ("ojph_rgb8_plain", source_image("ojph_rgb8_plain", 30, 20, 1, 8, 3)[0], 8, ["-colour_trans", "false"], 0),
        ("ojph_lossy16", source_image("ojph_lossy16", 64, 64, 1, 16, 1)[0], 16,
         ["-reversible", "false", "-qstep", "0.001"], 2),
        # The irreversible colour transform. (ojph_compress spoils some sizes, such as 40 x 32.)
        ("ojph_lossy_rgb8", source_image("ojph_lossy_rgb8", 64, 48, 1, 8, 3)[0], 8,
         ["-reversible", "false", "-qstep", "0.002"], 1),
    ]
    for name, pixels, bits_stored, options, tolerance in cases:
        rows, columns = pixels.shape[:2]
        samples = 3 if pixels.ndim == 3 else 1
        reversible = "-reversible" not in options
        if bits_stored in (8, 16):
            source = os.path.join(work, name + (".ppm" if samples == 3 else ".pgm"))
            write_netpbm(source, pixels)
            extra = []
        else:
            source = os.path.join(work, name + ".yuv")
            pixels.astype("<u2").tofile(source)
            extra = ["-dims", f"{{{columns},{rows}}}", "-num_comps", "1", "-signed", "false",
                     "-bit_depth", str(bits_stored), "-downsamp", "{1,1}"]
        stream = os.path.join(work, name + ".j2c")
        run("ojph_compress", "-i", source, "-o", stream, *(["-reversible", "true"] if reversible else []),
            *extra, *options)
        with open(stream, "rb") as f:
            codestream = f.read()
        expected = pixels
        if not reversible:
            decoded = os.path.join(work, name + "_out" + os.path.splitext(source)[1])
            run("ojph_expand", "-i", stream, "-o", decoded)
            with open(decoded, "rb") as f:
                netpbm = np.frombuffer(f.read()[-pixels.nbytes:], dtype=pixels.dtype.newbyteorder(">"))
            expected = netpbm.astype(pixels.dtype).reshape(pixels.shape)
            check_close(name, expected, pixels, 1 << (bits_stored - 3))
        manifest.add(name, "htj2k", codestream, expected.reshape(rows, columns, samples), bits_stored,
                     False, "RGB" if samples == 3 else "MONOCHROME2", tolerance)


def main():
    folder = os.path.join(sys.argv[1], "j2k")
    os.makedirs(folder, exist_ok=True)
    manifest = Manifest(folder)
    with tempfile.TemporaryDirectory() as work:
        gdcm_cases(work, manifest)
        pydicom_cases(work, manifest)
        ojph_cases(work, manifest)
    manifest.write()


if __name__ == "__main__":
    main()
