#!/usr/bin/python3
"""Fixtures of the JPEG frame decoder (baseline, extended, progressive), written into OUTDIR/jpeg/.

Small images made with numpy are written by pydicom and compressed by DCMTK's dcmcjpeg (+eb
baseline, +ee extended, +ep progressive; 8 and 12 bits) and, for colour, by GDCM's gdcmconv -J.
pydicom's own lossy JPEG files join them. Each frame's codestream is cut out with pydicom's
encapsulation helpers; the expected pixels are dcmdjpeg's decoding of the same file, colour by
pixel, read back by pydicom. Every frame is one line of manifest.tsv: name, columns, rows, samples,
bytes per sample, bits stored, signed, photometric, codestream file, expected raw file (samples
interleaved, 16 bits little endian), the largest difference allowed per sample, and the source's
raw pixels before compression ("-" when there are none) to show the colours are the right ones.
"""

import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import encapsulate, generate_pixel_data_frame
from pydicom.uid import ExplicitVRLittleEndian, SecondaryCaptureImageStorage, generate_uid

PYDICOM_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")
COLUMNS = ["name", "columns", "rows", "samples", "bytes_per_sample", "bits_stored", "signed", "photometric",
           "codestream", "expected", "tolerance", "source"]

# libjpeg-turbo and DCMTK's IJG library share the integer DCT, upsampling and colour arithmetic;
# a difference of one is allowed for 8-bit streams. 12-bit streams go through DCMTK's own decoder.
TOLERANCE_8 = 1
TOLERANCE_12 = 0

# pydicom's lossy JPEG files that fit the decoder: 8-bit colour in YBR_FULL, YBR_FULL_422 and RGB
# (with and without a colour transform), and 12-bit grey.
PYDICOM_JPEG = [
    "JPEG-lossy.dcm",
    "JPGExtended.dcm",
    "SC_rgb_jpeg_dcmtk.dcm",
    "SC_rgb_small_odd_jpeg.dcm",
    "SC_rgb_dcmtk_+eb+cr.dcm",
    "SC_rgb_dcmtk_+eb+cy+n1.dcm",
    "SC_rgb_dcmtk_+eb+cy+n2.dcm",
    "SC_rgb_dcmtk_+eb+cy+np.dcm",
    "SC_rgb_dcmtk_+eb+cy+s2.dcm",
    "SC_rgb_dcmtk_+eb+cy+s4.dcm",
    "SC_rgb_jpeg.dcm",
    "SC_rgb_jpeg_app14_dcmd.dcm",
    "SC_jpeg_no_color_transform.dcm",
    "SC_jpeg_no_color_transform_2.dcm",
    "SC_rgb_jpeg_lossy_gdcm.dcm",
]
# pydicom's uncompressed copies of some of them, to check the colours against.
PYDICOM_SOURCES = {"SC_rgb_jpeg_lossy_gdcm.dcm": "SC_rgb_rle.dcm", "SC_rgb_jpeg.dcm": "SC_rgb_jpeg_dcmd.dcm"}


