"""tarvicon, the viewer, in a real X window, driven like a user: a study of the phantom CT and a
co-registered PET-like series loads; the detail view, the three navigation views, the study tree
and the status bar show it; then the wheel in the middle, at the left edge, with Ctrl and with
Alt, a preset key, a click in a navigation view, Caps Lock to the overlay series and back, and
Tab hiding the navigation column. Last, a configuration document that does not parse must end
the program with a non-zero status and say where it broke.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    app_e2e.py BUILD/bin/tarvicon
The program reads the configuration document beside it (the shipped tarvicon.cfg), so the
document's automatic setup and initial selection are part of what is checked. Its settings go
to a temporary XDG_CONFIG_HOME. The screenshots and traces are kept when a check fails, or always
with TARVICON_E2E_KEEP=1.
"""

import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import phantom  # noqa: E402
from phantom import Geometry as G  # noqa: E402
from e2e_support import (CheckFailed, Picture, TracedProgram, check, on_screen, picture_rect,  # noqa: E402
                         sphere, sphere_mask, wait_for, wait_on_screen, xdotool)
from e2e_support import finish, run_checks  # noqa: E402

PET_STORAGE = "1.2.840.10008.5.1.4.1.1.128"
CT_CAPTION, PET_CAPTION = "Sphere", "Sphere uptake"

# ---- the study ----

