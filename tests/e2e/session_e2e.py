"""tarvicon through a whole session, as a person would use it, on the sample study and on real
files nobody here wrote. Each step is checked by what it visibly does (screenshots, by pixels) or
by the parameter changes the trace logs.

The sample study (scripts/make_sample.py, written into the work folder): open it; pick each series
by its row in the study tree, then End and Home; window and level by the wheel in the detail
view's left strip, by the function keys' presets and by a drag on the colour bar; a thick slab,
averaged and as a MIP, on the detail and the navigation views; an oblique angle; the orientation
swaps; the PET series laid over the CT with alpha, then with colour fusion; sweep, swing, the slice
loop; mirror, upscale, filter and revert of the CT; the angle made permanent (resample aligned);
the parameters copied from one series and pasted onto another; a second study added by the folder
dialog; and a JPEG, a GIF and a video exported and read back.

The core of that session (open, pick a series, window/level, thickness and MIP, a swap, a JPEG)
on Debian's python3-pydicom test files: its DICOMDIR folders, its JPEG-LS file (whose picture must
be that of the uncompressed original) and its JPEG lossless file; and on a 512 x 512 x 400 series
(bench/loading/make_series.py), written into the work folder and removed with it.

A step that finds the program not doing what it should is listed at the end as a fault of the
program; the run fails once every step has been tried.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    session_e2e.py BUILD/bin/tarvicon BUILD/bin/command_table
Screenshots, traces and exported files are kept when a check fails, or always with
TARVICON_E2E_KEEP=1.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import types
from unittest import mock

import numpy as np

sys.dont_write_bytecode = True  # nothing written into the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import app_e2e  # noqa: E402
from app_e2e import Layout, crop, selected_row, size, tree_rows, write_study  # noqa: E402
from commands_e2e import (LEVEL, MENU, ColourBar, CommandWalk, Session, control_lines, drag,  # noqa: E402
                          level_values, menu_keys, menu_route, number)
from e2e_support import CheckFailed, check, finish, on_screen, run_checks, wait_for, xdotool  # noqa: E402
from export_e2e import ExportSession, OPENED_LOG, folder_launcher, gif_file, read_picture, video_file  # noqa: E402
from phantom import Geometry as G  # noqa: E402

REPOSITORY = os.path.dirname(os.path.dirname(HERE))
PYDICOM_FILES = "/usr/lib/python3/dist-packages/pydicom/data/test_files"

# The sample study's series in the order of the study tree (rows 2 … 7 under patient and study),
# each with the size of the picture the detail view builds of it.
SAMPLE_ROWS = [("Brain FDG AC", "128x128"), ("Fusion screenshot", "256x256"), ("Head 1.25 mm", "256x256"),
               ("Head 5 mm JPEG lossless", "128x128"), ("Head 5 mm JPEG-LS", "128x128"),
               ("Head slabs 20 mm multi-frame", "256x256")]
CT_ROW, JPEG_ROW, JPEGLS_ROW = 4, 5, 6
CT = SAMPLE_ROWS[CT_ROW - 2][0]
ACCESSION = "TVC24031201"
# White matter, what the middle of the CT's middle slice shows.
WHITE_HU = 28
# A preset of our own that filters the shown series: no command reaches the filter.
FILTER_KEY = "alt+F9"
FILTER_PRESET = ('    <preset caption="Filter" hint="Filter the series" shortcut="Alt+F9">'
                 '<detail><series><filter>1</filter></series></detail></preset>\n')


class SampleCT(G):
    """The sample CT's grid, for the layout's check of the navigation panels' shapes."""

    width, height, depth = 256, 256, 160
    pixel_mm, slice_mm = 0.9, 1.25


# ---- what the screen shows ----

def picture_box(detail):
    """Left, top, right, bottom of the picture in the detail view: the rows and columns mostly
    lit (the zero colour is a dark blue, the view's background black), less the cross's thin
    lines across the view."""
    lit = detail.max(axis=2) > 8
    lit[2:-2] &= lit[:-4] & lit[4:]
    lit[:, 2:-2] &= lit[:, :-4] & lit[:, 4:]
    rows = np.flatnonzero(lit.sum(axis=1) > 0.5 * lit.sum(axis=1).max())
    cols = np.flatnonzero(lit.sum(axis=0) > 0.5 * lit.sum(axis=0).max())
    check(len(rows) > 8 and len(cols) > 8, "no picture in the detail view")
    # The two pixels at each edge that the test of the neighbours took off.
    height, width = lit.shape
    return max(cols[0] - 2, 0), max(rows[0] - 2, 0), min(cols[-1] + 3, width), min(rows[-1] + 3, height)


def middle(detail, half=30):
    """The grey (red channel) of a square in the middle of the picture."""
    left, top, right, bottom = picture_box(detail)
    x, y = (left + right) // 2, (top + bottom) // 2
    return detail[y - half:y + half, x - half:x + half, 0]


def grey(detail):
    return float(np.median(middle(detail)))


def noise(detail, step=4):
    """The grain of the middle: the median difference of pixels a voxel apart."""
    patch = middle(detail)
    return float(np.median(np.abs(patch[:, step:] - patch[:, :-step])))


def difference(a, b, shift=0):
    """The mean difference of two pictures over the part they share, at the best shift of up to
    `shift` pixels each way (a mirrored position may move the picture by a voxel)."""
    h, w = min(a.shape[0], b.shape[0]), min(a.shape[1], b.shape[1])
    a, b = a[:h, :w], b[:h, :w]
    best = None
    for dy in range(-shift, shift + 1, 2):
        for dx in range(-shift, shift + 1, 2):
            pa = a[max(dy, 0):h + min(dy, 0), max(dx, 0):w + min(dx, 0)]
            pb = b[max(-dy, 0):h + min(-dy, 0), max(-dx, 0):w + min(-dx, 0)]
            d = float(np.abs(pa - pb).mean())
            best = d if best is None else min(best, d)
    return best


