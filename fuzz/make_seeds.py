"""Seed corpora for the fuzz targets: make_seeds.py OUT_DIR INDEX_XML SNAPSHOT_XML."""

import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import generate_pixel_data_frame
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

out, index_xml, snapshot_xml = sys.argv[1:4]
TEST_FILES = os.path.join(os.path.dirname(pydicom.__file__), "data", "test_files")


def folder(name):
    path = os.path.join(out, name)
    os.makedirs(path, exist_ok=True)
    return path


def put(target, name, data):
    with open(os.path.join(folder(target), name), "wb") as f:
        f.write(data)


def small_image(path, rows, columns, bits, samples=1, frames=1):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = "OT"
    ds.PatientName = "SEED^IMAGE"
    ds.Rows, ds.Columns = rows, columns
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = "RGB" if samples == 3 else "MONOCHROME2"
    if samples == 3:
        ds.PlanarConfiguration = 0
    ds.BitsAllocated = 8 if bits <= 8 else 16
    ds.BitsStored = bits
    ds.HighBit = bits - 1
    ds.PixelRepresentation = 0
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.SliceLocation = "12.5"
    ds.InstanceNumber = 1
    shape = (frames, rows, columns, samples)
    dtype = np.uint8 if bits <= 8 else np.uint16
    y, x = np.mgrid[0:rows, 0:columns]
    plane = (x * 7 + y * 13) % (1 << bits)
    pixels = np.broadcast_to(plane[None, :, :, None], shape).astype(dtype)
    ds.PixelData = pixels.squeeze().tobytes()
    ds.save_as(path, write_like_original=False)


def frames_of(path):
    ds = pydicom.dcmread(path)
    count = int(getattr(ds, "NumberOfFrames", 1) or 1)
    return ds, list(generate_pixel_data_frame(ds.PixelData, count))


# TDicomFile: pydicom's test files and the images made here, plain and compressed.
for path in sorted(glob.glob(os.path.join(TEST_FILES, "*.dcm"))):
    if os.path.getsize(path) <= 256 * 1024:
        shutil.copy(path, folder("dicom"))
for path in sorted(glob.glob(os.path.join(TEST_FILES, "dicomdirtests", "**", "*"), recursive=True)):
    if os.path.isfile(path) and os.path.getsize(path) <= 256 * 1024 and not path.endswith(".txt"):
        rel = os.path.relpath(path, TEST_FILES).replace(os.sep, "_")
        shutil.copy(path, os.path.join(folder("dicom"), rel))

shapes = [(8, 8, 8, 1, 1), (16, 12, 12, 1, 1), (10, 10, 16, 1, 2), (6, 9, 8, 3, 1), (20, 7, 16, 1, 1)]
with tempfile.TemporaryDirectory() as tmp:
    for n, (rows, columns, bits, samples, frames) in enumerate(shapes):
        plain = os.path.join(tmp, f"plain{n}.dcm")
        small_image(plain, rows, columns, bits, samples, frames)
        shutil.copy(plain, os.path.join(folder("dicom"), f"made{n}.dcm"))
        bpp = (1 if bits <= 8 else 2) * samples
        params = bytes([bpp - 1, columns - 1, rows - 1, frames - 1])
        for kind, tool, flags in (("lossless_jpeg", "dcmcjpeg", ["+e1"]), ("jpegls", "dcmcjpls", ["+el"])):
            packed = os.path.join(tmp, f"{kind}{n}.dcm")
            if subprocess.run([tool, *flags, plain, packed], capture_output=True).returncode != 0:
                continue
            shutil.copy(packed, os.path.join(folder("dicom"), f"made{n}_{kind}.dcm"))
            for f, frame in enumerate(frames_of(packed)[1]):
                put(kind, f"made{n}_{f}", params + frame)

# The frame decoders: a frame of each codec in each layout, behind the target's four bytes (codec,
# layout, columns - 1, rows - 1); the same files whole for the reader.
CODEC_TOOLS = [
    (0, "jpeg_baseline", ["dcmcjpeg", "+eb"], (8,)),
    (0, "jpeg_extended", ["dcmcjpeg", "+ee"], (8, 12)),
    (0, "jpeg_progressive", ["dcmcjpeg", "+ep"], (8,)),
    (1, "j2k", ["gdcmconv", "-K"], (8, 16)),
    (1, "j2k_lossy", ["gdcmconv", "-K", "-Y", "--irreversible"], (8, 16)),
    (2, "rle", ["dcmcrle"], (8, 16)),
    (None, "bigendian", ["dcmconv", "+tb"], (8, 16)),
    (None, "deflated", ["dcmconv", "+td"], (8, 16)),
    (None, "jpegls_near", ["dcmcjpls", "+en"], (8, 16)),
]
with tempfile.TemporaryDirectory() as tmp:
    for n, (rows, columns, bits, samples, frames) in enumerate([(8, 8, 8, 1, 1), (12, 10, 12, 1, 2),
                                                              (9, 6, 8, 3, 1), (7, 20, 16, 1, 1)]):
        plain = os.path.join(tmp, f"codec{n}.dcm")
        small_image(plain, rows, columns, bits, samples, frames)
        kind = (1 if samples == 3 else 0) | (2 if bits > 8 else 0) | (4 if bits == 12 else 0)
        for codec, name, command, widths in CODEC_TOOLS:
            if bits not in widths:
                continue
            packed = os.path.join(tmp, f"codec{n}_{name}.dcm")
            if subprocess.run([*command, plain, packed], capture_output=True).returncode != 0:
                continue
            shutil.copy(packed, os.path.join(folder("dicom"), f"made{n}_{name}.dcm"))
            if codec is None:
                continue
            for f, frame in enumerate(frames_of(packed)[1]):
                put("frame_codecs", f"{name}{n}_{f}", bytes([codec, kind, columns - 1, rows - 1]) + frame)
        for codec, name, encode in ((3, "jxl", "cjxl"),):
            if bits not in (8, 16):
                continue
            ds = pydicom.dcmread(plain)
            pixels = ds.pixel_array.reshape(frames, rows, columns, *([3] if samples == 3 else []))
            source = os.path.join(tmp, "frame.ppm" if samples == 3 else "frame.pgm")
            with open(source, "wb") as f:
                top = 255 if bits == 8 else 65535
                f.write(b"%s\n%d %d\n%d\n" % (b"P6" if samples == 3 else b"P5", columns, rows, top))
                f.write(pixels[0].astype(">u2" if bits > 8 else "u1").tobytes())
            coded = os.path.join(tmp, "frame.jxl")
            args = [encode, source, coded, "-d", "0"]
            if subprocess.run(args, capture_output=True).returncode == 0:
                with open(coded, "rb") as f:
                    put("frame_codecs", f"{name}{n}", bytes([codec, kind, columns - 1, rows - 1]) + f.read())