def write_pet_series(folder, factor=2):
    """A PET-like series of the same patient and study, over the CT's box with voxels `factor`
    times as large: a low background and the sphere's uptake, pooled from the phantom."""
    os.makedirs(folder, exist_ok=True)
    ct = phantom.phantom_voxels()
    d, h, w = ct.shape
    hot = (ct == G.stored(G.sphere_hu)).reshape(d // factor, factor, h // factor, factor, w // factor, factor)
    volume = (1000 + 9000 * hot.mean(axis=(1, 3, 5))).astype(np.uint16)
    pixel, step = G.pixel_mm * factor, G.slice_mm * factor
    # Voxel centres in the middle of the CT voxels they pool.
    origin = [G.origin_mm[0] + G.pixel_mm * (factor - 1) / 2, G.origin_mm[1] + G.pixel_mm * (factor - 1) / 2,
              G.origin_mm[2] + G.slice_mm * (factor - 1) / 2]
    for k in range(volume.shape[0]):
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = PET_STORAGE
        meta.MediaStorageSOPInstanceUID = phantom._uid("pet-image", k)
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        ds = Dataset()
        ds.file_meta = meta
        ds.SOPClassUID = PET_STORAGE
        ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
        ds.PatientName = "PHANTOM^SPHERE"
        ds.PatientID = "TVC-E2E"
        ds.StudyInstanceUID = phantom._uid("study")
        ds.SeriesInstanceUID = phantom._uid("pet-series")
        ds.StudyDate = "20240312"
        ds.StudyDescription = "Sphere phantom"
        ds.SeriesDescription = PET_CAPTION
        ds.Modality = "PT"
        ds.SeriesNumber = 2
        ds.InstanceNumber = k + 1
        ds.ImagePositionPatient = [origin[0], origin[1], origin[2] + k * step]
        ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
        ds.SliceLocation = origin[2] + k * step
        ds.SliceThickness = step
        ds.PixelSpacing = [pixel, pixel]
        ds.Rows, ds.Columns = volume.shape[1], volume.shape[2]
        ds.SamplesPerPixel = 1
        ds.PhotometricInterpretation = "MONOCHROME2"
        ds.BitsAllocated = 16
        ds.BitsStored = 16
        ds.HighBit = 15
        ds.PixelRepresentation = 0
        ds.RescaleIntercept = 0
        ds.RescaleSlope = 1
        ds.PixelData = volume[k].tobytes()
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.save_as(os.path.join(folder, "pet%03d.dcm" % k), write_like_original=False)
    return folder


def write_study(folder):
    phantom.write_series(os.path.join(folder, "ct"))
    write_pet_series(os.path.join(folder, "pet"))
    return folder


# ---- what the window shows ----

def runs(flags):
    """(start, end) of each run of true values, end exclusive."""
    padded = np.concatenate(([False], flags, [False]))
    edges = np.flatnonzero(padded[1:] != padded[:-1])
    return list(zip(edges[::2], edges[1::2]))


def background_mask(img):
    """The window's own background (20, 20, 20): splitters, status bar."""
    return (img == 20).all(axis=2)


class Layout:
    """The screen rectangles (left, top, right, bottom) of the window's parts, found in a
    screenshot: the detail view at the left; the navigation column (`split` pixels wide) with
    the coronal and sagittal views above the transaxial view and the study tree, split by
    background-coloured splitters; the status bar under everything."""

    def __init__(self, img, split):
        height, width = img.shape[:2]
        self.navi_left = width - split
        # Right of the phantom's picture the detail view shows its black background, down to the
        # status bar.
        column = img[:, self.navi_left - 12]
        black = np.flatnonzero((column == 0).all(axis=1))
        check(len(black) > height // 2, "no detail view left of the navigation column")
        self.status_top = black[-1] + 1
        row = img[self.status_top - 4, :self.navi_left]
        self.detail = (0, 0, np.flatnonzero((row == 0).all(axis=1))[-1] + 1, self.status_top)
        navi = background_mask(img[:self.status_top, self.navi_left:])
        bands = [r for r in runs(navi.mean(axis=1) > 0.85) if r[0] > 0]
        check(len(bands) >= 2, "no splitters in the navigation column")
        upper, middle = (0, bands[0][0]), (bands[0][1], bands[1][0])

        def split_row(top, bottom):
            columns = [r for r in runs(navi[top:bottom].mean(axis=0) > 0.85) if 0 < r[0] and r[1] < split]
            check(len(columns) >= 1, "no splitter between two navigation panels")
            return ((self.navi_left, top, self.navi_left + columns[0][0], bottom),
                    (self.navi_left + columns[0][1], top, width, bottom))

        self.coronal, self.sagittal = split_row(*upper)
        self.transaxial, self.tree = split_row(*middle)
        # The panels take the shapes of the pictures, whose millimetres they show.
        cw, ch = size(self.coronal)
        tw, th = size(self.transaxial)
        sw, sh = size(self.sagittal)
        check(abs(cw / ch - G.width * G.pixel_mm / (G.depth * G.slice_mm)) < 0.06
              and abs(tw / th - 1) < 0.04 and abs(cw - tw) <= 1 and sh == ch,
              "navigation panels %dx%d, %dx%d, %dx%d do not have the phantom's shapes" % (cw, ch, sw, sh, tw, th))


def size(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


def crop(img, rect):
    return img[rect[1]:rect[3], rect[0]:rect[2]]


# What each view shows across and down: (voxel axis, voxel count) for the horizontal and the
# vertical picture axis, x = 0, y = 1, z = 2, and whether the vertical index grows upwards. A
# series is stacked from its highest slice position down, so the file slice k is the cube's
# slice depth - 1 - k (the one "detail/slice" counts): the coronal and sagittal pictures show k
# growing upwards, the head end at the top.
VIEW_AXES = {
    "coronal": ((0, G.width), (2, G.depth), True),
    "sagittal": ((1, G.height), (2, G.depth), True),
    "transaxial": ((0, G.width), (1, G.height), False),
}


def view_point(rect, view, voxel, corner=False):
    """The screen point of a voxel in a navigation view, whose picture fills its panel: its
    centre, or its top left corner (where the cross goes)."""
    (h_axis, h_count), (v_axis, v_count), upwards = VIEW_AXES[view]
    w, h = size(rect)
    shift = 0 if corner else 0.5
    v = v_count - 1 - voxel[v_axis] if upwards else voxel[v_axis]
    return (rect[0] + (voxel[h_axis] + shift) * w / h_count, rect[1] + (v + shift) * h / v_count)


def cross_mask(img):
    """The cross's stipple over the uniform body: grey or bluish pixels off the body's grey,
    neither sphere nor black."""
    level = np.median(img[~sphere_mask(img)].reshape(-1, 3), axis=0)
    off = np.abs(img - level).max(axis=2) >= 6
    return off & ~sphere_mask(img) & (img.max(axis=2) < 150) & (img.max(axis=2) > 10)


def cross_at(img):
    """Column and row of the cross in a view's picture: the column and row most covered by the
    stipple, which must cover a good part of them."""
    mask = cross_mask(img)
    row, col = int(mask.sum(axis=1).argmax()), int(mask.sum(axis=0).argmax())
    check(mask[row].sum() > 0.25 * mask.shape[1] and mask[:, col].sum() > 0.25 * mask.shape[0], "no cross")
    return col, row


def detail_picture_rect(img, layout):
    """The screen rectangle of the detail view's picture, less the pixels at its edges."""
    left, top, right, bottom = picture_rect(crop(img, layout.detail))
    return (layout.detail[0] + left + 2, layout.detail[1] + top + 2, layout.detail[0] + right - 2,
            layout.detail[1] + bottom - 2)


def check_cross(img, rect, expected, name):
    col, row = cross_at(crop(img, rect))
    ex, ey = expected[0] - rect[0], expected[1] - rect[1]
    check(abs(col - ex) <= 3 and abs(row - ey) <= 3,
          "%s view: cross at %d,%d, the position is at %.1f,%.1f" % (name, col, row, ex, ey))


def check_sphere_in(img, rect, view, voxel=G.sphere_voxel):
    cx, cy, _ = sphere(crop(img, rect))
    ex, ey = view_point(rect, view, voxel)
    ex, ey = ex - rect[0], ey - rect[1]
    check(abs(cx - ex) <= 3 and abs(cy - ey) <= 3,
          "%s view: sphere at %.1f,%.1f, its voxel maps to %.1f,%.1f" % (view, cx, cy, ex, ey))


def has_sphere(img, rect):
    return sphere_mask(crop(img, rect)).sum() > 50


def tree_rows(img, layout):
    """The study tree's rows as [top, bottom) runs of rows with ink, and the index of the row on
    the full-width selection band (None without one)."""
    inner = crop(img, layout.tree)[1:-1, 1:-1]  # inside the frame
    ink = inner.min(axis=2) < 235
    rows = [r for r in runs(ink.sum(axis=1) > 0) if r[1] - r[0] >= 6]
    band = ink.mean(axis=1) > 0.9
    selected = [i for i, (top, bottom) in enumerate(rows) if band[top:bottom].sum() >= 8]
    return rows, (selected[0] if len(selected) == 1 else None)


def selected_row(layout, expected):
    def test(img):
        rows, selected = tree_rows(img, layout)
        return selected == expected and (img, rows)

    return test


# The status bar's panels, by the widths the window gives them (200, 160, 200, 100), with a
# margin where one text may run into the next.
STATUS_PANELS = ((0, 195), (205, 355), (372, 555), (575, 670))


def status_ink(img, layout, panel):
    left, right = STATUS_PANELS[panel]
    strip = img[layout.status_top + 2:img.shape[0] - 2, left:right]
    return np.abs(strip - 20).max(axis=2) > 10


def body_grey(detail):
    """The grey of the body in the detail view, wherever its picture lies: the middle value of
    the pixels that are neither the view's black background nor the sphere."""
    picture = detail[(detail.max(axis=2) > 10) & ~sphere_mask(detail)]
    check(len(picture) > 1000, "no picture in the detail view")
    return int(np.median(picture[:, 0]))


def body_near(layout, expected, tolerance=8):
    """A screen test: the detail view's body within tolerance of a grey."""
    return lambda img: abs(body_grey(crop(img, layout.detail)) - expected) <= tolerance


def picture_scale(detail):
    """Screen pixels per voxel of the CT's picture in the detail view, whatever its window: the
    box of the pixels that are lit with their neighbours two pixels on every side (which leaves
    out the cross's thin lines)."""
    lit = detail.max(axis=2) > 10
    solid = lit.copy()
    for d in (1, 2):
        solid[d:] &= lit[:-d]
        solid[:-d] &= lit[d:]
        solid[:, d:] &= lit[:, :-d]
        solid[:, :-d] &= lit[:, d:]
    xs = np.flatnonzero(solid.any(axis=0))
    check(len(xs) > 10, "no picture in the detail view")
    return (xs[-1] - xs[0] + 5) / G.width


def pet_colours(detail):
    """Most of the picture in colour: the PET colour table over the series' range."""
    lit = detail.max(axis=2) > 10
    coloured = np.ptp(detail, axis=2) > 30
    return lit.sum() > 500 and (coloured & lit).sum() > 0.5 * lit.sum()


# ---- the sessions ----

class Viewer(TracedProgram):
    """One run of tarvicon with its own settings folder."""

    def __init__(self, program, args, workdir, name):
        config = os.path.join(workdir, name + "-config")
        os.makedirs(config, exist_ok=True)
        super().__init__(program, args, workdir, name, dict(os.environ, XDG_CONFIG_HOME=config))

    def mark(self):
        return len(self.lines())

    def wait_change(self, path, value, after):
        """The line "Change PATH = VALUE" from trace index `after` on."""
        pattern = r"^Change %s = %s$" % (re.escape(path), re.escape(str(value)))
        return self.wait_line("%s = %s" % (path, value), pattern, after)

    def wheel(self, x, y, notches, *modifiers):
        """Turns the wheel at screen point (x, y): up for positive notches, one click each."""
        if notches == 0:
            return
        xdotool("mousemove", int(x), int(y))
        for key in modifiers:
            xdotool("keydown", key)
        try:
            xdotool("click", "--repeat", abs(notches), "--delay", 30, 4 if notches > 0 else 5)
        finally:
            for key in reversed(modifiers):
                xdotool("keyup", key)


def test_study_session(program, workdir):
    study = write_study(os.path.join(workdir, "study"))
    app = Viewer(program, [study], workdir, "study")
    try:
        loaded, _ = app.wait_line("the load", r"^Loaded 2 objects$")
        shown, _ = app.wait_line("the CT shown", r"^Showing %s$" % CT_CAPTION, loaded)
        app.wait_line("the detail view's picture", r"^Built %dx%d$" % (G.width, G.height), shown)
        check(not any(l.startswith("Showing ") for l in app.lines()[shown + 1:]),
              "another series shown after the CT: " + str([l for l in app.lines() if l.startswith("Showing ")]))
        # The PET series is the overlay: the document's initial selection.
        check(any(l.startswith("Change detail/overlay = ") and not l.endswith("= 0") for l in app.lines()),
              "no overlay series set")

        # A borderless window over the whole screen.
        app.find_window()
        screen = tuple(int(v) for v in xdotool("getdisplaygeometry").split())
        check((app.x, app.y, app.width, app.height) == (0, 0) + screen,
              "window at %d,%d size %dx%d on a %dx%d screen" % ((app.x, app.y, app.width, app.height) + screen))
        xdotool("windowfocus", "--sync", app.window)
        splits = [int(l.split("= ")[1]) for l in app.lines() if l.startswith("Change detail/screensplit = ")]
        check(splits and splits[-1] > 0, "no width of the navigation column in the trace")

        # First sight: the layout settled and the phantom in the detail view, through its middle
        # slice, the sphere's.
        def first_sight(img):
            layout = Layout(img, splits[-1])
            Picture(crop(img, layout.detail))
            return img, layout

        _, layout = wait_on_screen(app, "the study in the window", first_sight)
        centre = (G.width // 2, G.height // 2, G.depth // 2)
        slices = [int(l.split("= ")[1]) for l in app.lines() if l.startswith("Change detail/slice = ")]
        check(slices and slices[-1] == centre[2], "the CT shown at slice %s of %d" % (slices[-1:], G.depth))

        def through_sphere(img):
            sphere(crop(img, layout.detail))
            sphere(crop(img, layout.transaxial))
            return [img]

        img = wait_on_screen(app, "the sphere in the detail and transaxial views", through_sphere)[0]
        check_first_sight(img, layout)
        pic = Picture(crop(img, layout.detail))

        # A click on the sphere's centre in the detail view moves the position there: the crosses
        # of all four views and the status bar's position and value follow.
        status_before = [status_ink(img, layout, p) for p in (0, 2)]
        sx, sy = pic.screen_of(*G.sphere_voxel[:2])
        xdotool("mousemove", int(sx), int(sy), "click", 1)
        corner = pic.corner_of(*G.sphere_voxel[:2])

        def crosses_moved(img):
            check_cross(img, detail_picture_rect(img, layout), corner, "detail")
            for name in ("coronal", "sagittal", "transaxial"):
                rect = getattr(layout, name)
                check_cross(img, rect, view_point(rect, name, G.sphere_voxel, corner=True), name)
            return True

        wait_for("the crosses at the clicked point", on_screen(app, crosses_moved))

        def status_changed(img):
            return all((status_ink(img, layout, p) != before).sum() > 20 for p, before in zip((0, 2), status_before))

        wait_for("the status bar's position and value to change", on_screen(app, status_changed))

        def sphere_in_navigation(img):
            check_sphere_in(img, layout.coronal, "coronal")
            check_sphere_in(img, layout.sagittal, "sagittal")
            return True

        wait_for("the sphere in the coronal and sagittal views", on_screen(app, sphere_in_navigation))

        # The wheel in the middle of the detail view: one slice back per notch up, ten with Shift.
        w, h = size(layout.detail)
        middle = (w // 2, h // 2)
        mark = app.mark()
        app.wheel(*middle, 1)
        app.wait_change("detail/slice", centre[2] - 1, mark)
        mark = app.mark()
        app.wheel(*middle, 1, "shift")
        app.wait_change("detail/slice", centre[2] - 11, mark)
        # Slice 9 misses the sphere, in the detail view and in the transaxial view that follows.
        wait_for("the detail and transaxial views without the sphere", on_screen(
            app, lambda i: not has_sphere(i, layout.detail) and not has_sphere(i, layout.transaxial)))
        mark = app.mark()
        app.wheel(*middle, -1, "shift")
        app.wheel(*middle, -1)
        app.wait_change("detail/slice", centre[2], mark)
        wait_for("the sphere back in the detail view", on_screen(app, lambda i: has_sphere(i, layout.detail)))

        # The left strip: the window's centre, 10 per notch; the body darkens by an eighth of
        # the brain window and comes back, in the detail view and in the navigation views that
        # share its colours.
        views = (layout.detail, layout.coronal, layout.sagittal, layout.transaxial)
        greys = [body_grey(crop(img, rect)) for rect in views]

        def all_near(offset, tolerance):
            def test(img):
                now = [body_grey(crop(img, rect)) for rect in views]
                check(all(abs(n - (g + offset)) <= tolerance for n, g in zip(now, greys)),
                      "body greys %s, expected %s %+d" % (now, greys, offset))
                return True
            return test

        mark = app.mark()
        app.wheel(w // 20, h // 2, 1)
        app.wait_change("detail/colormapping/level/center", 50, mark)
        wait_on_screen(app, "the body darker by the centre's step in all four views", all_near(-(255 // 8), 8))
        mark = app.mark()
        app.wheel(w // 20, h // 2, -1)
        app.wait_change("detail/colormapping/level/center", 40, mark)
        wait_on_screen(app, "the body's grey back in all four views", all_near(0, 3))

        # Ctrl: the zoom, one step of 1.12 per notch.
        _, _, diameter = sphere(crop(img, layout.detail))
        mark = app.mark()
        app.wheel(*middle, 1, "ctrl")
        app.wait_change("detail/zoom", 1, mark)
        wait_for("the sphere grown by 1.12", on_screen(
            app, lambda i: abs(sphere(crop(i, layout.detail))[2] / diameter - 1.12) < 0.04))
        mark = app.mark()
        app.wheel(*middle, -1, "ctrl")
        app.wait_change("detail/zoom", 0, mark)
        wait_for("the sphere at its first size", on_screen(
            app, lambda i: abs(sphere(crop(i, layout.detail))[2] / diameter - 1) < 0.03))

        # Alt: the centre anywhere over the detail view; Alt with Ctrl: the width.
        for modifiers, path, up, back in ((("alt",), "center", 50, 40), (("alt", "ctrl"), "width", 90, 80)):
            mark = app.mark()
            app.wheel(*middle, 1, *modifiers)
            app.wait_change("detail/colormapping/level/" + path, up, mark)
            mark = app.mark()
            app.wheel(*middle, -1, *modifiers)
            app.wait_change("detail/colormapping/level/" + path, back, mark)

        # A click in the coronal view moves the position to the clicked slice; the detail view
        # shows it.
        for z, with_sphere in ((G.sphere_voxel[2] - 10, False), (G.sphere_voxel[2], True)):
            x, y = view_point(layout.coronal, "coronal", (G.sphere_voxel[0], 0, z))
            mark = app.mark()
            xdotool("mousemove", int(x), int(y), "click", 1)
            _, line = app.wait_line("the detail view's slice", r"^Change detail/slice = ", mark)
            cube_slice = G.depth - 1 - z
            check(abs(int(line.split("= ")[1]) - cube_slice) <= 1,
                  "clicked file slice %d (cube slice %d) in the coronal view; %s" % (z, cube_slice, line))
            wait_for("the detail and transaxial views %s the sphere" % ("with" if with_sphere else "without"),
                     on_screen(app, lambda i: has_sphere(i, layout.detail) == with_sphere
                               and has_sphere(i, layout.transaxial) == with_sphere))

        # F3: the soft tissue window (40 / 400 HU), the body a lighter grey.
        mark = app.mark()
        xdotool("key", "F3")
        app.wait_change("detail/colormapping/level/center", 40, mark)
        app.wait_change("detail/colormapping/level/width", 400, mark)
        soft = round(255 * (G.body_hu + 160) / 400)
        wait_for("the body in the soft tissue window", on_screen(app, body_near(layout, soft)))
        left_at = picture_scale(crop(app.client(app.screenshot()), layout.detail))

        # Caps Lock: the overlay series (the PET) is shown, and the tree selects it; Caps Lock off
        # goes back to the CT as it was left, in the soft tissue window.
        mark = app.mark()
        xdotool("key", "Caps_Lock")
        try:
            app.wait_line("the PET shown", r"^Showing %s$" % PET_CAPTION, mark)
            app.wait_line("the PET's picture", r"^Built %dx%d$" % (G.width // 2, G.height // 2), mark)
            wait_for("the PET selected in the tree", on_screen(app, selected_row(layout, 3)))
            wait_for("the PET in the PET colours", on_screen(app, lambda i: pet_colours(crop(i, layout.detail))))
        finally:
            mark = app.mark()
            xdotool("key", "Caps_Lock")
        app.wait_line("the CT shown again", r"^Showing %s$" % CT_CAPTION, mark)
        app.wait_change("detail/colormapping/level/width", 400, mark)
        wait_for("the CT selected in the tree", on_screen(app, selected_row(layout, 2)))
        wait_for("the CT in its soft tissue window", on_screen(app, body_near(layout, soft)))

        def size_kept():
            scale = picture_scale(crop(app.client(app.screenshot()), layout.detail))
            check(abs(scale / left_at - 1) < 0.02,
                  "the CT left at %.2f screen pixels per voxel comes back at %.2f" % (left_at, scale))

        size_kept()

        # Tab hides the navigation column: the detail view's black background takes its place.
        # Tab again brings back the column with its views and the study tree where they were.
        def navigation_area_black(img):
            area = img[:layout.status_top, layout.navi_left + 10:]
            return (area.max(axis=2) == 0).mean()

        check(navigation_area_black(app.client(app.screenshot())) < 0.5, "no navigation column")
        mark = app.mark()
        xdotool("key", "Tab")
        app.wait_line("the column hidden", r"^Navigation hidden$", mark)
        app.wait_change("detail/screensplit", -splits[-1], mark)
        wait_on_screen(app, "the detail view over the navigation column", lambda i: navigation_area_black(i) > 0.9)
        mark = app.mark()
        xdotool("key", "Tab")
        app.wait_line("the column shown", r"^Navigation shown$", mark)
        app.wait_change("detail/screensplit", splits[-1], mark)

        def column_back(img):
            back = Layout(img, splits[-1])
            check((back.coronal, back.sagittal, back.transaxial, back.tree)
                  == (layout.coronal, layout.sagittal, layout.transaxial, layout.tree),
                  "navigation panels at %s, first at %s" % ((back.coronal, back.transaxial, back.tree),
                                                           (layout.coronal, layout.transaxial, layout.tree)))
            return True

        wait_on_screen(app, "the navigation column back", column_back)

        errors = [l for l in app.lines() if l.startswith("Error ")]
        check(not errors, "errors in the session: " + "; ".join(errors))
        check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
    finally:
        app.kill()


def check_first_sight(img, layout):
    # The detail view: the middle slice at real size (one zoom for both axes), the sphere where
    # its voxel maps, in the CT brain window of the automatic setup (body dark grey, sphere white).
    detail = crop(img, layout.detail)
    pic = Picture(detail)
    check(abs(pic.scale_x - pic.scale_y) < 0.02 and pic.scale_x > 1,
          "detail picture scaled %.3f by %.3f" % (pic.scale_x, pic.scale_y))
    cx, cy, diameter = sphere(detail)
    ex, ey = pic.screen_of(G.sphere_voxel[0], G.sphere_voxel[1])
    check(abs(cx - ex) <= 3 and abs(cy - ey) <= 3,
          "detail view: sphere at %.1f,%.1f, its voxel maps to %.1f,%.1f" % (cx, cy, ex, ey))
    expected = 2 * G.sphere_radius_mm / G.pixel_mm * pic.scale_x
    check(abs(diameter - expected) <= 4, "detail view: sphere %.1f pixels across, expected %.1f" % (diameter, expected))
    grey = body_grey(detail)
    check(abs(grey - 255 * G.body_hu / 80) <= 8, "body grey %d, not the brain window's" % grey)

    # The crosses at the position, the centre voxel: the detail view's at its pixel's corner.
    centre = (G.width // 2, G.height // 2, G.depth // 2)
    check_cross(img, detail_picture_rect(img, layout), pic.corner_of(centre[0], centre[1]), "detail")
    for name in ("coronal", "sagittal", "transaxial"):
        rect = getattr(layout, name)
        # Each navigation view shows the phantom's body over all of its panel.
        body = crop(img, rect)
        level = np.median(body.reshape(-1, 3), axis=0)
        check(abs(level - 255 * G.body_hu / 80).max() <= 8, "%s view: grey %s, not the body's" % (name, level))
        check_cross(img, rect, view_point(rect, name, centre, corner=True), name)
    # The centre's slices miss the sphere but for the transaxial one.
    check_sphere_in(img, layout.transaxial, "transaxial")
    check(not has_sphere(img, layout.coronal) and not has_sphere(img, layout.sagittal),
          "a sphere in the coronal or sagittal view, whose slices miss it")

    # The tree: patient, study and the two series, the CT (third row) selected.
    rows, selected = tree_rows(img, layout)
    check(len(rows) == 4, "study tree with %d rows, expected patient, study and two series" % len(rows))
    check(selected == 2, "study tree: selected row %s, expected the CT's (2)" % selected)

    top, bottom = rows[selected]
    colour = np.median(crop(img, layout.tree)[1 + top + 2, 1:-1], axis=0)
    check(abs(colour - 128).max() <= 2, "selected row on %s, not grey (128, 128, 128)" % colour)

    # The status bar: text in the position and value panel and in the world position panel.
    for panel in (0, 2):
        check(status_ink(img, layout, panel).sum() > 40, "no text in status panel %d" % panel)


def test_bad_configuration(program, workdir):
    """A configuration document that does not parse: the error with its line and position, then
    the end with a non-zero status."""
    bad = os.path.join(workdir, "bad.cfg")
    with open(bad, "w") as f:
        f.write('<?xml version="1.0"?>\n<initialize>\n  <preset>\n    <detail><grid>30</grid>\n  </preset>\n'
                '</initialize>\n')
    study = os.path.join(workdir, "study")
    if not os.path.isdir(study):
        write_study(study)
    app = Viewer(program, ["-c" + bad, study], workdir, "bad-config")
    try:
        status = app.wait_exit()
        check(status != 0, "the program ended with status 0 after a configuration document that does not parse")
        errors = [l for l in app.lines() if l.startswith("Error ")]
        check(len(errors) == 1, "expected one error line, the trace has %s" % errors)
        where = re.search(re.escape(os.path.basename(bad)) + r"\((\d+)/(\d+)\)", errors[0])
        check(where and where.group(1) == "5", "error without the line (5) and position: " + errors[0])
    finally:
        app.kill()


def main():
    if len(sys.argv) != 2:
        print("usage: app_e2e.py TARVICON", file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    check(os.environ.get("DISPLAY"), "no X display: run under xvfb-run")
    workdir = tempfile.mkdtemp(prefix="tarvicon-app-e2e-")
    failures = run_checks((t.__name__, lambda t=t: t(program, workdir))
                          for t in (test_study_session, test_bad_configuration))
    # Caps Lock is left off, whatever happened.
    if subprocess.run(["xset", "q"], capture_output=True, text=True).stdout.find("Caps Lock:   on") >= 0:
        xdotool("key", "Caps_Lock")
    return finish(workdir, failures)


if __name__ == "__main__":
    sys.exit(main())