def picture(rows, columns, high, seed):
    """Smooth shapes and a little noise: lossy JPEG spreads its error over many coefficients."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:columns].astype(np.float64)
    wave = 0.5 + 0.25 * np.sin(x / 5.0 + seed) * np.cos(y / 7.0)
    disc = ((x - columns / 3) ** 2 + (y - rows / 2) ** 2 < (rows / 4) ** 2) * 0.2
    image = (wave + disc) * high * 0.8 + rng.normal(0, high / 200, size=(rows, columns))
    return np.clip(image, 0, high).astype(np.int64)


def colour_picture(rows, columns, seed):
    planes = [picture(rows, columns, 255, seed + k) for k in range(3)]
    image = np.stack(planes, axis=-1)
    image[: rows // 4, : columns // 2] = [200, 30, 60]  # a saturated patch shows a wrong colour space at once
    return image.astype(np.uint8)


def write_native(path, pixels, samples, bits_stored, photometric, frames):
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
    ds.Rows, ds.Columns = pixels.shape[-3:-1] if samples == 3 else pixels.shape[-2:]
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = photometric
    if samples > 1:
        ds.PlanarConfiguration = 0
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.BitsAllocated = pixels.dtype.itemsize * 8
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 0
    ds.PixelData = pixels.astype(pixels.dtype.newbyteorder("<")).tobytes()
    ds.save_as(path, write_like_original=False)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def frame_bytes(ds):
    return ds.Rows * ds.Columns * ds.SamplesPerPixel * (ds.BitsAllocated // 8)


def holds_ycbcr_despite_rgb(codestream):
    """Whether an RGB-labelled stream says it holds YCbCr (a JFIF marker, an Adobe marker with the
    YCbCr transform, or subsampled chroma): the decoder turns such streams into RGB."""
    at, jfif, adobe = 2, False, -1
    while at + 4 <= len(codestream):
        if codestream[at] != 0xFF:
            at += 1
            continue
        marker = codestream[at + 1]
        if marker == 0xFF:
            at += 1
            continue
        length = int.from_bytes(codestream[at + 2 : at + 4], "big")
        payload = codestream[at + 4 : at + 2 + length]
        if marker == 0xE0 and payload.startswith(b"JFIF\0"):
            jfif = True
        if marker == 0xEE and payload.startswith(b"Adobe") and len(payload) >= 12:
            adobe = payload[11]
        if marker in (0xC0, 0xC1, 0xC2, 0xC9, 0xCA):
            count = payload[5]
            factors = [payload[7 + 3 * c] for c in range(count)]
            subsampled = any((f >> 4) < (factors[0] >> 4) or (f & 15) < (factors[0] & 15) for f in factors[1:])
            return count == 3 and (jfif or adobe == 1 or subsampled)
        at += 2 + length
    return False


class Manifest:
    def __init__(self, folder, work):
        self.folder = folder
        self.work = work
        self.lines = ["\t".join(COLUMNS)]

    def add_file(self, name, path, source=None):
        """One line per frame of a compressed file, with dcmdjpeg's decoding as the expectation."""
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # pydicom's note on SC_rgb_jpeg.dcm's implicit VR
            ds = pydicom.dcmread(path)
        frames = int(ds.get("NumberOfFrames", 1) or 1)
        streams = list(generate_pixel_data_frame(ds.PixelData, frames))
        photometric = str(ds.PhotometricInterpretation)
        # dcmdjpeg turns YCbCr into RGB for a YBR photometric interpretation; +ca makes it do so
        # for the RGB-labelled streams that say they hold YCbCr, as the decoder does.
        colour = ["+ca"] if photometric == "RGB" and holds_ycbcr_despite_rgb(streams[0]) else []
        decoded_path = os.path.join(self.work, name + ".decoded.dcm")
        try:
            run("dcmdjpeg", "+px", *colour, path, decoded_path)
        except subprocess.CalledProcessError:
            # A file DCMTK cannot parse (pydicom's SC_rgb_jpeg.dcm is implicit VR under an explicit
            # transfer syntax): the same codestreams and image attributes in a clean file.
            path = self.rewrap(name, ds, streams)
            run("dcmdjpeg", "+px", *colour, path, decoded_path)
        decoded = pydicom.dcmread(decoded_path)
        size = frame_bytes(ds)
        precision = 12 if ds.BitsStored > 8 else 8
        for index, stream in enumerate(streams):
            frame_name = name if frames == 1 else f"{name}_f{index}"
            codestream = frame_name + ".jpg"
            expected = frame_name + ".raw"
            with open(os.path.join(self.folder, codestream), "wb") as f:
                f.write(stream)
            with open(os.path.join(self.folder, expected), "wb") as f:
                f.write(decoded.PixelData[index * size : (index + 1) * size])
            source_name = "-"
            if source is not None:
                source_name = frame_name + ".source.raw"
                with open(os.path.join(self.folder, source_name), "wb") as f:
                    f.write(source[index * size : (index + 1) * size])
            self.lines.append("\t".join(str(v) for v in [
                frame_name, ds.Columns, ds.Rows, ds.SamplesPerPixel, ds.BitsAllocated // 8, ds.BitsStored,
                int(ds.PixelRepresentation), photometric, codestream, expected,
                TOLERANCE_12 if precision == 12 else TOLERANCE_8, source_name]))

    def rewrap(self, name, ds, streams):
        clean = Dataset()
        clean.file_meta = FileMetaDataset()
        clean.file_meta.MediaStorageSOPClassUID = SecondaryCaptureImageStorage
        clean.file_meta.MediaStorageSOPInstanceUID = generate_uid()
        clean.file_meta.TransferSyntaxUID = ds.file_meta.TransferSyntaxUID
        clean.is_little_endian = True
        clean.is_implicit_VR = False
        clean.SOPClassUID = clean.file_meta.MediaStorageSOPClassUID
        clean.SOPInstanceUID = clean.file_meta.MediaStorageSOPInstanceUID
        for keyword in ["Rows", "Columns", "SamplesPerPixel", "PhotometricInterpretation", "BitsAllocated",
                        "BitsStored", "HighBit", "PixelRepresentation", "PlanarConfiguration", "NumberOfFrames"]:
            if keyword in ds:
                setattr(clean, keyword, ds.data_element(keyword).value)
        clean.PixelData = encapsulate(streams)
        clean["PixelData"].is_undefined_length = True
        clean["PixelData"].VR = "OB"
        path = os.path.join(self.work, name + ".clean.dcm")
        clean.save_as(path, write_like_original=False)
        return path

    def write(self):
        with open(os.path.join(self.folder, "manifest.tsv"), "w") as f:
            f.write("\n".join(self.lines) + "\n")


