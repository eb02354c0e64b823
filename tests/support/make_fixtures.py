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
import tempfile

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


DEFLATED = "1.2.840.10008.1.2.1.99"
BIG_ENDIAN = "1.2.840.10008.1.2.2"
JPEG = {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.55", "1.2.840.10008.1.2.4.57",
        JPEG_LOSSLESS}
LOSSY_JPEG = {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.55"}
JPEG_LS_ALL = {JPEG_LS, "1.2.840.10008.1.2.4.81"}
JPEG_2000 = {"1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.4.92", "1.2.840.10008.1.2.4.93"}
HTJ2K = {"1.2.840.10008.1.2.4.201", "1.2.840.10008.1.2.4.202", "1.2.840.10008.1.2.4.203"}
JPEG_XL = {"1.2.840.10008.1.2.4.110", "1.2.840.10008.1.2.4.111", "1.2.840.10008.1.2.4.112"}
RLE = "1.2.840.10008.1.2.5"
NATIVE = {EXPLICIT, IMPLICIT, DEFLATED, BIG_ENDIAN}
KNOWN = NATIVE | JPEG | JPEG_LS_ALL | JPEG_2000 | HTJ2K | JPEG_XL | {RLE}


def interleaved(ds, pixels, keep_tail):
    """Colour by pixel, as the reader keeps it, and YBR_FULL as RGB."""
    if ds.get("SamplesPerPixel", 1) != 3:
        return pixels
    import numpy
    from pydicom.pixel_data_handlers.util import convert_color_space
    bits = ds.BitsAllocated
    dtype = numpy.dtype("u1") if bits == 8 else numpy.dtype("<u%d" % (bits // 8))
    frames = int(ds.get("NumberOfFrames", 1) or 1)
    planes = numpy.frombuffer(pixels, dtype=dtype)
    size = frames * ds.Rows * ds.Columns * 3
    if planes.size < size:
        return pixels
    if not keep_tail and ds.get("PlanarConfiguration", 0) != 1 and \
            str(ds.PhotometricInterpretation).strip() != "YBR_FULL":
        return pixels[:size * dtype.itemsize]
    planes = planes[:size]
    if ds.get("PlanarConfiguration", 0) == 1:
        arr = planes.reshape(frames, 3, ds.Rows, ds.Columns).transpose(0, 2, 3, 1)
    else:
        arr = planes.reshape(frames, ds.Rows, ds.Columns, 3)
    if str(ds.PhotometricInterpretation).strip() == "YBR_FULL" and bits == 8:
        arr = convert_color_space(arr, "YBR_FULL", "RGB", per_frame=True)
    # Bytes after the last pixel (an odd size's padding) stay as the reader keeps them: stored
    # pixels with it, decoded ones without.
    tail = bytes(pixels[size * dtype.itemsize:]) if keep_tail else b""
    return numpy.ascontiguousarray(arr).astype(dtype).tobytes() + tail


def pnm(path, pixels):
    """One frame as PGM or PPM (16-bit big endian when wider than 8 bits)."""
    height, width = pixels.shape[:2]
    colour = pixels.ndim == 3
    top = 255 if pixels.dtype == np.uint8 else 65535
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (b"P6" if colour else b"P5", width, height, top))
        f.write(pixels.astype(">u2").tobytes() if top > 255 else pixels.tobytes())


def wrap_frames(source, target, syntax, frames):
    """The source data set with its pixels replaced by encapsulated frames of another syntax."""
    from pydicom.encaps import encapsulate
    ds = pydicom.dcmread(source)
    ds.file_meta.TransferSyntaxUID = syntax
    ds.PixelData = encapsulate(frames)
    ds["PixelData"].is_undefined_length = True
    ds["PixelData"].VR = "OB"
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    # Written element by element: this pydicom's save_as refuses syntaxes newer than itself.
    from pydicom.filebase import DicomFileLike
    from pydicom.filewriter import write_dataset, write_file_meta_info
    with open(target, "wb") as f:
        f.write(b"\0" * 128 + b"DICM")
        fp = DicomFileLike(f)
        fp.is_little_endian, fp.is_implicit_VR = True, False
        write_file_meta_info(fp, ds.file_meta)
        write_dataset(fp, ds)


def encode_frames(source, pixels, work, encode):
    """Each frame of pixels (frames, rows, columns[, 3]) through an encoder of files."""
    frames = []
    for f, frame in enumerate(pixels):
        raw = os.path.join(work, "frame%d.%s" % (f, "ppm" if frame.ndim == 3 else "pgm"))
        pnm(raw, frame)
        coded = os.path.join(work, "frame%d.out" % f)
        encode(raw, coded, frame)
        with open(coded, "rb") as c:
            frames.append(c.read())
    return frames


def make_variants(out):
    """The compressed fixtures' sources in every syntax the reader reads, each by a real encoder,
    listed in variants.tsv with the source and the largest difference a sample may show."""
    cases = [
        # name, width, height, frames, bits stored, samples, signed
        ("v_gray8", 67, 45, 1, 8, 1),
        ("v_gray12", 64, 48, 1, 12, 1),
        ("v_gray16", 61, 40, 1, 16, 1),
        ("v_rgb8", 33, 29, 1, 8, 3),
        ("v_gray16x3", 32, 24, 3, 16, 1),
        ("v_rgb8x2", 20, 18, 2, 8, 3),
    ]
    folder = os.path.join(out, "variants")
    os.makedirs(folder, exist_ok=True)
    lines = []
    for name, w, h, frames, bits, samples in cases:
        pixels = image(name, w, h, frames, bits, samples)
        source = os.path.join(folder, name + ".dcm")
        write_source(source, pixels, bits, samples)

        def made(label, tolerance, *command):
            target = os.path.join(folder, "%s_%s.dcm" % (name, label))
            run(*command, source, target)
            lines.append("\t".join([os.path.basename(target), os.path.basename(source), str(tolerance)]))

        made("bigendian", 0, "dcmconv", "+tb")
        made("deflated", 0, "dcmconv", "+td")
        made("rle", 0, "dcmcrle")
        made("jpeg_sv1", 0, "dcmcjpeg", "+e1")
        made("jpeg_lossless", 0, "dcmcjpeg", "+el")
        made("jpegls_near", 2, "dcmcjpls", "+en")
        made("j2k", 0, "gdcmconv", "-K")
        # Tolerances a little above what the encoders lose on these images: a decoder's fault
        # (byte order, colour, a wrong plane) costs far more.
        made("j2k_lossy", 16 if bits <= 8 else 64, "gdcmconv", "-K", "-Y", "--irreversible")
        if bits == 8:
            # Sharp colour edges lose most to the halved chroma.
            made("jpeg_baseline", 160 if samples == 3 else 24, "dcmcjpeg", "+eb")
        if bits == 12:
            made("jpeg_extended", 16, "dcmcjpeg", "+ee")
        with tempfile.TemporaryDirectory() as work:
            def ojph(raw, coded, frame):
                run("ojph_compress", "-i", raw, "-o", coded + ".j2c", "-reversible", "true")
                os.rename(coded + ".j2c", coded)
            target = os.path.join(folder, name + "_htj2k.dcm")
            if bits in (8, 16):
                wrap_frames(source, target, "1.2.840.10008.1.2.4.201", encode_frames(source, pixels, work, ojph))
                lines.append("\t".join([os.path.basename(target), os.path.basename(source), "0"]))

            def jxl(raw, coded, frame):
                run("cjxl", raw, coded + ".jxl", "-d", "0")
                os.rename(coded + ".jxl", coded)
            target = os.path.join(folder, name + "_jxl.dcm")
            if bits in (8, 16):
                wrap_frames(source, target, "1.2.840.10008.1.2.4.110", encode_frames(source, pixels, work, jxl))
                lines.append("\t".join([os.path.basename(target), os.path.basename(source), "0"]))
    with open(os.path.join(folder, "variants.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def make_ct_series(out):
    """A CT series of 20 slices, plain, and converted file by file to JPEG 2000 (GDCM) and to RLE
    (DCMTK): ct_plain/, ct_j2k/, ct_rle/."""
    rng = np.random.default_rng(7)
    y, x = np.mgrid[0:96, 0:80]
    series = generate_uid(entropy_srcs=["ct series"])
    folders = {kind: os.path.join(out, "ct_" + kind) for kind in ("plain", "j2k", "rle")}
    for folder in folders.values():
        os.makedirs(folder, exist_ok=True)
    for z in range(20):
        body = ((x - 40) ** 2 / 35 ** 2 + (y - 48) ** 2 / 42 ** 2) < 1
        values = np.where(body, 1024 + 40 + 30 * np.sin(x / 5 + z / 3), 24) + rng.integers(0, 20, size=body.shape)
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.2"
        meta.MediaStorageSOPInstanceUID = generate_uid(entropy_srcs=["ct", str(z)])
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        ds = Dataset()
        ds.file_meta = meta
        ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
        ds.PatientName, ds.PatientID, ds.Modality = "Series^Compressed", "CMP-1", "CT"
        ds.StudyInstanceUID = generate_uid(entropy_srcs=["ct study"])
        ds.SeriesInstanceUID = series
        ds.SeriesNumber, ds.InstanceNumber = 3, z + 1
        ds.ImagePositionPatient = [-40, -48, 2.5 * z]
        ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
        ds.SliceLocation = 2.5 * z
        ds.PixelSpacing = [0.8, 0.8]
        ds.SliceThickness = 2.5
        ds.Rows, ds.Columns = body.shape
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 0
        ds.RescaleIntercept, ds.RescaleSlope = -1024, 1
        ds.PixelData = values.astype(np.uint16).tobytes()
        ds.is_little_endian, ds.is_implicit_VR = True, False
        name = "slice%02d.dcm" % z
        plain = os.path.join(folders["plain"], name)
        ds.save_as(plain, write_like_original=False)
        run("gdcmconv", "-K", plain, os.path.join(folders["j2k"], name))
        run("dcmcrle", plain, os.path.join(folders["rle"], name))


def reference_pixels(path, syntax, scratch):
    """The pixel bytes a reference decoder gives, or None when the file has none or no reference
    decoder reads it; and the largest difference a sample may show (lossy and colour conversions)."""
    # Big endian and deflated data sets are read by pydicom itself: DCMTK turns 32-bit big endian
    # samples around as 16-bit words.
    tools = {RLE: ["dcmdrle"]}
    tools.update({s: ["dcmdjpeg"] for s in JPEG})
    tools.update({s: ["dcmdjpls"] for s in JPEG_LS_ALL})
    tools.update({s: ["gdcmconv", "--raw"] for s in JPEG_2000})
    if syntax not in NATIVE or syntax in tools:
        if syntax not in tools:
            return None, 0
        try:
            run(*tools[syntax], path, scratch)
        except subprocess.CalledProcessError:
            return None, 0
        path = scratch
    ds = pydicom.dcmread(path, force=True)
    pixels = ds.get("PixelData")
    if pixels is None:
        return None, 0
    if syntax == BIG_ENDIAN and ds.BitsAllocated > 8:
        step = ds.BitsAllocated // 8
        pixels = b"".join(pixels[i:i + step][::-1] for i in range(0, len(pixels) - step + 1, step)) \
            + pixels[len(pixels) // step * step:]
    if str(ds.get("PhotometricInterpretation", "")).strip() == "YBR_FULL_422" and ds.BitsAllocated == 8 \
            and syntax in NATIVE:
        # Two luma samples to a pair of chroma samples: pydicom spreads them, then turns them to RGB.
        from pydicom.pixel_data_handlers.util import convert_color_space
        arr = convert_color_space(ds.pixel_array, "YBR_FULL", "RGB")
        return arr.astype("uint8").tobytes(), 1
    tolerance = 0
    if syntax in LOSSY_JPEG or syntax == "1.2.840.10008.1.2.4.91":
        tolerance = 2
    if ds.get("SamplesPerPixel", 1) == 3 and str(ds.get("PhotometricInterpretation", "")).startswith("YBR"):
        tolerance = max(tolerance, 1)
    return interleaved(ds, pixels, syntax in NATIVE), tolerance


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
    if syntax not in KNOWN:
        return "error", "Unsuported transfer syntax " + syntax, None
    bits = ds.get("BitsAllocated", 0)
    stored = ds.get("BitsStored", 0)
    high = ds.get("HighBit", -1)
    if bits is None or stored is None or high is None:
        return "unreadable", "", None
    if bits % 8 != 0 or stored != high + 1:
        return "error", "Illegal pixel size 1", None
    samples = ds.get("SamplesPerPixel", 1) or 1
    if max(bits // 8, samples) not in (1, 2, 3, 4):
        return "error", "Invalid pixel size", None
    # Decoded frames hold samples × bytes a pixel, which must be the image's pixel size.
    if syntax not in NATIVE | JPEG | JPEG_LS_ALL and (samples * (bits // 8) != max(bits // 8, samples)
                                                      or bits // 8 > (4 if syntax == RLE else 2)):
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
            outcome, detail, reference = describe(path, scratch)
            pixels, tolerance = reference if outcome == "ok" else (None, 0)
            raw = ""
            if pixels is not None:
                raw = rel.replace("/", "__") + ".raw"
                with open(os.path.join(folder, raw), "wb") as f:
                    f.write(pixels)
            lines.append("\t".join([rel, outcome, detail, raw, str(tolerance)]))
    with open(os.path.join(folder, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    make_compressed(out)
    make_variants(out)
    make_ct_series(out)
    make_references(out)
    subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "make_reader_fixtures.py"), out], check=True)
    # The codecs' fixtures: one script per family of transfer syntaxes, each writing into codecs/.
    here = os.path.dirname(os.path.abspath(__file__))
    for script in sorted(f for f in os.listdir(here) if f.startswith("codec_fixtures_") and f.endswith(".py")):
        subprocess.run([sys.executable, os.path.join(here, script), os.path.join(out, "codecs")], check=True)


if __name__ == "__main__":
    main()
