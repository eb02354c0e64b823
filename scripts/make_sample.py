"""Writes the sample study into sample/ at the repository root, from scratch and deterministically.

One patient, one study: a head phantom as CT (thin slices), PET (co-registered, coarser), two
thick-slice CT copies stored as JPEG lossless and JPEG-LS, a multi-frame slab file and an RGB
fusion screenshot; plus a protected copy of two series with the index document that lists them.
Run with Debian's python3 (pydicom, numpy) and DCMTK's dcmcjpeg/dcmcjpls on PATH.
"""

import argparse
import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid
from xml.sax.saxutils import quoteattr, escape

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

KEY = "tarvicon"
SEED = 20240312
UID_NAMESPACE = uuid.UUID("6f1d0c6e-3b2a-5e8e-9d41-7a61766963f0")

PATIENT = dict(name="PHANTOM^HEAD", id="TVC-0001", birth="19710405", sex="F", age="052Y")
STUDY_DATE, STUDY_TIME = "20240312", "093015"

CT_UID = "1.2.840.10008.5.1.4.1.1.2"
PET_UID = "1.2.840.10008.5.1.4.1.1.128"
SC_UID = "1.2.840.10008.5.1.4.1.1.7"
SC_MULTIFRAME_WORD_UID = "1.2.840.10008.5.1.4.1.1.7.3"

# CT grid: 256 x 256 x 160 voxels of 0.9 x 0.9 x 1.25 mm, centred on the origin (LPS, mm).
CT_N, CT_SLICES, CT_PIXEL, CT_STEP = 256, 160, 0.9, 1.25


def uid(*parts):
    """A fixed UID under the UUID-derived root, one per name."""
    return "2.25." + str(uuid.uuid5(UID_NAMESPACE, "/".join(str(p) for p in parts)).int)


# ---------------------------------------------------------------------------------------------
# Protected files: MD5 and the keyed chain.

def chain_scramble(data: bytes, key: bytes) -> bytes:
    """C[j] = D[j] ^ K[j-(n-m)] for the last m bytes, C[j] = D[j] ^ C[j+m] before them."""
    n, m = len(data), len(key)
    if m == 0 or n == 0:
        return bytes(data)
    pad = (-n) % m
    rows = np.frombuffer(bytes(pad) + bytes(data), dtype=np.uint8).reshape(-1, m)
    # Each byte ends up as the xor of itself, every data byte m, 2m, ... places after it and the
    # key byte that its column meets in the last row.
    chained = np.bitwise_xor.accumulate(rows[::-1], axis=0)[::-1]
    chained ^= np.frombuffer(key, dtype=np.uint8)
    return chained.reshape(-1)[pad:].tobytes()


def chain_unscramble(data: bytes, key: bytes) -> bytes:
    """D[j] = C[j] ^ C[j+m] before the last m bytes, D[j] = C[j] ^ K[j-(n-m)] in them."""
    n, m = len(data), len(key)
    if m == 0 or n == 0:
        return bytes(data)
    c = np.frombuffer(data, dtype=np.uint8)
    out = np.empty_like(c)
    if n > m:
        out[: n - m] = c[: n - m] ^ c[m:]
    tail = min(n, m)
    out[n - tail:] = c[n - tail:] ^ np.frombuffer(key, dtype=np.uint8)[m - tail:]
    return out.tobytes()


def _chain_scramble_walk(data: bytes, key: bytes) -> bytes:
    """The chain byte by byte from the end, to check the vectorised form against."""
    n, m = len(data), len(key)
    if m == 0:
        return bytes(data)
    c = bytearray(n)
    for j in range(n - 1, -1, -1):
        c[j] = data[j] ^ (key[j - (n - m)] if j >= n - m else c[j + m])
    return bytes(c)


def digest_key(key: str) -> bytes:
    return hashlib.md5(key.encode("latin-1")).digest()


def hashed_name(reference: str, key: str) -> str:
    return hashlib.md5(chain_scramble(reference.encode("latin-1"), key.encode("latin-1"))).hexdigest()


def protected_file_name(reference: str, key: str) -> str:
    return "zorvix." + hashed_name(reference, key) + ".zorvix"