def main():
    folder = os.path.join(sys.argv[1], "jpeg")
    os.makedirs(folder, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        manifest = Manifest(folder, work)
        gray8 = picture(45, 67, 255, 1).astype(np.uint8)
        gray12 = picture(43, 61, 4095, 2).astype(np.uint16)
        frames8 = np.stack([picture(32, 40, 255, 10 + k) for k in range(3)]).astype(np.uint8)
        rgb8 = colour_picture(37, 53, 3)
        dcmcjpeg = lambda *options: ["dcmcjpeg", *options]
        # name, pixels, samples, bits stored, photometric, frames, encodings (name suffix, tool and options)
        sources = [
            ("gray8", gray8, 1, 8, "MONOCHROME2", 1,
             [("baseline", dcmcjpeg("+eb")), ("extended", dcmcjpeg("+ee")), ("progressive", dcmcjpeg("+ep"))]),
            ("gray12", gray12, 1, 12, "MONOCHROME2", 1,
             [("extended", dcmcjpeg("+ee")), ("progressive", dcmcjpeg("+ep"))]),
            ("frames8", frames8, 1, 8, "MONOCHROME2", 3, [("baseline", dcmcjpeg("+eb"))]),
            ("rgb8", rgb8, 3, 8, "RGB", 1,
             [("baseline422", dcmcjpeg("+eb")), ("baseline444", dcmcjpeg("+eb", "+s4")),
              ("baselinergb", dcmcjpeg("+eb", "+cr")), ("progressive", dcmcjpeg("+ep")),
              # GDCM labels its lossy colour "RGB" although the stream holds subsampled YCbCr.
              ("gdcm", ["gdcmconv", "-J", "--lossy", "-q", "90"])]),
        ]
        for name, pixels, samples, bits, photometric, frames, encodings in sources:
            native = os.path.join(work, name + ".dcm")
            write_native(native, pixels, samples, bits, photometric, frames)
            raw = pixels.astype(pixels.dtype.newbyteorder("<")).tobytes()
            for suffix, command in encodings:
                compressed = os.path.join(work, f"{name}_{suffix}.dcm")
                run(*command, native, compressed)
                # DCMTK's lossy coder may move grey pixels down to start at zero (and writes the
                # rescale intercept that undoes it): only colour keeps its source's values.
                manifest.add_file(f"{name}_{suffix}", compressed, raw if samples == 3 else None)
        for file_name in PYDICOM_JPEG:
            source = None
            if file_name in PYDICOM_SOURCES:
                source = pydicom.dcmread(os.path.join(PYDICOM_FILES, PYDICOM_SOURCES[file_name]))
                source = np.ascontiguousarray(source.pixel_array).astype("<u1").tobytes()
            manifest.add_file("pydicom_" + os.path.splitext(file_name)[0].replace("+", ""),
                              os.path.join(PYDICOM_FILES, file_name), source)
        manifest.write()


if __name__ == "__main__":
    main()