def turned(picture, expected, first):
    """Whether a mirrored or transposed picture is the one expected. Resampled at a scale that is
    not whole, it meets the pixel grid elsewhere: it is near the expected one and much nearer to
    it than to the first."""
    d = difference(picture, expected, 6)
    return d < min(10, 0.5 * difference(picture, first, 6))


def coloured(detail):
    """The part of the picture in colour."""
    left, top, right, bottom = picture_box(detail)
    picture = detail[top:bottom, left:right]
    return float((np.ptp(picture, axis=2) > 40).mean())


def bar_row(detail):
    """Where the head rest's white bar lies down the picture, 0 at its top, 1 at its bottom."""
    left, top, right, bottom = picture_box(detail)
    white = detail[top:bottom, left:right].min(axis=2) > 200
    rows = np.flatnonzero(white.mean(axis=1) > 0.6)
    check(len(rows) > 0, "no white bar across the picture")
    return rows.mean() / (bottom - top)


def brightness(img):
    return float(img.mean())


# ---- the viewer ----

class WithOptions(Session):
    """The command line's options before the study's folder."""

    options = ()

    def __init__(self, program, args, workdir, name):
        super().__init__(program, [*self.options, *args], workdir, name)


class Visit(ExportSession, WithOptions):
    """tarvicon on one folder, with the export's documents folder and a stand-in xdg-open."""

    def __init__(self, program, folder, workdir, name, options=()):
        self.options = tuple(options)
        launcher = folder_launcher(os.path.join(workdir, "launcher"), os.path.join(workdir, OPENED_LOG))
        super().__init__(program, folder, workdir, name, os.path.join(workdir, name + "-documents"),
                         launcher + os.pathsep + os.environ["PATH"])
        self.depth = 1

    def start(self, objects, caption=None, picture=None, timeout=120):
        """Waits for the load and the series shown first with its picture (any series without a
        caption); finds the window."""
        self.wait_line("\"Loaded %d objects\"" % objects, r"^Loaded %d objects$" % objects, timeout=timeout)
        if caption is None:
            self.wait_line("a series shown", r"^Showing ")
        else:
            self.wait_shown(caption, picture)
        self.find_window()
        self.focus()
        self.split = int(number(self.value("detail/screensplit")))
        check(self.split > 0, "no width of the navigation column in the trace")
        self.detail = (0, 0, self.width - self.split - 12, self.height - 30)

    def seek(self, key, caption, picture, tries=16):
        """The key pressed until the series of that caption is shown with its picture."""
        lines = self.lines()
        shown = [i for i, l in enumerate(lines) if l.startswith("Showing ")]
        if shown and lines[shown[-1]] == "Showing " + caption and "Built " + picture in lines[shown[-1]:]:
            return
        for _ in range(tries):
            mark = self.mark()
            self.key(key)
            _, line = self.wait_line("the next series shown", r"^Showing ", mark, 10)
            if line == "Showing " + caption:
                return self.wait_shown(caption, picture, mark)
        raise CheckFailed("%s did not reach \"%s\"" % (key, caption))

    def wait_shown(self, caption, picture, after=0):
        """The series shown (at the start perhaps while it loads) and its picture built."""
        shown, _ = self.wait_line("\"Showing %s\"" % caption, r"^Showing %s$" % re.escape(caption), after)
        self.wait_line("the %s picture" % picture, r"^Built %s$" % picture, shown)

    def sync(self):
        """The previous and the next slice: every key before has been handled."""
        slice_ = int(self.value("detail/slice"))
        mark = self.mark()
        self.key("Prior")
        self.wait_value("detail/slice", (slice_ - 1) % self.depth, mark)
        mark = self.mark()
        self.key("Next")
        self.wait_value("detail/slice", slice_, mark)
        return self.mark()

    def wait_view(self, what, test, timeout=10):
        """The detail view once test answers true for it."""
        def probe():
            detail = crop(self.shot(), self.detail)
            try:
                return test(detail) and [detail]
            except CheckFailed:
                return None

        return wait_for(what, probe, timeout)[0]

    def settle(self, what="the detail view to settle"):
        """The detail view once two screenshots in a row agree."""
        last = [None]

        def same(detail):
            before, last[0] = last[0], detail
            return before is not None and before.shape == detail.shape and (before == detail).all()

        return self.wait_view(what, same)

    def menu(self, name):
        """A command from the context menu, walked with the arrow keys (with or without an
        overlay: the entries on the way are always enabled)."""
        route = menu_route(MENU, name, set())
        check(route, "no context menu entry for " + name)
        self.key("Escape")
        self.wait_window("the context menu")
        self.key(*menu_keys(route))

    def export_jpeg(self):
        """Ctrl+S: the JPEG the viewer saves, read back."""
        mark = self.mark()
        self.key("ctrl+s")
        _, line = self.wait_line("the picture saved", r"^(Saved|Error) ", mark, 30)
        check(line.startswith("Saved "), "Ctrl+S: " + line)
        path = line[len("Saved "):]
        self.wait_no_windows("the export's windows closed")
        self.focus()
        kind, img = read_picture(path)
        check(kind == "JPEG" and os.path.dirname(path) == self.folder,
              "%s: %s, not a JPEG in the export folder %s" % (path, kind, self.folder))
        return path, img


# ---- the faults of the program ----

class Faults:
    """What the program did wrong, noted while the steps go on; the run fails with them."""

    def __init__(self):
        self.found = []

    def note(self, step, text, shot=None):
        self.found.append((step, text, shot))

    def check(self, condition, step, text, shot=None):
        if not condition:
            self.note(step, text, shot)
        return condition


# ---- the sample study ----