def check_chain():
    rng = np.random.default_rng(7)
    for n in (0, 1, 5, 15, 16, 17, 31, 32, 33, 100):
        for key in (b"k", b"tarvicon", digest_key(KEY), bytes(range(40))):
            data = rng.integers(0, 256, n, dtype=np.uint8).tobytes()
            scrambled = chain_scramble(data, key)
            assert scrambled == _chain_scramble_walk(data, key), (n, key)
            assert chain_unscramble(scrambled, key) == data, (n, key)
    assert chain_scramble(b"abc", b"") == b"abc" and chain_unscramble(b"abc", b"") == b"abc"
    assert hashlib.md5(b"").hexdigest() == "d41d8cd98f00b204e9800998ecf8427e"


# ---------------------------------------------------------------------------------------------
# The head phantom, as tissue labels on the CT grid.

AIR, SKIN, BONE, GREY, WHITE, CSF, EYE, LENS, SINUS, LESION, CALC, REST, NECK, SPINE = range(14)

HU = {AIR: -1000, SKIN: 20, BONE: 1350, GREY: 42, WHITE: 28, CSF: 6, EYE: 12, LENS: 85,
      SINUS: -880, LESION: 68, CALC: 420, REST: 120, NECK: 50, SPINE: 750}
UPTAKE = {AIR: 0, SKIN: 900, BONE: 700, GREY: 11000, WHITE: 3800, CSF: 400, EYE: 1600, LENS: 1200,
          SINUS: 0, LESION: 26000, CALC: 3000, REST: 0, NECK: 1400, SPINE: 1800}


def ct_axes():
    x = (np.arange(CT_N) - (CT_N - 1) / 2) * CT_PIXEL
    z = (np.arange(CT_SLICES) - (CT_SLICES - 1) / 2) * CT_STEP
    return x, x.copy(), z


def ellipsoid(X, Y, Z, centre, axes):
    cx, cy, cz = centre
    ax, ay, az = axes
    return ((X - cx) / ax) ** 2 + ((Y - cy) / ay) ** 2 + ((Z - cz) / az) ** 2 <= 1.0


def head_labels():
    x, y, z = ct_axes()
    Z, Y, X = np.meshgrid(z.astype(np.float32), y.astype(np.float32), x.astype(np.float32),
                          indexing="ij")
    labels = np.full(Z.shape, AIR, dtype=np.uint8)

    def paint(mask, label):
        labels[mask] = label

    # Neck below the skull base, with a vertebral body behind the airway.
    neck = (((X / 48) ** 2 + ((Y - 12) / 52) ** 2) <= 1) & (Z < -55)
    paint(neck, NECK)
    paint(neck & (((X / 13) ** 2 + ((Y - 30) / 11) ** 2) <= 1), SPINE)
    paint(neck & (((X / 7) ** 2 + ((Y + 12) / 8) ** 2) <= 1), SINUS)
    paint(ellipsoid(X, Y, Z, (0, 0, 8), (76, 96, 92)), SKIN)
    paint(ellipsoid(X, Y, Z, (0, 2, 10), (70, 90, 86)), BONE)
    paint(ellipsoid(X, Y, Z, (0, 2, 12), (64, 84, 79)), GREY)
    paint(ellipsoid(X, Y, Z, (0, 6, 18), (52, 70, 58)), WHITE)
    # Deep grey nuclei, bright on PET.
    for side in (-1, 1):
        paint(ellipsoid(X, Y, Z, (side * 19, 4, 14), (7, 13, 8)), GREY)
    # Ventricles, a pair of tilted horns and a third ventricle between them.
    for side in (-1, 1):
        paint(ellipsoid(X - 0.25 * Y, Y, Z, (side * 9, 2, 24), (5, 20, 9)), CSF)
    paint(ellipsoid(X, Y, Z, (0, 10, 8), (2.5, 12, 8)), CSF)
    # Skull base: a bony floor under the brain, the eyes and a sinus in front.
    paint(ellipsoid(X, Y, Z, (0, 0, -50), (56, 72, 7)) & ellipsoid(X, Y, Z, (0, 2, 10), (70, 90, 86)),
          BONE)
    for side in (-1, 1):
        paint(ellipsoid(X, Y, Z, (side * 31, -74, -20), (13, 13, 13)), EYE)
        paint(ellipsoid(X, Y, Z, (side * 31, -86, -20), (5, 2.5, 5)), LENS)
    paint(ellipsoid(X, Y, Z, (0, -70, -40), (12, 16, 20)), SINUS)
    # A hyperdense lesion with a calcification, hot on PET.
    paint(ellipsoid(X, Y, Z, (26, 28, 40), (7, 7, 7)), LESION)
    paint(ellipsoid(X, Y, Z, (28, 30, 42), (2, 2, 2)), CALC)
    # Head rest behind the skull.
    rest = (Y > 100) & (Y < 106) & (np.abs(X) < 95) & (labels == AIR)
    paint(rest, REST)
    return labels


