"""tarvicon's export in a real X window, driven like a user on the phantom CT and PET study. Every
file the viewer writes is read back:

- Shift+S asks the desktop to open the export folder (a stand-in xdg-open notes what it is asked
  to open), made empty first when it is not there yet;
- Shift+Ctrl+S, the save dialog accepted with Enter, the legend box edited: the proposed
  "1234-01.jpg", a JPEG of the picture with the edited legend, white on a black box at the top
  left;
- Alt+S, the selection frame on the view: a ".jpg" name typed into the dialog gives a JPEG of the
  frame's size (the remembered size the settings start with), showing what the view shows in
  the frame; a ".bmp" name the whole view;
- Ctrl+S without a dialog: the next number, 1234-03.jpg after 1234-01.jpg and 1234-02.bmp, with
  the series' own legend, the one the legend box was filled with;
- Ctrl+R (the rotation), Ctrl+S: a GIF of 72 frames, delay 10, looping endlessly, drawn as the
  slice plane turns 5 degrees a frame about the vertical through the cross: the sphere's disc
  where the plane cuts it, the series' depth across at +-90 degrees; Shift+Ctrl+S with an ".mp4"
  name: a video of 72 frames of the GIF's size (made even) whose first frame is the GIF's;
- Ctrl+S, then Esc while the progress dialog shows: no file, nothing left behind, the viewer
  goes on;
- "Save cuboid" from the context menu: cuboid.cub holding the shown series' cube;
- write failures: a name in a folder that does not exist, typed into the dialog; a second run
  whose export folder cannot be made (a file stands in its place) and which has no program to
  open a folder with: each reported as an error line of the trace, the viewer goes on.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    export_e2e.py BUILD/bin/tarvicon BUILD/bin/command_table
The documents, cache and settings folders are temporary. Screenshots, traces and exported files
are kept when a check fails, or always with TARVICON_E2E_KEEP=1.
"""

import json
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import phantom  # noqa: E402
from app_e2e import size, write_study  # noqa: E402
from commands_e2e import CommandWalk, Session  # noqa: E402
from e2e_support import check, finish, run_checks, wait_for, xdotool  # noqa: E402
from phantom import Geometry as G  # noqa: E402

EXPORT_PATH = ("Melvor2", "DICOM", "Export")
# The selection frame's size the settings hold when the viewer starts.
SELECTION = (320, 240)
CUBOID_HEADER = 44
# What the stand-in xdg-open writes: the arguments it was called with, one a line.
OPENED_LOG = "xdg-open.log"


def export_folder(documents):
    return os.path.join(documents, *EXPORT_PATH)