def write_filter_config(workdir, program):
    """The shipped document with a preset of ours that filters the series."""
    with open(os.path.join(os.path.dirname(program), "tarvicon.cfg"), encoding="utf-8") as f:
        text = f.read()
    check("</presets>" in text, "the shipped document has no presets")
    path = os.path.join(workdir, "filter.cfg")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace("</presets>", FILTER_PRESET + "  </presets>", 1))
    return path


class SampleSession:
    """The steps of the session on the sample study; each a check of its own."""

    def __init__(self, program, workdir, table, sample, second, faults):
        self.program, self.workdir, self.table = program, workdir, table
        self.sample, self.second, self.faults = sample, second, faults
        self.app = None
        self.report = []

    # -- helpers --

    def ready(self):
        check(self.app is not None and getattr(self.app, "layout", None) is not None, "the viewer did not open")
        return self.app

    def click_row(self, row, caption, picture, selected=True):
        app = self.app
        rows, _ = tree_rows(app.shot(), app.layout)
        check(len(rows) > row, "the study tree shows %d rows, not row %d" % (len(rows), row))
        top, bottom = rows[row]
        mark = app.mark()
        xdotool("mousemove", app.layout.tree[0] + 60, app.layout.tree[1] + 1 + (top + bottom) // 2, "click", 1)
        try:
            app.wait_line("\"Showing %s\"" % caption, r"^Showing %s$" % re.escape(caption), mark, 5)
        except CheckFailed:
            # A click the tree did not take (seldom, on a busy machine): once more.
            self.report.append("row %d clicked twice" % row)
            xdotool("click", 1)
        app.wait_shown(caption, picture, mark)
        if selected:
            wait_for("row %d selected in the tree" % row, on_screen(app, selected_row(app.layout, row)), 10)
        app.focus()

    def window(self, keys, low, high):
        """A preset key: the level's low and high in the trace, the middle's grey as the window
        maps white matter."""
        app = self.app
        mark = app.mark()
        app.key(keys)
        app.wait_value(LEVEL + "low", low, mark)
        app.wait_value(LEVEL + "high", high, mark)
        expected = self.white * 80 / WHITE_HU * (WHITE_HU - low) / (high - low)
        return app.wait_view("white matter at grey %.0f in %g … %g HU" % (expected, low, high),
                             lambda d: abs(grey(d) - expected) <= 6)

    def navigation_follows(self, projected, thin):
        """The coronal view projected (brighter than the thin slice's mean) or thin again; a
        view that follows only after the position moves is a fault."""
        app = self.app

        def shown(img):
            mean = brightness(crop(img, app.layout.coronal))
            return mean > thin + 10 if projected else abs(mean - thin) < 1

        what = "the coronal view %s" % ("projected" if projected else "thin again")
        try:
            wait_for(what, on_screen(app, shown), 5)
        except CheckFailed:
            self.faults.note("MIPnavi", "M (detail/mip-navi = %d) leaves the navigation views as they were; they "
                             "show the change only once the position moves" % projected,
                             app.shots + "-%02d.png" % app.shot_count)
            app.sync()
            wait_for(what + " after PgUp, PgDn", on_screen(app, shown), 10)

    def go_to_slice(self, target):
        """PgUp once to learn the slice, then PgUp or PgDn to the target."""
        app = self.app
        mark = app.mark()
        app.key("Prior")
        at = int(app.wait_any("detail/slice", mark))
        if at != target:
            mark = app.mark()
            xdotool("key", "--repeat", abs(at - target), "--delay", 20, "Prior" if at > target else "Next")
            app.wait_value("detail/slice", target, mark)

    def step(self, key, path, value=None, tolerance=1e-6):
        app = self.app
        mark = app.mark()
        app.key(key)
        if value is None:
            return number(app.wait_any(path, mark))
        return number(app.wait_value(path, value, mark, tolerance))

    # -- the steps --

    def open(self):
        config = write_filter_config(self.workdir, self.program)
        app = self.app = Visit(self.program, os.path.join(self.sample, "dicom"), self.workdir, "sample",
                               ["-c" + config])
        app.depth = SampleCT.depth
        app.start(len(SAMPLE_ROWS), CT, "256x256")

        def first_sight(img):
            with mock.patch.object(app_e2e, "G", SampleCT):
                layout = Layout(img, app.split)
            picture_box(crop(img, layout.detail))
            return layout

        app.layout = wait_for("the sample in the window", on_screen(app, first_sight), 30)
        app.detail = app.layout.detail
        rows, selected = tree_rows(app.shot(), app.layout)
        check(len(rows) == 2 + len(SAMPLE_ROWS) and selected == CT_ROW,
              "the study tree shows %d rows with row %s selected, expected %d with the CT's (%d)"
              % (len(rows), selected, 2 + len(SAMPLE_ROWS), CT_ROW))
        overlay = number(app.value("detail/overlay") or "0")
        check(overlay, "no overlay series after the start")
        self.walk = CommandWalk(app, self.table)
        self.still = app.settle()
        check(app.value(LEVEL + "low") == "0" and app.value(LEVEL + "high") == "80",
              "the CT first shown in %s … %s HU, not the brain window" % (app.value(LEVEL + "low"),
                                                                         app.value(LEVEL + "high")))
        self.white = grey(self.still)
        self.grain = noise(self.still)
        check(abs(self.white - 255 * WHITE_HU / 80) <= 12,
              "white matter at grey %.0f in the brain window, expected about %.0f" % (self.white, 255 * WHITE_HU / 80))
        self.report.append("open: 6 series, the CT shown in the brain window, white matter at grey %.0f" % self.white)

    def pick_series(self):
        app = self.ready()
        pictures = {}
        # The volumes first: their navigation panels keep the CT's shapes, and the tree its
        # place. The RGB screenshot, one picture, leaves only the transaxial view and the tree
        # moves up: End goes on from it to the CT.
        for row in (2, JPEG_ROW, JPEGLS_ROW, 7, 3):
            self.click_row(row, *SAMPLE_ROWS[row - 2], selected=row != 3)
            pictures[row] = app.settle()
        # The JPEG lossless and the JPEG-LS copies hold the same voxels: the same picture.
        copies = difference(pictures[JPEG_ROW], pictures[JPEGLS_ROW])
        check(copies < 0.5, "the JPEG lossless and JPEG-LS copies differ on the screen by %.1f" % copies)
        check(coloured(pictures[2]) > 0.3, "the PET series not in the PET colours")
        check(coloured(pictures[3]) > 0.1, "the RGB screenshot shows no colour")
        mark = app.mark()
        app.key("End")
        app.wait_shown(CT, "256x256", mark)
        wait_for("the CT's row selected", on_screen(app, selected_row(app.layout, CT_ROW)), 10)
        # End and Home: the next series and back.
        mark = app.mark()
        app.key("End")
        app.wait_shown(*SAMPLE_ROWS[CT_ROW - 1], mark)
        wait_for("the next row selected", on_screen(app, selected_row(app.layout, CT_ROW + 1)), 10)
        mark = app.mark()
        app.key("Home")
        app.wait_shown(CT, "256x256", mark)
        wait_for("the CT's row selected", on_screen(app, selected_row(app.layout, CT_ROW)), 10)
        d = difference(app.settle(), self.still)
        check(d < 1, "the CT comes back changed by %.1f" % d)
        self.report.append("pick: each row clicked and shown, the JPEG lossless and JPEG-LS copies alike on the "
                           "screen (%.2f); End, End, Home" % copies)

    def wheel_level(self):
        app = self.ready()
        w, h = size(app.layout.detail)
        center = number(app.value(LEVEL + "center"))
        mark = app.mark()
        app.wheel(w // 20, h // 2, 2)
        app.wait_value(LEVEL + "center", center + 20, mark)
        expected = self.white * 80 / WHITE_HU * (WHITE_HU - 20) / 80
        app.wait_view("white matter darker, at %.0f" % expected, lambda d: abs(grey(d) - expected) <= 6)
        mark = app.mark()
        app.wheel(w // 20, h // 2, -2)
        app.wait_value(LEVEL + "center", center, mark)
        app.wait_view("the first picture back", lambda d: difference(d, self.still) < 1)
        self.report.append("wheel in the left strip: center %g -> %g -> %g" % (center, center + 20, center))

    def presets(self):
        self.ready()
        for key, low, high in (("F3", -160, 240), ("F4", -450, 1050), ("F2", 0, 80)):
            self.window(key, low, high)
        self.report.append("F3, F4, F2: soft tissue, bone, brain windows, white matter's grey as each maps it")

    def colour_bar(self):
        app = self.ready()
        brain = app.shot()
        self.window("F3", -160, 240)
        first = [r[0] for r in control_lines(app, brain)]

        def soft_lines(img):
            rows = control_lines(app, img)
            return len(rows) == 2 and [r[0] for r in rows] != first and [img]

        [soft] = wait_for("the soft tissue window on the colour bar", on_screen(app, soft_lines), 10)
        bar = ColourBar(app, [(0, 80, brain), (-160, 240, soft)])
        high_y, low_y = bar.lines(soft)
        y = (low_y + high_y) // 2
        before = level_values(app)
        shift = bar.hu(y + 20) - bar.hu(y)
        mark = app.mark()
        drag(bar.x, y, y + 20)
        tolerance = (1 + bar.spread) / bar.h * 4095
        app.wait_value(LEVEL + "low", before["low"] + shift, mark, tolerance)
        app.wait_value(LEVEL + "high", before["high"] + shift, mark, tolerance)
        after = level_values(app)
        check(abs(after["width"] - before["width"]) < 1e-6, "the band's drag changed the width")
        expected = self.white * 80 / WHITE_HU * (WHITE_HU - after["low"]) / (after["high"] - after["low"])
        app.wait_view("white matter at %.0f in the dragged window" % expected, lambda d: abs(grey(d) - expected) <= 6)
        self.window("F2", 0, 80)
        self.report.append("colour bar: the band dragged 20 rows down, low %.0f -> %.0f, high %.0f -> %.0f HU"
                           % (before["low"], after["low"], before["high"], after["high"]))

    def slabs(self):
        app = self.ready()
        app.key("t")
        thickness = 1
        for _ in range(3):
            thickness = self.step("shift+Insert", "detail/thickness", thickness + 7)
        slab = app.wait_view("a smoother slab", lambda d: noise(d) < 0.5 * self.grain)
        mark = app.mark()
        app.key("ctrl+m")
        app.wait_value("detail/mip-detail", 1, mark)
        mip = app.wait_view("the slab's maximum, brighter", lambda d: grey(d) > grey(slab) + 15)
        # M: the navigation views project slabs; the coronal view shows the skull and grows
        # brighter. M again: the thin slices back.
        coronal = brightness(crop(app.shot(), app.layout.coronal))
        for on, key, path in ((1, "m", "detail/mip-navi"), (0, "m", "detail/mip-navi"),
                              (0, "ctrl+m", "detail/mip-detail")):
            mark = app.mark()
            app.key(key)
            app.wait_value(path, on, mark)
            if key == "m":
                self.navigation_follows(on, coronal)
        app.key("t")
        self.step("ctrl+0", "detail/thickness", 1)
        app.wait_view("the thin slice back", lambda d: difference(d, self.still) < 1)
        self.report.append("T, Shift+Ins x3: thickness %g, grain %.0f -> %.0f; Ctrl+M: MIP, grey %.0f -> %.0f; "
                           "M: the navigation views projected, M: thin" % (thickness, self.grain, noise(slab),
                                                                           grey(slab), grey(mip)))

    def oblique(self):
        app = self.ready()
        app.key("n")
        angle = self.step("shift+Insert", "detail/angle")
        check(angle != 0, "the angle did not step")
        app.wait_view("an oblique picture", lambda d: difference(d, self.still) > 3)
        self.step("shift+Delete", "detail/angle", 0)
        app.wait_view("the straight picture back", lambda d: difference(d, self.still) < 1)
        self.report.append("N, Shift+Ins: detail/angle %g, the picture oblique; Shift+Del: back" % angle)

    def swaps(self):
        app = self.ready()
        box = picture_box(self.still)

        def cut(d):
            return d[box[1]:box[3], box[0]:box[2]]

        path = app.value("detail/path")
        seen = []
        for name, turn in (("SwapLRAction", np.fliplr), ("SwapBUAction", np.flipud),
                           ("SwapLUAction", lambda a: a.transpose(1, 0, 2))):
            mark = app.mark()
            app.menu(name)
            new = app.wait_any("detail/path", mark)
            expected = turn(cut(self.still))
            app.wait_view("the picture as %s turns it" % name, lambda d: turned(cut(d), expected, cut(self.still)))
            mark = app.mark()
            app.menu(name)
            app.wait_line("detail/path = " + path, r"^Change detail/path = %s$" % path, mark)
            app.wait_view("the picture back", lambda d: difference(d, self.still) < 1)
            seen.append("%s %s" % (name, new))
        for name in ("SwapNFAction", "SwapFRAction", "SwapUFAction"):
            seen.append(self.walk.effect_Swap(self.walk.by_name[name], lambda n=name: app.menu(n)))
        app.wait_view("the picture back", lambda d: difference(d, self.still) < 1)
        self.report.append("swaps from the menu: " + "; ".join(seen))

    def overlay(self):
        app = self.ready()
        check(coloured(self.still) < 0.01, "the CT in colour before the overlay's alpha")
        app.key("a")
        alpha = 0
        while alpha < 40:
            alpha = self.step("shift+Insert", "detail/alpha")
        try:
            blended = app.wait_view("the PET's colours over the CT", lambda d: coloured(d) > 0.2, 5)
        except CheckFailed:
            self.faults.note("overlay", "alpha %g over the CT shows the PET series black, not in its colours, until "
                             "the PET has been shown once (it is the overlay from the start)" % alpha,
                             app.shots + "-%02d.png" % app.shot_count)
            self.click_row(2, *SAMPLE_ROWS[0])
            self.click_row(CT_ROW, CT, "256x256")
            blended = app.wait_view("the PET's colours over the CT", lambda d: coloured(d) > 0.2)
        fused = []
        for value in (1, 2):
            self.step("r", "detail/chroma-fusion", value)
            fused.append(app.wait_view("the picture fused (%d)" % value, lambda d: difference(d, blended) > 3))
        self.step("r", "detail/chroma-fusion", 0)
        app.wait_view("the blend back", lambda d: difference(d, blended) < 1)
        app.key("a")
        self.step("ctrl+0", "detail/alpha", 0)
        app.wait_view("the CT alone again", lambda d: difference(d, self.still) < 1)
        self.report.append("A, Shift+Ins: alpha %g, %.0f %% of the picture in colour; R, R: chroma fusion 1, 2 "
                           "each another picture (%.0f, %.0f); R: the blend back"
                           % (alpha, 100 * coloured(blended), difference(fused[0], blended),
                              difference(fused[1], blended)))

    def animations(self):
        app = self.ready()
        # The sweep fades the overlay in and out once, over 3 s, and ends by itself: the PET's
        # colours come and go, and the CT is left as it was.
        mark = app.mark()
        app.key("ctrl+e")
        app.wait_value("detail/sweep", 1, mark)
        shares = []

        def ended():
            shares.append(coloured(crop(app.shot(), app.detail)))
            return ("detail/sweep", "0") in app.changes(mark)

        wait_for("the sweep's end", ended, 15)
        peak = max(shares)
        # A screenshot takes a good part of a second: the fade out shows as the CT alone at the end.
        self.faults.check(peak > 0.2, "sweep",
                          "the sweep (Ctrl+E, 3 s) does not fade the PET in over the CT: the part of the picture "
                          "in colour, screenshot by screenshot: %s" % " ".join("%.2f" % v for v in shares),
                          app.shots + "-%02d.png" % app.shot_count)
        try:
            app.wait_view("the CT alone again", lambda d: difference(d, self.still) < 1, 5)
        except CheckFailed:
            self.faults.note("sweep", "after the sweep (Ctrl+E) ended by itself the detail view goes on showing the "
                             "PET laid over the CT (%.0f %% of the picture in colour, alpha 0) until something else "
                             "repaints it" % (100 * coloured(app.settle())), app.shots + "-%02d.png" % app.shot_count)
            app.sync()
            app.wait_view("the CT alone after PgUp, PgDn", lambda d: difference(d, self.still) < 1)
        # The swing tilts the slice back and forth.
        still = app.settle()
        mark = app.mark()
        app.key("ctrl+w")
        app.wait_value("detail/swing", 1, mark)
        app.wait_view("the slice swinging", lambda d: difference(d, still) > 3)
        mark = app.mark()
        app.key("ctrl+w")
        app.wait_value("detail/swing", 0, mark)
        stopped = app.settle()
        self.faults.check(difference(stopped, still) < 1, "swing",
                          "after the swing stopped the detail view stays tilted (%.1f from the picture before)"
                          % difference(stopped, still), app.shots + "-%02d.png" % app.shot_count)
        # The slice loop from the menu, turned backward and stopped by pasting the copied parameters.
        looped = self.walk.animate(self.walk.by_name["AnimateAction"], lambda: app.menu("AnimateAction"))
        self.report.append("Ctrl+E: at most %.0f %% of the picture in the PET's colours; Ctrl+W: the slice swung; "
                           "menu Animate: %s" % (100 * peak, looped))

    def series_operations(self):
        app = self.ready()
        # Mirror top and bottom: the head rest's bar goes from the bottom to the top.
        check(bar_row(self.still) > 0.85, "the head rest's bar is not at the bottom of the picture")
        mark = app.mark()
        app.key("shift+ctrl+y")
        app.wait_shown(CT, "256x256", mark)
        app.wait_view("the bar at the top", lambda d: bar_row(d) < 0.15)
        mark = app.mark()
        app.key("alt+r")
        app.wait_view("the picture as loaded", lambda d: difference(d, self.still) < 1)
        app.check_clean(mark)
        # Upscale: twice the slices, the same place in the head. The slice's node follows.
        slice_ = int(app.value("detail/slice"))
        mark = app.mark()
        app.key("ctrl+u")
        app.wait_shown(CT, "256x256", mark)
        upscaled = app.settle()
        check(abs(grey(upscaled) - self.white) <= 4, "the upscaled CT shows grey %.0f in the middle, not white "
              "matter's %.0f" % (grey(upscaled), self.white))
        traced = int(app.value("detail/slice"))
        shot = app.shots + "-%02d.png" % app.shot_count
        mark = app.mark()
        app.key("Next")
        following = int(app.wait_any("detail/slice", mark))
        app.wait_view("the next of the doubled slices, the same place", lambda d: abs(grey(d) - self.white) <= 4
                      and abs(bar_row(d) - bar_row(upscaled)) < 0.02)
        self.faults.check(following == traced + 1, "upscale",
                          "after Ctrl+U (the CT's 160 slices made %d) the view shows slice %d, yet the Slice slider "
                          "and the trace still say %d: detail/slice took the new number without a change notice "
                          "(PgDn then gives %d)" % (2 * SampleCT.depth, following - 1, traced, following), shot)
        # Revert: the cube as loaded, at the place shown (slice 80 or its neighbour: the place
        # lies between them).
        mark = app.mark()
        app.key("alt+r")
        try:
            app.wait_view("the CT as loaded", lambda d: difference(d, self.still) < 1, 5)
            reverted = "the same place"
        except CheckFailed:
            traced = [int(v) for p, v in app.changes(mark) if p == "detail/slice"]
            reverted = "slice %s" % (traced[-1] if traced else "unchanged")
            self.faults.check(traced and abs(traced[-1] - slice_) <= 1, "revert",
                              "Alt+R after the upscale (at slice %d of %d, the head's middle) leaves the Slice slider "
                              "at %d, past the last of the %d slices, and the detail view shows the neck (the last "
                              "slice): the slice number is kept, not the place"
                              % (following, 2 * SampleCT.depth, following, SampleCT.depth),
                              app.shots + "-%02d.png" % app.shot_count)
            self.go_to_slice(slice_)
            app.wait_view("the CT as loaded", lambda d: difference(d, self.still) < 1)
        # Filter: our preset's key; the grain goes, Alt+R brings it back.
        mark = app.mark()
        app.key(FILTER_KEY)
        app.wait_value("detail/series/filter", 1, mark)
        filtered = app.wait_view("the filtered CT, without its grain", lambda d: noise(d) < 0.4 * self.grain, 30)
        app.key("alt+r")
        app.wait_view("the grain back", lambda d: noise(d) > 0.8 * self.grain, 20)
        app.check_clean(mark)
        self.report.append("Shift+Ctrl+Y: the head rest at the top, Alt+R back; Ctrl+U: PgDn to slice %d of %d, the "
                           "same place; Alt+R: %s; Alt+F9 (filter 1): grain %.0f -> %.0f, Alt+R back"
                           % (following, 2 * SampleCT.depth, reverted, self.grain, noise(filtered)))

    def resample_aligned(self):
        """N and three large steps tilt the slice; Enter turns the cube so that at angle 0 the view
        shows what the tilted slice showed (not what the opposite angle shows)."""
        app = self.ready()
        app.key("n")
        pictures = {}
        for key, count in (("shift+Delete", 3), ("shift+Insert", 6)):
            for _ in range(count):
                angle = self.step(key, "detail/angle")
            pictures[angle] = app.settle()
        check(angle > 0 and -angle in pictures and difference(pictures[angle], self.still) > 8,
              "no oblique pictures at +-%g degrees" % angle)
        mark = app.mark()
        app.key("Return")
        app.wait_value("detail/angle", 0, mark)
        app.wait_line("the resampled cube's picture", r"^Built ", mark, 30)
        kept = app.settle()
        to_tilted, to_opposite = difference(kept, pictures[angle]), difference(kept, pictures[-angle])
        self.faults.check(to_tilted < to_opposite, "resample aligned",
                          "Enter at angle %g turns the cube the other way: at angle 0 it shows what angle %g showed "
                          "(%.1f apart), not what %g showed (%.1f apart)" % (angle, -angle, to_opposite, angle,
                                                                              to_tilted),
                          app.shots + "-%02d.png" % app.shot_count)
        app.key("alt+r")
        app.wait_view("the straight picture back", lambda d: difference(d, self.still) < 1, 20)
        self.report.append("N, Shift+Ins: angle %g; Enter: angle 0, the cube resampled, %.1f from the tilted picture, "
                           "%.1f from the opposite one; Alt+R back" % (angle, to_tilted, to_opposite))

    def copy_paste(self):
        app = self.ready()
        self.window("F3", -160, 240)
        self.walk.menu("Copy params")
        self.click_row(JPEG_ROW, *SAMPLE_ROWS[JPEG_ROW - 2])
        app.wait_view("the copy in its own brain window", lambda d: abs(grey(d) - self.white) <= 8)
        mark = app.mark()
        self.walk.menu("Paste params")
        app.wait_value(LEVEL + "low", -160, mark)
        app.wait_value(LEVEL + "high", 240, mark)
        soft = self.white * 80 / WHITE_HU * (WHITE_HU + 160) / 400
        app.wait_view("the copy in the soft tissue window", lambda d: abs(grey(d) - soft) <= 8)
        self.click_row(CT_ROW, CT, "256x256")
        self.window("F2", 0, 80)
        self.report.append("F3 on the CT, Copy params; the JPEG copy shown, Paste params: its window -160 … 240 HU")

    def add_folder(self):
        app = self.ready()
        # The tree's rows left of the scroll bar the second study brings.
        left, top, right, bottom = app.layout.tree
        tree = types.SimpleNamespace(tree=(left, top, right - 24, bottom))
        rows, _ = tree_rows(app.shot(), tree)
        mark = app.mark()
        app.key("ctrl+d")
        title = app.window_name(app.wait_window("the folder dialog", "DICOM directory o add:"))
        xdotool("type", "--delay", 5, "--", self.second)
        app.key("Return")
        _, line = app.wait_line("the second study loaded", r"^Loaded \d+ objects$", mark, 60)
        app.wait_no_windows("the folder dialog closed")
        app.focus()
        check(line == "Loaded %d objects" % (len(SAMPLE_ROWS) + 2), "after the second study: " + line)
        wait_for("more rows in the study tree", on_screen(app, lambda i: len(tree_rows(i, tree)[0]) > len(rows)), 10)
        shown = [l for l in app.lines()[mark:] if l.startswith("Showing ")]
        check(not shown or shown[-1] == "Showing " + CT, "the second study changed the series shown: %s" % shown)
        app.check_clean(mark)
        self.report.append("Ctrl+D, the folder typed into the dialog \"%s\": \"%s\"" % (title, line))

    def exports(self):
        app = self.ready()
        path, img = app.export_jpeg()
        check(os.path.basename(path) == ACCESSION + "-01.jpg", "the first picture saved as " + path)
        # The picture as the screen shows it, below the legend at its top.
        left, top, right, bottom = picture_box(self.still)
        shown = self.still[top:bottom, left:right]
        check(abs(img.shape[1] - shown.shape[1]) <= 2 and abs(img.shape[0] - shown.shape[0]) <= 2,
              "%s: %dx%d, the picture on the screen %dx%d" % ((path,) + img.shape[1::-1] + shown.shape[1::-1]))
        below = img.shape[0] // 5
        check(difference(img[below:], shown[below:]) < 3, "%s is not the picture on the screen (%.1f apart)"
              % (path, difference(img[below:], shown[below:])))
        mark = app.mark()
        app.key("ctrl+r")
        app.wait_value("detail/rotate", 1, mark)
        mark = app.mark()
        app.key("ctrl+s")
        gif = app.saved(ACCESSION + "-02.gif", mark, 90)
        info, loop, frames = gif_file(gif)
        check(len(info) == 72 and loop == 0, "%s: %d frames, loop count %d" % (gif, len(info), loop))
        turning = [difference(frames[0][::4, ::4], f[::4, ::4]) for f in frames[::9]]
        check(max(turning) > 10, "the GIF's frames do not turn: %s" % turning)
        mark = app.mark()
        app.save_dialog("turn.mp4")
        movie = app.saved("turn.mp4", mark, 90)
        stream, _ = video_file(movie)
        check(int(stream["nb_read_frames"]) == 72, "%s: %s frames" % (movie, stream["nb_read_frames"]))
        mark = app.mark()
        app.key("ctrl+r")
        app.wait_value("detail/rotate", 0, mark)
        self.report.append("Ctrl+S: %s %dx%d; Ctrl+R, Ctrl+S: %s, 72 frames %dx%d; Shift+Ctrl+S turn.mp4: %s, %s "
                           "frames %sx%s" % (os.path.basename(path), img.shape[1], img.shape[0], os.path.basename(gif),
                                             frames.shape[2], frames.shape[1], stream["codec_name"],
                                             stream["nb_read_frames"], stream["width"], stream["height"]))

    def close(self):
        """No error in the whole session, and a clean end; the window goes in any case, before the
        real files' runs take the screen."""
        try:
            app = self.ready()
            app.check_clean(0)
            check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
        finally:
            if self.app:
                self.app.kill()

    def steps(self):
        return [("sample: " + name.replace("_", " "), getattr(self, name)) for name in (
            "open", "overlay", "pick_series", "wheel_level", "presets", "colour_bar", "slabs", "oblique", "swaps",
            "animations", "series_operations", "resample_aligned", "copy_paste", "add_folder", "exports", "close")]


# ---- real files ----

def real_sets(workdir):
    """The folders of real files: (name, folder, objects loaded, first caption and picture, the
    keys to the series the steps work on, each with the caption and picture it shows and whether
    that is in colour, and whether a slab shows more than one slice)."""
    dicomdir = os.path.join(workdir, "dicomdir")
    shutil.copytree(os.path.join(PYDICOM_FILES, "dicomdirtests"), dicomdir)
    jpeg = os.path.join(workdir, "jpeg")
    os.makedirs(jpeg)
    for name in ("MR_small_jpeg_ls_lossless.dcm", "SC_rgb_jpeg_gdcm.dcm"):
        shutil.copy(os.path.join(PYDICOM_FILES, name), jpeg)
    return [
        # The DICOMDIR folders (the series shown first has no pixels today): End to a CT volume
        # whose 4 slices lie 68 mm apart, farther than a slab reaches.
        ("dicomdir", dicomdir, 15, (), [("End", "Routine Brain", "16x16", False)], False),
        # JPEG-LS (1.2.840.10008.1.2.4.80) MR and JPEG lossless (.70) RGB, single frames.
        ("jpeg", jpeg, 2, ("", "64x64"), [("End", "", "100x100", True), ("Home", "", "64x64", False)],
         False),
    ]


def core_session(program, workdir, name, folder, objects, first, picks, volume, report):
    """Open, pick a series, window/level by the wheel, thickness and MIP, a swap, a JPEG."""
    app = Visit(program, folder, workdir, name)
    try:
        app.start(objects, *first)
        for key, caption, picture, colour in picks:
            app.seek(key, caption, picture)
            if colour:
                app.wait_view("the RGB picture in colour", lambda d: coloured(d) > 0.1)
        # Fit both sides: a small picture fills the view.
        for _ in range(4):
            if number(app.value("detail/fit")) == 1:
                break
            mark = app.mark()
            app.key("f")
            app.wait_any("detail/fit", mark)
        check(number(app.value("detail/fit")) == 1, "F did not reach fit mode 1")
        still = app.settle()
        picture_box(still)
        # The wheel in the left strip moves the window.
        w, h = size(app.detail)
        mark = app.mark()
        app.wheel(w // 20, h // 2, 3)
        _, line = app.wait_line("a change of the level", r"^Change %s(center|low|high) = " % re.escape(LEVEL), mark, 10)
        app.wait_view("the picture in the new window", lambda d: difference(d, still) > 2)
        mark = app.mark()
        app.wheel(w // 20, h // 2, -3)
        app.wait_view("the first window back", lambda d: difference(d, still) < 1)
        # A slab of 22 pixels and its MIP.
        app.key("t")
        for thickness in (8, 15, 22):
            mark = app.mark()
            app.key("shift+Insert")
            app.wait_value("detail/thickness", thickness, mark)
        mark = app.mark()
        app.key("ctrl+m")
        app.wait_value("detail/mip-detail", 1, mark)
        if volume:
            app.wait_view("the slab's maximum", lambda d: difference(d, still) > 1)
        mark = app.mark()
        app.key("ctrl+m")
        app.wait_value("detail/mip-detail", 0, mark)
        mark = app.mark()
        app.key("ctrl+0")
        app.wait_value("detail/thickness", 1, mark)
        app.wait_view("the thin slice back", lambda d: difference(d, still) < 1)
        # A swap: left and right.
        box = picture_box(still)
        cut = still[box[1]:box[3], box[0]:box[2]]
        mark = app.mark()
        app.menu("SwapLRAction")
        path = app.wait_any("detail/path", mark)
        app.wait_view("the picture mirrored", lambda d: turned(d[box[1]:box[3], box[0]:box[2]], cut[:, ::-1], cut))
        mark = app.mark()
        app.menu("SwapLRAction")
        app.wait_any("detail/path", mark)
        app.wait_view("the picture back", lambda d: difference(d, still) < 1)
        # The JPEG.
        saved, img = app.export_jpeg()
        check(img.std() > 5, "%s is blank" % saved)
        app.check_clean(0)
        check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
        report.append("%s: \"%s\", the window by the wheel, a slab of 22 pixels and its MIP, %s, %s %dx%d"
                      % (name, line, path, os.path.basename(saved), img.shape[1], img.shape[0]))
    finally:
        app.kill()


def test_jpeg_ls_picture(program, workdir, report):
    """The JPEG-LS file's picture is that of its uncompressed original."""
    pictures = []
    for name, file in (("jpegls", "MR_small_jpeg_ls_lossless.dcm"), ("plain", "MR_small.dcm")):
        folder = os.path.join(workdir, name)
        os.makedirs(folder)
        shutil.copy(os.path.join(PYDICOM_FILES, file), folder)
        app = Visit(program, folder, workdir, name)
        try:
            app.start(1, "", "64x64")
            mark = app.mark()
            app.key("f", "f")
            app.wait_value("detail/fit", 1, mark)
            pictures.append(app.settle())
            check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
        finally:
            app.kill()
    d = float(np.abs(pictures[0] - pictures[1]).max())
    check(d == 0, "the JPEG-LS file's picture differs from the uncompressed one's by up to %g" % d)
    report.append("MR_small_jpeg_ls_lossless.dcm on the screen = MR_small.dcm, pixel for pixel")


def test_large_series(program, workdir, report):
    folder = os.path.join(workdir, "large")
    subprocess.run([sys.executable, os.path.join(REPOSITORY, "bench", "loading", "make_series.py"), folder],
                   check=True, capture_output=True)
    try:
        core_session(program, workdir, "large", folder, 1, ("Body 0.625 mm", "512x512"), [], True, report)
    finally:
        shutil.rmtree(folder)


def main():
    if len(sys.argv) != 3:
        print("usage: session_e2e.py TARVICON COMMAND_TABLE", file=sys.stderr)
        return 2
    program, table_program = (os.path.abspath(a) for a in sys.argv[1:])
    check(os.environ.get("DISPLAY"), "no X display: run under xvfb-run")
    table = json.loads(subprocess.run([table_program], check=True, capture_output=True, text=True).stdout)
    workdir = tempfile.mkdtemp(prefix="tarvicon-session-e2e-")
    started = time.monotonic()
    sample = os.path.join(workdir, "sample")
    subprocess.run([sys.executable, os.path.join(REPOSITORY, "scripts", "make_sample.py"), sample],
                   check=True, capture_output=True)
    second = write_study(os.path.join(workdir, "second"))
    faults = Faults()
    session = SampleSession(program, workdir, table, sample, second, faults)
    real = []
    checks = session.steps()
    try:
        checks += [("real files: " + s[0], lambda s=s: core_session(program, workdir, *s, real))
                   for s in real_sets(workdir)]
        checks += [("real files: the JPEG-LS picture", lambda: test_jpeg_ls_picture(program, workdir, real)),
                   ("real files: 512 x 512 x 400", lambda: test_large_series(program, workdir, real))]
        failures = run_checks(checks)
    finally:
        if session.app:
            session.app.kill()
    print("\nThe session on the sample study:")
    for line in session.report:
        print("  " + line)
    print("\nThe real files:")
    for line in real:
        print("  " + line)
    if faults.found:
        print("\nFaults of the program:")
        for step, text, shot in faults.found:
            print("  %s: %s%s" % (step, text, " (%s)" % shot if shot else ""))
        failures += 1
    print("time: %.0f s" % (time.monotonic() - started))
    return finish(workdir, failures, "screenshots, traces and files")


if __name__ == "__main__":
    sys.exit(main())