# Cuboid streams: ten header words, the count, the voxels.
for n, (w, h, d, size) in enumerate([(2, 2, 2, 1), (3, 2, 4, 2), (4, 3, 2, 4), (1, 1, 1, 2), (5, 4, 3, 1)]):
    count = w * h * d * size
    header = struct.pack("<10i", w, h, d, size, 1000, 1000, 2500, -5000, 0, 12000)
    put("cube_stream", f"cube{n}", header + struct.pack("<I", count) + bytes((i * 37) & 255 for i in range(count)))
put("cube_stream", "empty_cube", struct.pack("<10i", 0, 0, 0, 2, 0, 0, 0, 0, 0, 0) + struct.pack("<I", 0))

# Configuration document, a zero byte, the parameter snapshot.
table = "".join(f'<value R="{i}" G="{255 - i}" B="{(i * 3) & 255}"/>' for i in range(256))
config = f"""<?xml version="1.0" encoding="UTF-8"?>
<initialize>
  <preset id="start"><detail><zoom>2</zoom><gamma>1</gamma><colormapping><coloring id="rainbow"/></colormapping></detail></preset>
  <presets>
    <preset shortcut="F2" caption="Soft" hint="Soft tissue"><detail><gamma>2</gamma></detail></preset>
    <preset shortcut="Alt+F3" match="Modality=CT"><detail><alpha>40</alpha></detail></preset>
    <preset id="start"><detail><zoom>3</zoom></detail></preset>
  </presets>
  <scalings><scaling id="hu"><min>-1000</min><max>3000</max><low>24</low><high>4024</high></scaling></scalings>
  <levels>
    <level caption="Lung" hint="Lung window"><scaling id="hu"><units>HU</units></scaling><low>-1000</low><high>200</high></level>
    <level caption="Bone"><low>300</low><high>1500</high></level>
  </levels>
  <colorings><coloring caption="Grey"/><coloring id="rainbow" caption="Rainbow"><colortable id="rainbow"/></coloring></colorings>
  <colortables><colortable id="rainbow">{table}</colortable></colortables>
</initialize>
""".encode()
with open(snapshot_xml, "rb") as f:
    snapshot = f.read()
put("config", "document", config)
put("config", "document_snapshot", config + b"\0" + snapshot)
put("config", "snapshot", b"\0" + snapshot)
put("config", "small", b"<initialize><preset id=\"start\"><detail><zoom>5</zoom></detail></preset></initialize>\0"
    b"<configuration><preset><detail><zoom>4</zoom></detail></preset></configuration>")
os.remove(snapshot_xml)

# Index documents.
shutil.copy(index_xml, os.path.join(folder("index"), "sample_index.xml"))
put("index", "small", b'<studyindex><patient id="P" name="A^B"><study uid="1.2"><series uid="1.2.3" number="1">'
    b'<selected>1</selected><instance key="a/1.dcm"/><instance key="a/2.dcm"/></series>'
    b'<series uid="1.2.4"><selected>0</selected><instance key="b/1.dcm"/></series></study></patient></studyindex>')

# Slices: the parameter bytes the target reads first, then voxels.
for n in range(8):
    params = bytes([n * 5 % 24, n * 7 % 24, n * 3 % 24, n % 3, n % 6, (n + 2) % 6, (n + 4) % 6,
                    (n * 45) & 255, 0, n % 7, n % 2, 0x10, 0x00, 100, 0, 4, 0, 4, 0, 4, 0])
    put("render_slice", f"slice{n}", params + bytes((i * 29 + n) & 255 for i in range(512)))

# DICOMweb answers: the Content-Type line, then the body.
put("multipart", "one_part", b'multipart/related; type="application/dicom"; boundary=B1\n'
    b"--B1\r\nContent-Type: application/dicom\r\nContent-Length: 8\r\n\r\nDICMDICM\r\n--B1--\r\n")
put("multipart", "two_parts", b"multipart/related; boundary=\"x y\"\npreamble\r\n--x y\r\n\r\nabc\r\n"
    b"--x y\r\nContent-Type: application/dicom\r\n\r\n\r\n--x y--")
put("multipart", "search", b'[{"0020000D": {"vr": "UI", "Value": ["1.2"]}, '
    b'"00100010": {"vr": "PN", "Value": [{"Alphabetic": "A^B"}]}, "00201208": {"vr": "IS", "Value": [3]}}]')
