"""tarvicon-view in a real X window on compressed studies: the phantom series converted file by
file to JPEG 2000 by GDCM shows the sphere where its voxel maps, with no LOSSY mark; an
ultrasound-like colour image in lossy YBR JPEG shows its colours and the LOSSY mark.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    codecs_e2e.py BUILD/bin/tarvicon-view
The screenshots and traces are kept when a check fails, or always with TARVICON_E2E_KEEP=1.
"""

import os
import subprocess
import sys
import tempfile

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import phantom  # noqa: E402
from e2e_support import check, finish, on_screen, run_checks, sphere, wait_for  # noqa: E402
from view_e2e import Viewer, check_phantom_in_place, last_zoom  # noqa: E402

# The LOSSY mark: amber text on a dark box at the top right of the view.
AMBER = np.array([255, 176, 0])


def lossy_mark(img):
    """The amber pixels of the view's top right corner."""
    h, w = img.shape[:2]
    corner = img[:40, w * 2 // 3:].astype(int)
    return (np.abs(corner - AMBER).max(axis=2) <= 40).sum()


def compressed(folder, target, *command):
    os.makedirs(target)
    for name in sorted(os.listdir(folder)):
        subprocess.run([*command, os.path.join(folder, name), os.path.join(target, name)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return target


def test_jpeg2000_series(program, workdir):
    plain = phantom.write_series(os.path.join(workdir, "plain"))
    study = compressed(plain, os.path.join(workdir, "j2k"), "gdcmconv", "-K")
    viewer = Viewer(program, [study], workdir, "j2k")
    try:
        viewer.wait_line("the load", r"^Loaded 1 objects$")
        viewer.wait_line("the first build", r"^Built %dx%d$" % (phantom.Geometry.width, phantom.Geometry.height))
        viewer.find_window()
        wait_for("a zoom", lambda: last_zoom(viewer) is not None)
        img = wait_for("the phantom on the screen", on_screen(viewer, lambda i: sphere(i) and [i]))[0]
        check_phantom_in_place(viewer, img, last_zoom(viewer))
        check(lossy_mark(img) == 0, "a lossless series shows the LOSSY mark")
        check(viewer.close_with_keys() == 0, "Ctrl+Q did not end the program cleanly")
    finally:
        viewer.kill()


def write_ultrasound(path):
    """A 320 × 240 colour image: red, green, blue and yellow quadrants on a grey frame."""
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.6.1"
    meta.MediaStorageSOPInstanceUID = generate_uid(entropy_srcs=["us"])
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID, ds.Modality = "Colour^Probe", "US-1", "US"
    ds.StudyInstanceUID, ds.SeriesInstanceUID = generate_uid(), generate_uid()
    ds.InstanceNumber = 1
    ds.Rows, ds.Columns = 240, 320
    ds.SamplesPerPixel, ds.PhotometricInterpretation, ds.PlanarConfiguration = 3, "RGB", 0
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 8, 8, 7, 0
    pixels = np.full((240, 320, 3), 90, np.uint8)
    for (top, left), colour in (((20, 20), (220, 30, 30)), ((20, 170), (30, 200, 40)),
                                ((130, 20), (40, 60, 220)), ((130, 170), (230, 220, 40))):
        pixels[top:top + 90, left:left + 130] = colour
    ds.PixelData = pixels.tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)


def quadrant_colours(img):
    """How many pixels of each quadrant's colour the screenshot holds."""
    i = img.astype(int)
    r, g, b = i[..., 0], i[..., 1], i[..., 2]
    return {"red": ((r > 180) & (g < 80) & (b < 80)).sum(), "green": ((g > 160) & (r < 80) & (b < 90)).sum(),
            "blue": ((b > 180) & (r < 90) & (g < 100)).sum(), "yellow": ((r > 190) & (g > 180) & (b < 90)).sum()}


def test_ybr_jpeg_ultrasound(program, workdir):
    folder = os.path.join(workdir, "us")
    os.makedirs(folder)
    plain = os.path.join(workdir, "us_plain.dcm")
    write_ultrasound(plain)
    lossy = os.path.join(folder, "us.dcm")
    # DCMTK's baseline coder turns colour into YCbCr with halved chroma, as ultrasound machines do.
    subprocess.run(["dcmcjpeg", "+eb", plain, lossy], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    photometric = str(pydicom.dcmread(lossy).PhotometricInterpretation)
    check(photometric.startswith("YBR"), "DCMTK wrote %s, not YBR" % photometric)
    viewer = Viewer(program, [folder], workdir, "us")
    try:
        viewer.wait_line("the load", r"^Loaded 1 objects$")
        viewer.find_window()

        def shown(img):
            counts = quadrant_colours(img)
            return all(c > 2000 for c in counts.values()) and lossy_mark(img) > 20 and [img]

        try:
            wait_for("the four colours and the LOSSY mark", on_screen(viewer, shown))
        except Exception:
            img = viewer.client(viewer.screenshot())
            check(False, "colours %s, %d amber pixels of the LOSSY mark" % (quadrant_colours(img), lossy_mark(img)))
        check(viewer.close_with_keys() == 0, "Ctrl+Q did not end the program cleanly")
    finally:
        viewer.kill()


def main():
    if len(sys.argv) != 2:
        print("usage: codecs_e2e.py TARVICON-VIEW", file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    check(os.environ.get("DISPLAY"), "no X display: run under xvfb-run")
    workdir = tempfile.mkdtemp(prefix="tarvicon-codecs-e2e-")
    failures = run_checks((t.__name__, lambda t=t: t(program, workdir))
                          for t in (test_jpeg2000_series, test_ybr_jpeg_ultrasound))
    return finish(workdir, failures)


if __name__ == "__main__":
    sys.exit(main())