def folder_launcher(folder, log):
    """A folder with an xdg-open that notes its arguments in log, the way the desktop's open is
    reached; returns the folder."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "xdg-open")
    with open(path, "w") as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s"\n' % log)
    os.chmod(path, 0o755)
    return folder


class ExportSession(Session):
    """The viewer with its documents, cache and settings folders of this test and the frame's
    size in its settings."""

    def __init__(self, program, study, workdir, name, documents, path):
        config = os.path.join(workdir, name + "-config")
        self.settings = os.path.join(config, "Quintar", "tarvicon.conf")
        os.makedirs(os.path.dirname(self.settings), exist_ok=True)
        with open(self.settings, "w") as f:
            f.write("[General]\nSelectionWidth=%d\nSelectionHeight=%d\n" % SELECTION)
        self.folder = export_folder(documents)
        self.cache = os.path.join(workdir, name + "-cache")
        saved = dict(os.environ)
        os.environ.update(XDG_DOCUMENTS_DIR=documents, XDG_CACHE_HOME=self.cache, PATH=path)
        try:
            super().__init__(program, [study], workdir, name)
        finally:
            os.environ.clear()
            os.environ.update(saved)

    def saved(self, name, after, timeout=30):
        """Waits for the trace line "Saved FOLDER/name" and for the windows but the main one to
        go; gives the main window the keyboard again; returns the file's path."""
        path = os.path.join(self.folder, name)
        _, line = self.wait_line("\"Saved %s\"" % path, r"^(Saved %s|Error .*)$" % re.escape(path), after, timeout)
        check(line.startswith("Saved "), "instead of \"Saved %s\": %s" % (path, line))
        self.wait_no_windows("the export's windows closed")
        self.focus()
        return path

    def error(self, what, after, timeout=30):
        """The text of the first error line from trace index after on, once the windows but the
        main one have gone."""
        _, line = self.wait_line(what, r"^Error ", after, timeout)
        self.wait_no_windows("the export's windows closed")
        self.focus()
        return line[len("Error "):]

    def save_dialog(self, name=None, legend=None):
        """Shift+Ctrl+S: in the save dialog a typed name, or Enter for the proposed one; then in
        the legend box a typed legend, or Enter for the one it holds."""
        self.key("shift+ctrl+s")
        dialog = self.wait_window("the save dialog")
        check(self.window_name(dialog) == "Tarvicon", "the save dialog is titled \"%s\"" % self.window_name(dialog))
        if name is not None:
            self.key("ctrl+a")
            xdotool("type", "--delay", 5, "--", name)
        self.key("Return")

        def legend_box():
            windows = self.windows()
            return dialog not in windows and windows and windows[0]

        box = wait_for("the legend box", legend_box, 10)
        check(self.window_name(box) == "Tarvicon", "the legend box is titled \"%s\"" % self.window_name(box))
        if legend is not None:
            self.key("ctrl+a")
            xdotool("type", "--delay", 5, "--", legend)
        self.key("Return")

    def files(self):
        try:
            return sorted(os.listdir(self.folder))
        except FileNotFoundError:
            return None


# ---- reading the files back ----

def run(*args):
    return subprocess.run(list(map(str, args)), check=True, capture_output=True).stdout


def read_picture(path):
    """The file's format as ImageMagick names it and its pixels [row, column, RGB]."""
    kind, width, height = run("identify", "-format", "%m %w %h\n", path).decode().split()[:3]
    pixels = np.frombuffer(run("convert", path, "-depth", "8", "rgb:-"), dtype=np.uint8)
    return kind, pixels.reshape(int(height), int(width), 3).astype(np.int32)


def grey(values):
    """The phantom's body in the brain window (64) and not the legend's black or white."""
    return (values >= 44) & (values <= 84)


def legend_box(img):
    """Width and height of the black box at the top left and the count of white pixels in it.
    The box ends at the first row whose first pixels (the legend's leading blank) are the body's
    grey, and at the first column that is grey all down the box but for JPEG's noise; a legend
    wider than the picture fills its width."""
    level = grey(img.max(axis=2))
    rows = np.flatnonzero(level[:, :3].all(axis=1))
    height = int(rows[0]) if len(rows) else 0
    check(height >= 10, "no legend box at the top left (column 0 starts with %s)" % img[:4, 0].tolist())
    columns = np.flatnonzero(level[:height].mean(axis=0) >= 0.9)
    width = int(columns[0]) if len(columns) else img.shape[1]
    box = img[:height, :width]
    white = int((box.min(axis=2) > 200).sum())
    black = int((box.max(axis=2) < 40).sum())
    check(white >= 30 and black > box.shape[0] * box.shape[1] // 2,
          "the legend box %dx%d holds %d white and %d black pixels" % (width, height, white, black))
    return width, height, white


def bright_centre(img, top):
    """The centre (x, y) of the sphere's white disc below row top (under the legend)."""
    mask = img[top:].min(axis=2) > 150
    ys, xs = np.nonzero(mask)
    check(len(xs) > 50, "no sphere in the picture")
    return xs.mean(), top + ys.mean()