def ct_volume(labels, rng):
    lut = np.zeros(256, dtype=np.float32)
    for label, value in HU.items():
        lut[label] = value
    hu = lut[labels]
    hu += rng.normal(0, 6, hu.shape).astype(np.float32)
    return np.clip(np.rint(hu + 1024), 0, 4095).astype(np.uint16)


def pool(volume, fz, fy, fx):
    d, h, w = volume.shape
    v = volume.astype(np.float32).reshape(d // fz, fz, h // fy, fy, w // fx, fx)
    return v.mean(axis=(1, 3, 5))


def smooth(volume, passes=2):
    kernel = np.array([1, 4, 6, 4, 1], dtype=np.float32) / 16
    out = volume.astype(np.float32)
    for _ in range(passes):
        for axis in range(3):
            out = _convolve_axis(out, kernel, axis)
    return out


def _convolve_axis(volume, kernel, axis):
    r = len(kernel) // 2
    padded = np.pad(volume, [(r, r) if a == axis else (0, 0) for a in range(3)], mode="edge")
    out = np.zeros_like(volume)
    n = volume.shape[axis]
    for i, weight in enumerate(kernel):
        out += weight * np.take(padded, range(i, i + n), axis=axis)
    return out


def pet_volume(labels, rng):
    lut = np.zeros(256, dtype=np.float32)
    for label, value in UPTAKE.items():
        lut[label] = value
    activity = smooth(pool(lut[labels], 2, 2, 2))
    activity = rng.poisson(np.maximum(activity, 0) / 8.0).astype(np.float32) * 8.0
    return np.clip(np.rint(smooth(activity, passes=1)), 0, 65535).astype(np.uint16)


# ---------------------------------------------------------------------------------------------
# Writing DICOM files.

def base_dataset(sop_class, series_key, instance, modality, series_number, description):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = uid("instance", series_key, instance)
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    meta.ImplementationClassUID = uid("implementation")
    meta.ImplementationVersionName = "TARVICON_SMPL"
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.SpecificCharacterSet = "ISO_IR 100"
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.StudyDate = ds.SeriesDate = ds.AcquisitionDate = ds.ContentDate = STUDY_DATE
    series_time = "%06d" % (int(STUDY_TIME) + 100 * series_number)
    ds.StudyTime = STUDY_TIME
    ds.SeriesTime = ds.AcquisitionTime = ds.ContentTime = series_time
    ds.AccessionNumber = "TVC24031201"
    ds.Modality = modality
    ds.Manufacturer = "Tarvicon sample"
    ds.InstitutionName = "Phantom Laboratory"
    ds.ReferringPhysicianName = "REFERRER^SAMPLE"
    ds.StudyDescription = "Head phantom CT/PET"
    ds.SeriesDescription = description
    ds.PatientName = PATIENT["name"]
    ds.PatientID = PATIENT["id"]
    ds.PatientBirthDate = PATIENT["birth"]
    ds.PatientSex = PATIENT["sex"]
    ds.PatientAge = PATIENT["age"]
    ds.PatientWeight = "64"
    ds.StudyInstanceUID = uid("study")
    ds.SeriesInstanceUID = uid("series", series_key)
    ds.FrameOfReferenceUID = uid("frame-of-reference")
    ds.StudyID = "1"
    ds.SeriesNumber = series_number
    ds.AcquisitionNumber = 1
    ds.InstanceNumber = instance
    ds.PatientPosition = "HFS"
    return ds


def set_grey_pixels(ds, pixels, bits_stored, frames=None):
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.Rows, ds.Columns = pixels.shape[-2], pixels.shape[-1]
    ds.BitsAllocated = 16
    ds.BitsStored = bits_stored
    ds.HighBit = bits_stored - 1
    ds.PixelRepresentation = 0
    if frames is not None:
        ds.NumberOfFrames = frames
    ds.PixelData = np.ascontiguousarray(pixels, dtype="<u2").tobytes()


def set_geometry(ds, x0, y0, z, pixel, thickness, step):
    ds.ImagePositionPatient = [f"{x0:.3f}", f"{y0:.3f}", f"{z:.3f}"]
    ds.ImageOrientationPatient = ["1", "0", "0", "0", "1", "0"]
    ds.SliceLocation = f"{z:.3f}"
    ds.PixelSpacing = [f"{pixel:g}", f"{pixel:g}"]
    ds.SliceThickness = f"{thickness:g}"
    ds.SpacingBetweenSlices = f"{step:g}"


def write(ds, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds.save_as(path, write_like_original=False)


def write_ct_series(folder, volume, series_key, number, description, pixel, step, prefix):
    slices, n = volume.shape[0], volume.shape[1]
    x0 = -(n - 1) / 2 * pixel
    paths = []
    for k in range(slices):
        ds = base_dataset(CT_UID, series_key, k + 1, "CT", number, description)
        ds.ImageType = ["ORIGINAL", "PRIMARY", "AXIAL"]
        ds.KVP = "120"
        ds.XRayTubeCurrent = 180
        ds.ConvolutionKernel = "H30s"
        ds.BodyPartExamined = "HEAD"
        ds.ProtocolName = "Head routine"
        z = (k - (slices - 1) / 2) * step
        set_geometry(ds, x0, x0, z, pixel, step, step)
        ds.WindowCenter, ds.WindowWidth = ["40", "400"], ["80", "2000"]
        ds.WindowCenterWidthExplanation = ["BRAIN", "BONE"]
        ds.RescaleIntercept, ds.RescaleSlope, ds.RescaleType = "-1024", "1", "HU"
        set_grey_pixels(ds, volume[k], 12)
        path = os.path.join(folder, "%s%04d.dcm" % (prefix, k + 1))
        write(ds, path)
        paths.append(path)
    return paths


def write_pet_series(folder, volume, number):
    slices, n = volume.shape[0], volume.shape[1]
    pixel, step = CT_PIXEL * CT_N / n, CT_STEP * CT_SLICES / slices
    x0 = -(n - 1) / 2 * pixel
    paths = []
    for k in range(slices):
        ds = base_dataset(PET_UID, "pet", k + 1, "PT", number, "Brain FDG AC")
        ds.ImageType = ["ORIGINAL", "PRIMARY"]
        ds.SeriesType = ["STATIC", "IMAGE"]
        ds.Units = "BQML"
        ds.CountsSource = "EMISSION"
        ds.CorrectedImage = ["ATTN", "DECY", "SCAT"]
        ds.DecayCorrection = "START"
        ds.Radionuclide = "F-18"
        ds.ImageIndex = k + 1
        ds.NumberOfSlices = slices
        z = (k - (slices - 1) / 2) * step
        set_geometry(ds, x0, x0, z, pixel, step, step)
        ds.WindowCenter, ds.WindowWidth = "9000", "18000"
        ds.RescaleIntercept, ds.RescaleSlope = "0", "1"
        set_grey_pixels(ds, volume[k], 16)
        path = os.path.join(folder, "PT%04d.dcm" % (k + 1))
        write(ds, path)
        paths.append(path)
    return paths


def write_multiframe(path, slabs, thickness):
    frames, n = slabs.shape[0], slabs.shape[1]
    ds = base_dataset(SC_MULTIFRAME_WORD_UID, "slabs", 1, "CT", 6, "Head slabs 20 mm multi-frame")
    ds.ImageType = ["DERIVED", "SECONDARY", "AXIAL"]
    ds.ConversionType = "WSD"
    x0 = -(n - 1) / 2 * CT_PIXEL
    z0 = (0 - (frames - 1) / 2) * thickness
    set_geometry(ds, x0, x0, z0, CT_PIXEL, thickness, thickness)
    ds.FrameIncrementPointer = pydicom.tag.Tag("SliceLocation")
    ds.WindowCenter, ds.WindowWidth = "1064", "80"
    ds.RescaleIntercept, ds.RescaleSlope = "0", "1"
    set_grey_pixels(ds, slabs, 12, frames=frames)
    write(ds, path)


def write_rgb(path, rgb):
    ds = base_dataset(SC_UID, "fusion", 1, "OT", 7, "Fusion screenshot")
    ds.ImageType = ["DERIVED", "SECONDARY"]
    ds.ConversionType = "WSD"
    ds.SamplesPerPixel = 3
    ds.PhotometricInterpretation = "RGB"
    ds.PlanarConfiguration = 0
    ds.Rows, ds.Columns = rgb.shape[0], rgb.shape[1]
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 8, 8, 7, 0
    ds.PixelSpacing = [f"{CT_PIXEL:g}", f"{CT_PIXEL:g}"]
    ds.PixelData = np.ascontiguousarray(rgb, dtype=np.uint8).tobytes()
    write(ds, path)


def fusion_picture(ct, pet, slice_index):
    grey = (ct[slice_index].astype(np.float32) - 1024) / 80.0  # brain window: 0 to 80 HU
    grey = np.clip(grey, 0, 1)
    activity = pet[slice_index // 2].astype(np.float32).repeat(2, 0).repeat(2, 1)
    a = np.clip(activity / 20000.0, 0, 1)
    hot = np.stack([np.clip(3 * a, 0, 1), np.clip(3 * a - 1, 0, 1), np.clip(3 * a - 2, 0, 1)], -1)
    alpha = np.clip(a * 1.5, 0, 0.6)[..., None]
    rgb = grey[..., None] * (1 - alpha) + hot * alpha
    return np.rint(rgb * 255).astype(np.uint8)


def compress(sources, target_folder, tool, args):
    os.makedirs(target_folder, exist_ok=True)

    def one(source):
        target = os.path.join(target_folder, os.path.basename(source))
        subprocess.run([tool, *args, source, target], check=True)
        return target

    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool_:
        return list(pool_.map(one, sources))


# ---------------------------------------------------------------------------------------------

def index_document(series_list):
    """series_list: (description, modality, number, series uid, selected, references)."""
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<studyindex>",
             "  <patient id=%s name=%s>" % (quoteattr(PATIENT["id"]), quoteattr(PATIENT["name"])),
             "    <study uid=%s date=%s>" % (quoteattr(uid("study")), quoteattr(STUDY_DATE))]
    for description, modality, number, series_uid, selected, references in series_list:
        lines.append("      <series uid=%s number=\"%d\" modality=%s>"
                     % (quoteattr(series_uid), number, quoteattr(modality)))
        lines.append("        <description>%s</description>" % escape(description))
        lines.append("        <selected>%d</selected>" % (1 if selected else 0))
        for reference in references:
            lines.append("        <instance key=%s/>" % quoteattr(reference))
        lines.append("      </series>")
    lines += ["    </study>", "  </patient>", "</studyindex>", ""]
    return "\n".join(lines)


def protect(dicom_root, protected_folder, references, key):
    chain_key = digest_key(key)
    os.makedirs(protected_folder, exist_ok=True)
    for reference in references:
        with open(os.path.join(dicom_root, reference), "rb") as f:
            plain = f.read()
        scrambled = chain_scramble(plain, chain_key)
        assert chain_unscramble(scrambled, chain_key) == plain
        with open(os.path.join(protected_folder, protected_file_name(reference, key)), "wb") as f:
            f.write(scrambled)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?",
                        default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample"))
    options = parser.parse_args()
    out = os.path.abspath(options.output)
    started = time.monotonic()
    check_chain()

    if os.path.isdir(out):
        shutil.rmtree(out)
    dicom = os.path.join(out, "dicom")
    documents = os.path.join(out, "documents")
    protected = os.path.join(documents, "Melvor2", "DICOM", "tmp")

    rng = np.random.default_rng(SEED)
    labels = head_labels()
    ct = ct_volume(labels, rng)
    pet = pet_volume(labels, rng)
    thick = np.rint(pool(ct, 4, 2, 2)).astype(np.uint16)          # 40 x 128 x 128, 5 mm
    slabs = np.rint(pool(ct, 16, 1, 1)).astype(np.uint16)         # 10 x 256 x 256, 20 mm

    written = []
    ct_paths = write_ct_series(os.path.join(dicom, "ct"), ct, "ct", 2, "Head 1.25 mm",
                               CT_PIXEL, CT_STEP, "CT")
    written.append(("ct", "Head 1.25 mm (CT)", ct.shape, "explicit little endian", len(ct_paths)))
    pet_paths = write_pet_series(os.path.join(dicom, "pet"), pet, 3)
    written.append(("pet", "Brain FDG AC (PT)", pet.shape, "explicit little endian", len(pet_paths)))

    with tempfile.TemporaryDirectory(prefix="tarvicon-sample-") as temp:
        plain = write_ct_series(os.path.join(temp, "jpeg"), thick, "ct-jpeg", 4,
                                "Head 5 mm JPEG lossless", CT_PIXEL * 2, CT_STEP * 4, "CJ")
        paths = compress(plain, os.path.join(dicom, "ct-jpeg"), "dcmcjpeg", [])
        written.append(("ct-jpeg", "Head 5 mm JPEG lossless (CT)", thick.shape,
                        "JPEG lossless SV1 (1.2.840.10008.1.2.4.70)", len(paths)))
        plain = write_ct_series(os.path.join(temp, "jpegls"), thick, "ct-jpegls", 5,
                                "Head 5 mm JPEG-LS", CT_PIXEL * 2, CT_STEP * 4, "CL")
        paths = compress(plain, os.path.join(dicom, "ct-jpegls"), "dcmcjpls", ["+el"])
        written.append(("ct-jpegls", "Head 5 mm JPEG-LS (CT)", thick.shape,
                        "JPEG-LS lossless (1.2.840.10008.1.2.4.80)", len(paths)))

    write_multiframe(os.path.join(dicom, "multiframe", "MF0001.dcm"), slabs, CT_STEP * 16)
    written.append(("multiframe", "Head slabs 20 mm multi-frame (CT)", slabs.shape,
                    "explicit little endian, NumberOfFrames 10", 1))
    rgb = fusion_picture(ct, pet, 2 * 49 + 1)
    write_rgb(os.path.join(dicom, "rgb", "SC0001.dcm"), rgb)
    written.append(("rgb", "Fusion screenshot (OT)", (1,) + rgb.shape[:2],
                    "explicit little endian, RGB interleaved", 1))

    # Protected copies, named by reference relative to dicom/, so that the same index document
    # also loads the plain files with the prefix "<sample>/dicom/".
    def references(folder):
        return sorted(os.path.join(folder, name) for name in os.listdir(os.path.join(dicom, folder)))

    pet_refs, jpeg_refs = references("pet"), references("ct-jpeg")
    protect(dicom, protected, pet_refs + jpeg_refs, KEY)
    index_path = os.path.join(out, "index.xml")
    with open(index_path, "w", encoding="utf-8") as f:
        f.write(index_document([
            ("Brain FDG AC", "PT", 3, uid("series", "pet"), True, pet_refs),
            ("Head 5 mm JPEG lossless", "CT", 4, uid("series", "ct-jpeg"), False, jpeg_refs),
        ]))

    total = sum(os.path.getsize(os.path.join(root, name))
                for root, _, names in os.walk(out) for name in names)
    rel = os.path.relpath(out)
    print(f"sample study written to {rel}/ ({total / 1048576:.1f} MiB, {time.monotonic() - started:.1f} s)")
    print(f"  patient {PATIENT['name']} {PATIENT['id']}, study {STUDY_DATE}, uid {uid('study')}")
    for folder, caption, shape, syntax, count in written:
        d, h, w = shape
        print(f"  dicom/{folder + '/':12s} {count:4d} file(s)  {w}x{h}x{d}  {caption}; {syntax}")
    print(f"  index.xml: series 'Brain FDG AC' selected ({len(pet_refs)} instances), "
          f"'Head 5 mm JPEG lossless' not selected ({len(jpeg_refs)})")
    print(f"  documents/Melvor2/DICOM/tmp/: {len(pet_refs) + len(jpeg_refs)} protected files, key '{KEY}'")
    print("open:")
    print(f"  tarvicon {rel}/dicom")
    print(f"  XDG_DOCUMENTS_DIR={rel}/documents tarvicon -k{KEY} {rel}/index.xml")
    print(f"  tarvicon -w{rel}/dicom/ {rel}/index.xml")


if __name__ == "__main__":
    sys.exit(main())
