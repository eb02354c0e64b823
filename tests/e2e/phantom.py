"""The end-to-end checks' study, made at test time with pydicom: a small CT series of known
geometry (a uniform body with one bright sphere off the centre), a cuboid file of the same
voxels, and the bad inputs (a broken file, a cuboid cut short)."""

import os
import struct
import uuid

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

CT_STORAGE = "1.2.840.10008.5.1.4.1.1.2"
UID_ROOT = uuid.UUID("2b1c6a54-91f0-5d3e-8c77-1e0f5a3d9b42")
# The study's accession number: the base name of the pictures the viewer exports.
ACCESSION = "1234"


class Geometry:
    """Where things lie in the phantom, in voxels and millimetres."""

    width = 128
    height = 128
    depth = 40
    pixel_mm = 1.5  # across and down
    slice_mm = 3.0
    origin_mm = (-96.0, -96.0, -60.0)  # ImagePositionPatient of slice 0
    intercept = -1024
    body_hu = 20
    sphere_hu = 200
    # The sphere's centre voxel and radius: right of and above the picture's centre, through
    # the middle slice, which the view shows first.
    sphere_voxel = (88, 44, 20)
    sphere_radius_mm = 21.0

    @classmethod
    def stored(cls, hu):
        return hu - cls.intercept


def _uid(*parts):
    return "2.25." + str(uuid.uuid5(UID_ROOT, "/".join(str(p) for p in parts)).int)


def phantom_voxels(g=Geometry):
    """The voxels as stored, indexed [z, y, x]."""
    z, y, x = np.meshgrid(np.arange(g.depth), np.arange(g.height), np.arange(g.width), indexing="ij")
    cx, cy, cz = g.sphere_voxel
    r2 = (((x - cx) * g.pixel_mm) ** 2 + ((y - cy) * g.pixel_mm) ** 2 + ((z - cz) * g.slice_mm) ** 2)
    volume = np.full((g.depth, g.height, g.width), g.stored(g.body_hu), dtype=np.uint16)
    volume[r2 <= g.sphere_radius_mm ** 2] = g.stored(g.sphere_hu)
    return volume


def write_series(folder, g=Geometry):
    """One file per slice, explicit little endian, in a folder of its own."""
    os.makedirs(folder, exist_ok=True)
    volume = phantom_voxels(g)
    study, series = _uid("study"), _uid("series")
    for k in range(g.depth):
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = CT_STORAGE
        meta.MediaStorageSOPInstanceUID = _uid("image", k)
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        ds = Dataset()
        ds.file_meta = meta
        ds.SOPClassUID = CT_STORAGE
        ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
        ds.PatientName = "PHANTOM^SPHERE"
        ds.PatientID = "TVC-E2E"
        ds.PatientBirthDate = "19650412"
        ds.PatientSex = "O"
        ds.AccessionNumber = ACCESSION
        ds.StudyInstanceUID = study
        ds.SeriesInstanceUID = series
        ds.StudyDate = "20240312"
        ds.SeriesDate = "20240312"
        ds.StudyDescription = "Sphere phantom"
        ds.SeriesDescription = "Sphere"
        ds.Modality = "CT"
        ds.SeriesNumber = 1
        ds.InstanceNumber = k + 1
        ds.ImagePositionPatient = [g.origin_mm[0], g.origin_mm[1], g.origin_mm[2] + k * g.slice_mm]
        ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
        ds.SliceLocation = g.origin_mm[2] + k * g.slice_mm
        ds.SliceThickness = g.slice_mm
        ds.PixelSpacing = [g.pixel_mm, g.pixel_mm]
        ds.Rows, ds.Columns = g.height, g.width
        ds.SamplesPerPixel = 1
        ds.PhotometricInterpretation = "MONOCHROME2"
        ds.BitsAllocated = 16
        ds.BitsStored = 16
        ds.HighBit = 15
        ds.PixelRepresentation = 0
        ds.RescaleIntercept = g.intercept
        ds.RescaleSlope = 1
        ds.PixelData = volume[k].tobytes()
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.save_as(os.path.join(folder, "slice%03d.dcm" % k), write_like_original=False)
    return folder


def cuboid_bytes(g=Geometry):
    """The cuboid stream: eleven 32-bit little-endian fields (extents, voxel size, spacing and
    origin in micrometres, byte count), then the voxels."""
    voxels = phantom_voxels(g).tobytes()
    um = lambda mm: int(round(mm * 1000))
    header = struct.pack("<11i", g.width, g.height, g.depth, 2, um(g.pixel_mm), um(g.pixel_mm),
                         um(g.slice_mm), um(g.origin_mm[0]), um(g.origin_mm[1]), um(g.origin_mm[2]),
                         len(voxels))
    return header + voxels


def write_cuboid(path, g=Geometry):
    with open(path, "wb") as f:
        f.write(cuboid_bytes(g))
    return path


def write_short_cuboid(path, g=Geometry):
    """A cuboid whose voxels end a third of the way in."""
    data = cuboid_bytes(g)
    with open(path, "wb") as f:
        f.write(data[: 44 + (len(data) - 44) // 3])
    return path


def write_broken_file(folder):
    """A file that announces DICOM (preamble and "DICM") and breaks off inside its first
    element."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "broken.dcm")
    with open(path, "wb") as f:
        f.write(bytes(128) + b"DICM" + b"\x02\x00\x10\x00UI\x40\x00" + b"1.2.840")
    return path