def gif_file(path):
    """Per frame (delay, frame count, width, height), the NETSCAPE2.0 loop count and the frames
    composed [frame, row, column, RGB]."""
    info = [line.split() for line in run("identify", "-format", "%T %n %w %h\n", path).decode().splitlines()]
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(b"NETSCAPE2.0")
    check(at > 0 and data[at + 11:at + 13] == b"\x03\x01", "no NETSCAPE2.0 loop extension")
    loop = struct.unpack("<H", data[at + 13:at + 15])[0]
    width, height = int(info[0][2]), int(info[0][3])
    frames = np.frombuffer(run("convert", path, "-coalesce", "-depth", "8", "rgb:-"), dtype=np.uint8)
    return info, loop, frames.reshape(-1, height, width, 3).astype(np.int32)


def video_file(path):
    """ffprobe's codec, size and counted frames of the first video stream, and its first frame
    decoded [row, column, RGB]."""
    probe = json.loads(run("ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                           "stream=codec_name,width,height,nb_read_frames", "-of", "json", path))
    stream = probe["streams"][0]
    width, height = int(stream["width"]), int(stream["height"])
    first = np.frombuffer(run("ffmpeg", "-v", "error", "-i", path, "-frames:v", 1, "-f", "rawvideo", "-pix_fmt",
                              "rgb24", "-"), dtype=np.uint8)
    return stream, first.reshape(height, width, 3).astype(np.int32)


def body_width(img, row):
    """The columns of a row that show the phantom, body or sphere."""
    return int((grey(img[row].max(axis=1)) | (img[row].min(axis=1) > 150)).sum())


def turning_checks(frames, top):
    """The GIF's frames against the plane turning about the vertical through the cross (the
    cube's middle), 5 degrees a frame from -180: the sphere's disc where the plane cuts it, at
    its place along the plane; at +-90 degrees the series' depth across. Frames equal to the
    next are those that show only the uniform body, whose width steps by whole voxels. Returns
    a line for the report."""
    scale = frames.shape[2] / G.width  # screen pixels a voxel
    off = G.sphere_voxel[0] - G.width // 2  # the sphere's centre from the axis, in voxels
    faults, seen = [], []
    for i, frame in enumerate(frames):
        theta = math.radians(-180 + 5 * i)
        mask = frame[top:].min(axis=2) > 150
        count = int(mask.sum())
        distance = abs(off * G.pixel_mm * math.sin(theta))  # the sphere's centre from the plane, mm
        # The margins take in the voxels' steps and the cube's slice order, which puts the
        # sphere's centre one slice off the axis.
        if distance <= G.sphere_radius_mm - 6:
            x = np.nonzero(mask)[1].mean() if count else float("nan")
            expected = (G.width // 2 + off * math.cos(theta) + 0.5) * scale
            if count < 200 or not abs(x - expected) <= 2 * scale:
                faults.append("frame %d: a disc of %d px at x %.0f, expected one at %.0f" % (i, count, x, expected))
            seen.append((i, x, expected))
        elif distance >= G.sphere_radius_mm + 6 and count:
            faults.append("frame %d: %d sphere pixels where the plane misses the sphere" % (i, count))
        after = frames[min(i + 1, len(frames) - 1)]
        if i < len(frames) - 1 and (frame == after).all() and (count or (after[top:].min(axis=2) > 150).any()):
            faults.append("frames %d and %d are equal and show the sphere" % (i, i + 1))
    middle = frames.shape[1] // 2
    depth = G.depth * G.slice_mm / G.pixel_mm * scale
    for i in (18, 54):
        width = body_width(frames[i], middle)
        if abs(width - depth) > 1.5 * scale:
            faults.append("frame %d (%+d degrees): %d px across, the depth is %.0f px"
                          % (i, -180 + 5 * i, width, depth))
    check(not faults, "the GIF does not turn as the plane does: " + "; ".join(faults))
    worst = max(abs(x - e) for _, x, e in seen)
    return ("the sphere's disc in %d frames, each within %.1f px of where the turning plane cuts it; %d px "
            "across at -90 and +90 degrees (the depth %.0f px)" % (len(seen), worst, body_width(frames[18], middle),
                                                                   depth))


# ---- the runs ----

def test_export(program, workdir, study, table, report):
    documents = os.path.join(workdir, "documents")
    opened_log = os.path.join(workdir, OPENED_LOG)
    launcher = folder_launcher(os.path.join(workdir, "launcher"), opened_log)
    app = ExportSession(program, study, workdir, "export", documents, launcher + os.pathsep + os.environ["PATH"])
    walk = None
    try:
        app.open()
        walk = CommandWalk(app, table)
        folder = app.folder
        base = phantom.ACCESSION

        # Shift+S: the desktop's open of the export folder, made first (empty) so that there is
        # something to open before the first export.
        mark = app.mark()
        app.key("shift+s")
        url = "file://" + folder
        wait_for("xdg-open " + url, lambda: os.path.exists(opened_log) and url in open(opened_log).read().split(),
                 10)
        app.sync()
        app.check_clean(mark)
        check(app.files() == [], "Shift+S left the export folder as %s" % app.files())
        report.append("Shift+S: xdg-open %s; the folder made, empty" % url)

        # Shift+Ctrl+S, the proposed name taken, the legend replaced.
        mark = app.mark()
        app.save_dialog(legend=" E2E ")
        first = app.saved(base + "-01.jpg", mark)
        kind, img = read_picture(first)
        check(kind == "JPEG", "%s is %s" % (first, kind))
        edited = legend_box(img)
        height, width = img.shape[:2]
        sx, sy = bright_centre(img, edited[1] + 2)
        ex, ey = (G.sphere_voxel[0] + 0.5) * width / G.width, (G.sphere_voxel[1] + 0.5) * height / G.height
        check(abs(width - height) <= 1 and abs(sx - ex) <= 0.02 * width and abs(sy - ey) <= 0.02 * height,
              "%s: %dx%d with the sphere at %.0f,%.0f, expected a square picture with it at %.0f,%.0f"
              % (first, width, height, sx, sy, ex, ey))
        report.append("Shift+Ctrl+S, Enter, legend \" E2E \": %s, JPEG %dx%d (the picture), sphere at %.0f,%.0f; "
                      "legend box %dx%d with %d white pixels" % (os.path.basename(first), width, height, sx, sy,
                                                                 *edited))

        # Alt+S: the frame on the view, of the remembered size, its size written to the settings.
        written = os.stat(app.settings).st_mtime_ns
        mark = app.mark()
        app.key("alt+s")
        app.wait_value("detail/crop-frame", 1, mark)
        wait_for("the settings written", lambda: os.stat(app.settings).st_mtime_ns != written, 10)
        stored = open(app.settings).read()
        check("SelectionWidth=%d" % SELECTION[0] in stored and "SelectionHeight=%d" % SELECTION[1] in stored,
              "the settings after Alt+S:\n" + stored)

        def frame_on_screen(img):
            r, g, b = img[..., 0], img[..., 1], img[..., 2]
            pink = (r > 200) & (g < 150) & (b > 110) & (b < 200)
            ys, xs = np.nonzero(pink[app.detail[1]:app.detail[3], app.detail[0]:app.detail[2]])
            return len(xs) > 100 and (xs.max() - xs.min(), ys.max() - ys.min())

        drawn = wait_for("the selection frame in the detail view", lambda: frame_on_screen(app.shot()), 10)
        check(all(abs(d - s) <= 2 for d, s in zip(drawn, SELECTION)),
              "the frame on the screen spans %dx%d, expected %dx%d" % (drawn + SELECTION))

        mark = app.mark()
        app.save_dialog("frame.jpg")
        framed = app.saved("frame.jpg", mark)
        kind, frame = read_picture(framed)
        check(kind == "JPEG" and frame.shape[1::-1] == SELECTION,
              "%s: %s %dx%d, expected a JPEG of the frame's %dx%d" % ((framed, kind) + frame.shape[1::-1] + SELECTION))
        full = legend_box(frame)
        check(full[0] == SELECTION[0], "the legend of %s ends at %d, not at the frame's edge" % (framed, full[0]))

        mark = app.mark()
        app.save_dialog(base + "-02.bmp")
        whole = app.saved(base + "-02.bmp", mark)
        kind, view = read_picture(whole)
        check(kind.startswith("BMP") and view.shape[1::-1] == size(app.detail),
              "%s: %s %dx%d, expected a BMP of the whole view %dx%d" % ((whole, kind) + view.shape[1::-1]
                                                                       + size(app.detail)))
        # The frame lies in the middle of the view: the JPEG shows the BMP's middle, but for the
        # legend and the frame's lines, which the JPEG leaves out.
        left, top = (view.shape[1] - SELECTION[0]) // 2, (view.shape[0] - SELECTION[1]) // 2
        middle = view[top:top + SELECTION[1], left:left + SELECTION[0]]
        away = np.ones(SELECTION[::-1], dtype=bool)
        away[:full[1] + 8] = False
        difference = np.abs(middle - frame).max(axis=2)[away]
        close = (difference <= 12).mean()
        check(close >= 0.9, "the frame's JPEG and the middle of the BMP agree on %.0f %% of the pixels" % (100 * close))
        report.append("Alt+S: the frame %dx%d on the screen, SelectionWidth/Height=%d/%d in the settings; "
                      "\"frame.jpg\": JPEG %dx%d, legend box %dx%d; \"%s\": %s %dx%d = the view, its middle %dx%d "
                      "the frame's JPEG on %.0f %% of the pixels" % (drawn + SELECTION + frame.shape[1::-1] + full[:2]
                                                                    + (os.path.basename(whole), kind)
                                                                    + view.shape[1::-1] + SELECTION + (100 * close,)))
        mark = app.mark()
        app.key("alt+s")
        app.wait_value("detail/crop-frame", 0, mark)

        # Ctrl+S: no dialog, the next number, the series' legend as the box proposed it.
        mark = app.mark()
        app.key("ctrl+s")
        third = app.saved(base + "-03.jpg", mark)
        kind, img = read_picture(third)
        auto = legend_box(img)
        check(kind == "JPEG" and img.shape == (height, width, 3),
              "%s: %s %dx%d, expected the picture's %dx%d" % (third, kind, img.shape[1], img.shape[0], width, height))
        check(auto[0] > edited[0] + 50 and auto[1] == edited[1],
              "legend boxes: automatic %dx%d, edited %dx%d" % (auto[:2] + edited[:2]))
        check(app.files() == sorted([base + "-01.jpg", base + "-02.bmp", base + "-03.jpg", "frame.jpg"]),
              "the export folder holds %s" % app.files())
        report.append("Ctrl+S: %s, JPEG %dx%d, legend box %dx%d (the series' legend)"
                      % ((os.path.basename(third),) + img.shape[1::-1] + auto[:2]))

        # The rotation: Ctrl+S writes the GIF.
        mark = app.mark()
        app.key("ctrl+r")
        app.wait_value("detail/rotate", 1, mark)
        mark = app.mark()
        started = time.monotonic()
        app.key("ctrl+s")
        gif = app.saved(base + "-04.gif", mark, 60)
        gif_seconds = time.monotonic() - started
        info, loop, frames = gif_file(gif)
        delays = {int(i[0]) for i in info}
        check(len(info) == 72 and {int(i[1]) for i in info} == {72} and delays == {10} and loop == 0,
              "%s: %d frames, delays %s, loop count %d" % (gif, len(info), sorted(delays), loop))
        angles = [float(v) for p, v in app.changes(mark) if p == "detail/angle"][:72]
        check(angles == [float(a) for a in range(-180, 180, 5)], "the export's angles: %s" % angles)
        # The legend box is read where the picture fills the frame's left edge: at 0 degrees.
        box = legend_box(frames[36])
        turned = turning_checks(frames, box[1] + 2)
        same = sum(1 for i in range(71) if (frames[i] == frames[i + 1]).all())
        report.append("rotation, Ctrl+S: %s in %.1f s, %d frames %dx%d, delay %s, loop %d; detail/angle -180 ... 175 "
                      "by 5; %s; %d frames equal to the next (only the body, no sphere); legend box %dx%d"
                      % (os.path.basename(gif), gif_seconds, len(frames), frames.shape[2], frames.shape[1],
                         delays.pop(), loop, turned, same, box[0], box[1]))

        # The rotation as a video, named in the dialog.
        mark = app.mark()
        app.save_dialog("turn.mp4")
        movie = app.saved("turn.mp4", mark, 60)
        stream, first_frame = video_file(movie)
        # The encoders need even sizes: an odd one gains a black row or column.
        gh, gw = frames.shape[1:3]
        check(int(stream["nb_read_frames"]) == 72 and first_frame.shape[:2] == (gh + gh % 2, gw + gw % 2),
              "%s: %s frames %dx%d, the GIF %dx%d" % (movie, stream["nb_read_frames"], stream["width"],
                                                       stream["height"], gw, gh))
        # Both begin at -180 degrees with the series' legend (taken unchanged from the box): the
        # video's first frame is the GIF's, the legend's rows too.
        difference = np.abs(first_frame[:gh, :gw] - frames[0]).max(axis=2)
        legend_rows = difference[:box[1]]
        check(np.median(difference) <= 6 and (difference <= 24).mean() >= 0.98 and (legend_rows <= 48).mean() >= 0.95,
              "the video's first frame is not the GIF's: median difference %g, %.1f %% within 24, legend rows %.1f %% "
              "within 48" % (np.median(difference), 100 * (difference <= 24).mean(), 100 * (legend_rows <= 48).mean()))
        padding = first_frame[gh:].max() if gh % 2 else first_frame[:, gw:].max() if gw % 2 else 0
        check(padding <= 24, "the video's padding is not black: %d" % padding)
        report.append("Shift+Ctrl+S \"turn.mp4\": %s, %s frames %dx%d (the GIF's %dx%d made even), its first frame "
                      "the GIF's (median difference %g, %.1f %% of the pixels within 24, the legend's rows %.1f %% "
                      "within 48)" % (stream["codec_name"], stream["nb_read_frames"], stream["width"], stream["height"],
                                      gw, gh, np.median(difference), 100 * (difference <= 24).mean(),
                                      100 * (legend_rows <= 48).mean()))

        # Cancelled: Esc in the progress dialog.
        before, cache = app.files(), sorted(os.listdir(app.cache)) if os.path.isdir(app.cache) else []
        mark = app.mark()
        app.key("ctrl+s")
        progress = app.wait_window("the progress dialog")
        app.key("Escape")
        app.wait_no_windows("the progress dialog closed")
        app.focus()
        app.wait_line("the detail view turning on", r"^detail: Building image$", app.mark(), 10)
        app.sync()
        saved = [l for l in app.lines()[mark:] if l.startswith("Saved ")]
        check(not saved and app.files() == before, "after Esc: %s, the folder holds %s" % (saved, app.files()))
        after = sorted(os.listdir(app.cache)) if os.path.isdir(app.cache) else []
        check(after == cache, "after Esc the cache folder holds %s, before %s" % (after, cache))
        app.check_clean(mark)
        report.append("rotation, Ctrl+S, Esc in the progress dialog (window %s): no file, the folders as before, "
                      "the view goes on turning" % progress)
        mark = app.mark()
        app.key("ctrl+r")
        app.wait_value("detail/rotate", 0, mark)

        # The cuboid from the context menu.
        mark = app.mark()
        how = walk.menu("SaveCuboidAction")
        cuboid = app.saved("cuboid.cub", mark)
        with open(cuboid, "rb") as f:
            data = f.read()
        fields = struct.unpack("<11i", data[:CUBOID_HEADER])
        voxels = np.frombuffer(data[CUBOID_HEADER:], dtype="<u2")
        volume = phantom.phantom_voxels()
        um = [int(round(v * 1000)) for v in (G.pixel_mm, G.pixel_mm, G.slice_mm)]
        check(fields[:7] == (G.width, G.height, G.depth, 2, *um) and fields[10] == volume.nbytes
              and len(data) == CUBOID_HEADER + volume.nbytes,
              "%s: header %s, %d bytes" % (cuboid, fields, len(data)))
        # The cube is stacked from the highest slice position down.
        check((voxels.reshape(volume.shape) == volume[::-1]).all(), "%s: the voxels are not the series'" % cuboid)
        report.append("%s, Save cuboid: %s, %d bytes = header %d + %d voxels of 2 bytes, extents %d %d %d, voxel "
                      "size %d %d %d um, origin %d %d %d um, the series' voxels (top slice first)"
                      % ((how, os.path.basename(cuboid), len(data), CUBOID_HEADER, volume.size) + fields[:3]
                         + fields[4:10]))

        # A name in a folder that does not exist.
        missing = os.path.join(workdir, "missing", "x.jpg")
        mark = app.mark()
        app.save_dialog(missing)
        text = app.error("the write error", mark)
        check(missing in text and not os.path.exists(os.path.dirname(missing)),
              "the write error says \"%s\"" % text)
        app.sync()
        report.append("Shift+Ctrl+S \"%s\": \"Error %s\", no folder made, the viewer goes on" % (missing, text))
        errors = [l for l in app.lines() if l.startswith("Error ")]
        check(errors == ["Error " + text], "errors: %s" % errors)
        check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
    finally:
        app.kill()


def test_no_export_folder(program, workdir, study, report):
    """The export folder cannot be made: a file has its name. No program opens folders."""
    documents = os.path.join(workdir, "documents-blocked")
    blocker = export_folder(documents)
    os.makedirs(os.path.dirname(blocker))
    with open(blocker, "w") as f:
        f.write("not a folder\n")
    nothing = os.path.join(workdir, "no-programs")
    os.makedirs(nothing)
    app = ExportSession(program, study, workdir, "blocked", documents, nothing)
    try:
        app.open()
        mark = app.mark()
        app.key("ctrl+s")
        text = app.error("the folder error", mark)
        check(blocker in text, "the folder error says \"%s\"" % text)
        app.sync()
        report.append("export folder a file, Ctrl+S: \"Error %s\", the viewer goes on" % text)
        mark = app.mark()
        app.key("shift+s")
        text = app.error("the open error", mark)
        check(blocker in text, "the open error says \"%s\"" % text)
        app.sync()
        report.append("no program to open folders, Shift+S: \"Error %s\"" % text)
        check(open(blocker).read() == "not a folder\n", "the file in the export folder's place changed")
        check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
    finally:
        app.kill()


def main():
    if len(sys.argv) != 3:
        print("usage: export_e2e.py TARVICON COMMAND_TABLE", file=sys.stderr)
        return 2
    program, table_program = (os.path.abspath(a) for a in sys.argv[1:])
    check(os.environ.get("DISPLAY"), "no X display: run under xvfb-run")
    table = json.loads(subprocess.run([table_program], check=True, capture_output=True, text=True).stdout)
    workdir = tempfile.mkdtemp(prefix="tarvicon-export-e2e-")
    study = write_study(os.path.join(workdir, "study"))
    started = time.monotonic()
    report = []
    failures = run_checks((("export", lambda: test_export(program, workdir, study, table, report)),
                           ("no export folder", lambda: test_no_export_folder(program, workdir, study, report))))
    print("\nWhat the files read back:")
    for line in report:
        print("  " + line)
    print("time: %.0f s" % (time.monotonic() - started))
    return finish(workdir, failures, "screenshots, traces and files")


if __name__ == "__main__":
    sys.exit(main())
