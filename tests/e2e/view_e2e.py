"""tarvicon-view in a real X window, driven like a user: the phantom where its geometry puts it,
a click that moves the position and the cross, the wheel's zoom, a drag that pans, a double
click's automatic levels; then bad inputs that must leave a message and a usable, empty window.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    view_e2e.py BUILD/bin/tarvicon-view
The screenshots and traces are kept when a check fails, or always with TARVICON_E2E_KEEP=1.
Every check reads pixels of a screenshot or values of the program's trace (TARVICON_TRACE);
waits poll the trace and the screen, never sleep for a fixed time.
"""

import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import numpy as np

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import phantom  # noqa: E402
from phantom import Geometry as G  # noqa: E402

POLL = 0.05
TIMEOUT = 60.0


class CheckFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def wait_for(what, probe, timeout=TIMEOUT):
    """Polls probe until it answers something true; returns that answer."""
    deadline = time.monotonic() + timeout
    while True:
        answer = probe()
        if answer:
            return answer
        if time.monotonic() > deadline:
            raise CheckFailed("timed out waiting for " + what)
        time.sleep(POLL)


def on_screen(viewer, test):
    """A probe for wait_for: a new screenshot of the window, tested; a test that finds nothing
    to test (CheckFailed) answers None, so the wait goes on."""
    def probe():
        viewer.check_alive()
        try:
            return test(viewer.client(viewer.screenshot()))
        except CheckFailed:
            return None

    return probe


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True, text=True).stdout


def density(viewer):
    """Screen pixels per millimetre along X and Y as the window system tells the program (Qt
    takes the screen's size in millimetres from RandR, or from 96 dots per inch when RandR
    reports none, as Xvfb's does)."""
    _, line = viewer.wait_line("the screen density", r"^Density ")
    x, y = line.split()[1].split(",")
    ppmm = float(x), float(y)
    check(all(2 < d < 8 for d in ppmm), "implausible screen density " + line)
    return ppmm


class Viewer:
    """One run of tarvicon-view with its trace."""

    def __init__(self, program, args, workdir, name):
        self.trace_path = os.path.join(workdir, name + ".trace")
        self.log_path = os.path.join(workdir, name + ".log")
        self.shots = os.path.join(workdir, name)
        self.shot_count = 0
        env = dict(os.environ, TARVICON_TRACE=self.trace_path)
        env.pop("QT_QPA_PLATFORM", None)
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([program, *args], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        self.window = None

    def lines(self):
        try:
            with open(self.trace_path, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_line(self, what, pattern, after=0):
        """The first trace line from index `after` on that matches pattern (a regex)."""
        rx = re.compile(pattern)

        def probe():
            self.check_alive()
            for i, line in enumerate(self.lines()[after:]):
                if rx.search(line):
                    return (after + i, line)
            return None

        return wait_for(what, probe)

    def check_alive(self):
        if self.process.poll() is not None:
            raise CheckFailed("tarvicon-view ended with status %s; its output:\n%s"
                              % (self.process.returncode, open(self.log_path).read()))

    def find_window(self):
        def probe():
            self.check_alive()
            r = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.process.pid),
                                "--name", "Tarvicon"], capture_output=True, text=True)
            ids = r.stdout.split()
            return ids[0] if ids else None

        self.window = wait_for("the window named Tarvicon", probe)
        geometry = dict(kv.split("=") for kv in xdotool("getwindowgeometry", "--shell", self.window).split())
        self.x, self.y = int(geometry["X"]), int(geometry["Y"])
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        return self.window

    def screenshot(self):
        """The screen as an array [row, column, RGB]; the PNG stays beside the trace."""
        self.shot_count += 1
        png = "%s-%02d.png" % (self.shots, self.shot_count)
        subprocess.run(["import", "-window", "root", png], check=True)
        ppm = subprocess.run(["convert", png, "ppm:-"], check=True, capture_output=True).stdout
        return parse_ppm(ppm)

    def client(self, shot):
        """The view's part of a screenshot: the window above its status line (the light rows
        at the bottom)."""
        window = shot[self.y:self.y + self.height, self.x:self.x + self.width]
        light_rows = window.min(axis=2).mean(axis=1) > 200
        bottom = len(light_rows)
        while bottom > 0 and light_rows[bottom - 1]:
            bottom -= 1
        check(bottom < len(light_rows), "no status line at the bottom of the window")
        return window[:bottom]

    def close_with_keys(self):
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "--clearmodifiers", "ctrl+q")
        return self.wait_exit()

    def close_with_term(self):
        self.process.send_signal(signal.SIGTERM)
        return self.wait_exit()

    def wait_exit(self):
        wait_for("the program to end", lambda: self.process.poll() is not None)
        self.log.close()
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if not self.log.closed:
            self.log.close()


def parse_ppm(data):
    """A binary PPM (P6, maxval 255) as an array [row, column, RGB]."""
    tokens, pos = [], 0
    while len(tokens) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        tokens.append(data[pos:end])
        pos = end
    check(tokens[0] == b"P6" and tokens[3] == b"255", "screenshot is not an 8-bit PPM")
    width, height = int(tokens[1]), int(tokens[2])
    pixels = np.frombuffer(data, dtype=np.uint8, count=width * height * 3, offset=pos + 1)
    return pixels.reshape(height, width, 3).astype(np.int32)


# ---- what a screenshot shows ----

def body_mask(img):
    """The phantom's body in the brain window: a neutral dark grey."""
    r, g, b = img[..., 0], img[..., 1], img[..., 2]
    return (np.abs(r - 64) <= 14) & (np.abs(r - b) <= 6) & (np.abs(r - g) <= 6)


def sphere_mask(img):
    return img.min(axis=2) > 150


def light_cross_mask(img):
    """The cross's light pass (red 128, green 196, blue 255 over the picture): bluish pixels."""
    return (img[..., 2] - img[..., 0]) > 15


def picture_rect(img):
    """Left, top, right, bottom (exclusive) of the phantom's picture: the rows and columns that
    are mostly body or sphere."""
    inside = body_mask(img) | sphere_mask(img)
    rows = np.where(inside.sum(axis=1) > 0.5 * inside.sum(axis=1).max())[0]
    cols = np.where(inside.sum(axis=0) > 0.5 * inside.sum(axis=0).max())[0]
    check(len(rows) and len(cols), "no picture in the window")
    return cols[0], rows[0], cols[-1] + 1, rows[-1] + 1


def sphere(img):
    """Centre (x, y) and apparent diameter of the sphere's disc, in screen pixels."""
    mask = sphere_mask(img)
    count = mask.sum()
    check(count > 50, "no sphere in the window")
    ys, xs = np.nonzero(mask)
    return xs.mean(), ys.mean(), 2 * math.sqrt(count / math.pi)


class Picture:
    """The view's geometry as the screenshot shows it: the picture's origin and scale."""

    def __init__(self, img):
        left, top, right, bottom = picture_rect(img)
        self.left, self.top = left, top
        self.scale_x = (right - left) / G.width
        self.scale_y = (bottom - top) / G.height

    def screen_of(self, px, py):
        """The window point at the centre of picture pixel (px, py)."""
        return (self.left + (px + 0.5) * self.scale_x, self.top + (py + 0.5) * self.scale_y)

    def corner_of(self, px, py):
        """The window point at the top left of picture pixel (px, py): where the cross goes."""
        return (self.left + px * self.scale_x, self.top + py * self.scale_y)


# ---- the checks on the phantom ----

def check_phantom_in_place(viewer, img, zoom_exponent):
    pic = Picture(img)
    ppmm_x, ppmm_y = density(viewer)
    zoom = 1.12 ** zoom_exponent
    # Real size: one millimetre of the phantom is one millimetre of the screen.
    for scale, ppmm, axis in ((pic.scale_x, ppmm_x, "X"), (pic.scale_y, ppmm_y, "Y")):
        expected = G.pixel_mm * ppmm * zoom
        check(abs(scale - expected) / expected < 0.02,
              "%s scale %.3f screen pixels per picture pixel, expected %.3f (real size)" % (axis, scale, expected))
    cx, cy, diameter = sphere(img)
    ex, ey = pic.screen_of(G.sphere_voxel[0], G.sphere_voxel[1])
    check(abs(cx - ex) <= 3 and abs(cy - ey) <= 3,
          "sphere centre at %.1f,%.1f, its voxel maps to %.1f,%.1f" % (cx, cy, ex, ey))
    expected_diameter = 2 * G.sphere_radius_mm / G.pixel_mm * pic.scale_x
    check(abs(diameter - expected_diameter) <= 4,
          "sphere %.1f pixels across, expected %.1f" % (diameter, expected_diameter))
    return pic


def check_cross_at(img, x, y):
    """The light cross through window point (x, y): its row and column run outside a gap of 20
    pixels around the point and leave the gap free."""
    light = light_cross_mask(img)
    h, w = light.shape
    xi, yi = int(round(x)), int(round(y))
    best_row = max(range(yi - 3, yi + 4), key=lambda r: light[r].sum())
    best_col = max(range(xi - 3, xi + 4), key=lambda c: light[:, c].sum())
    row, col = light[best_row], light[:, best_col]
    # The arms: the stipple draws three pixels of every six.
    left, right = row[:max(0, xi - 22)], row[xi + 22:]
    up, down = col[:max(0, yi - 22)], col[yi + 22:]
    for arm, name in ((left, "left"), (right, "right"), (up, "upper"), (down, "lower")):
        check(len(arm) == 0 or arm.sum() >= 0.3 * len(arm),
              "cross arm %s of %d,%d: %d of %d pixels light" % (name, xi, yi, arm.sum(), len(arm)))
    check(row[xi - 17:xi + 18].sum() == 0 and col[yi - 17:yi + 18].sum() == 0,
          "cross gap around %d,%d is not free" % (xi, yi))
    return best_col, best_row


def last_zoom(viewer):
    zooms = [float(l.split()[1]) for l in viewer.lines() if l.startswith("Zoom ")]
    return zooms[-1] if zooms else None


def test_phantom_session(program, workdir):
    study = phantom.write_series(os.path.join(workdir, "study"))
    viewer = Viewer(program, [study], workdir, "phantom")
    try:
        viewer.wait_line("the load", r"^Loaded 1 objects$")
        viewer.wait_line("the first build", r"^Built %dx%d$" % (G.width, G.height))
        viewer.find_window()
        z0 = G.depth // 2

        # At first sight: real size (fit mode 3), the sphere where its voxel maps.
        wait_for("a zoom", lambda: last_zoom(viewer) is not None)
        exponent = last_zoom(viewer)
        check(abs(exponent) < 0.01, "first zoom exponent %s, expected 0 (real size)" % exponent)
        img = wait_for("the phantom on the screen", on_screen(viewer, lambda i: sphere(i) and [i]))[0]
        pic = check_phantom_in_place(viewer, img, exponent)
        _, _, diameter0 = sphere(img)

        # A click moves the position to the picture point under the mouse and the cross there.
        # Beside the sphere, so that the zoom about this point keeps the sphere in the window.
        px, py = 70, 60
        sx, sy = pic.screen_of(px, py)
        mark = len(viewer.lines())
        xdotool("mousemove", viewer.x + int(sx), viewer.y + int(sy), "click", 1)
        _, line = viewer.wait_line("the position after a click", r"^Position ", mark)
        check(line == "Position %d,%d,%d" % (px, py, z0), "clicked picture point %d,%d; trace: %s" % (px, py, line))
        cx, cy = pic.corner_of(px, py)

        try:
            wait_for("the cross at the clicked point", on_screen(viewer, lambda i: check_cross_at(i, cx + 1, cy + 1)),
                     timeout=15)
        except CheckFailed:
            check_cross_at(viewer.client(viewer.screenshot()), cx + 1, cy + 1)  # says what is wrong
            raise

        # The wheel zooms in by one exponent step per notch, about the position.
        notches = 4
        for _ in range(notches):
            xdotool("click", 4)
        wait_for("zoom exponent %d" % notches,
                 lambda: last_zoom(viewer) is not None and abs(last_zoom(viewer) - notches) < 0.01)
        before_x, before_y, _ = wait_for("the sphere grown by 1.12^%d" % notches, on_screen(
            viewer, lambda i: abs(sphere(i)[2] / diameter0 - 1.12 ** notches) < 0.04 and sphere(i)))

        # A drag pans the picture by the drag's distance.
        qx, qy = viewer.x + 300, viewer.y + 520
        dx, dy = 50, 80
        xdotool("mousemove", qx, qy, "mousedown", 1)
        for step in range(1, 6):
            xdotool("mousemove", qx + dx * step // 5, qy + dy * step // 5)
        xdotool("mouseup", 1)

        def panned(i):
            ax, ay, _ = sphere(i)
            return abs(ax - before_x - dx) <= 2 and abs(ay - before_y - dy) <= 2

        try:
            wait_for("the picture moved by the drag", on_screen(viewer, panned), timeout=15)
        except CheckFailed:
            ax, ay, _ = sphere(viewer.client(viewer.screenshot()))
            raise CheckFailed("drag by %d,%d moved the sphere from %.1f,%.1f to %.1f,%.1f"
                              % (dx, dy, before_x, before_y, ax, ay))

        # The wheel the other way zooms back out.
        for _ in range(notches):
            xdotool("click", 5)
        wait_for("zoom exponent 0", lambda: last_zoom(viewer) is not None and abs(last_zoom(viewer)) < 0.01)
        img = wait_for("the sphere at its first size",
                       on_screen(viewer, lambda i: abs(sphere(i)[2] / diameter0 - 1) < 0.04 and [i]))[0]

        # A double click takes the automatic levels of the box around the position: the window
        # narrows around the body's value, which then shows brighter.
        pic = Picture(img)
        bx, by = pic.screen_of(20, 20)
        body_before = img[int(by), int(bx)].copy()
        mark = len(viewer.lines())
        xdotool("mousemove", viewer.x + int(bx), viewer.y + int(by), "click", "--repeat", 2, "--delay", 60, 1)
        _, line = viewer.wait_line("a level change", r"^Change detail/colormapping/level/low = ", mark)
        low = float(line.split("= ")[1])
        check(low != 0, "automatic levels left low at 0: " + line)
        wait_for("the body in the new window",
                 on_screen(viewer, lambda i: abs(int(i[int(by), int(bx)][0]) - int(body_before[0])) > 30))

        check(viewer.close_with_keys() == 0, "Ctrl+Q did not end the program cleanly")
    finally:
        viewer.kill()


def test_cuboid(program, workdir):
    cuboid = phantom.write_cuboid(os.path.join(workdir, "sphere.cub"))
    viewer = Viewer(program, [cuboid], workdir, "cuboid")
    try:
        viewer.wait_line("the load", r"^Loaded 1 objects$")
        viewer.wait_line("the build", r"^Built %dx%d$" % (G.width, G.height))
        viewer.find_window()
        ppmm_x, ppmm_y = density(viewer)
        expected = (G.width * G.pixel_mm * ppmm_x, G.height * G.pixel_mm * ppmm_y)

        def picture_size(img):
            lit = img.max(axis=2) > 40
            rows = np.where(lit.sum(axis=1) > 0.5 * max(1, lit.sum(axis=1).max()))[0]
            cols = np.where(lit.sum(axis=0) > 0.5 * max(1, lit.sum(axis=0).max()))[0]
            if not len(rows):
                return None
            size = (cols[-1] + 1 - cols[0], rows[-1] + 1 - rows[0])
            return abs(size[0] - expected[0]) <= 3 and abs(size[1] - expected[1]) <= 3 and size

        wait_for("the cuboid's picture at real size", on_screen(viewer, picture_size))
        check(viewer.close_with_term() == 0, "SIGTERM did not end the program cleanly")
    finally:
        viewer.kill()


def check_bad_input(program, workdir, name, args, message_pattern, close):
    viewer = Viewer(program, args, workdir, name)
    try:
        _, line = viewer.wait_line("the message for " + name, r"^Notice ")
        check(re.search(message_pattern, line), "%s: message %r, expected /%s/" % (name, line, message_pattern))
        viewer.check_alive()
        viewer.find_window()
        # Usable: it takes a click and the wheel, and stays up and empty.
        xdotool("mousemove", viewer.x + viewer.width // 2, viewer.y + viewer.height // 2, "click", 1)
        xdotool("click", 4)
        # The window may show what lay there before until its first paint.
        try:
            wait_for(name + ": an empty view", on_screen(viewer, lambda i: (i.max(axis=2) > 40).mean() < 0.01),
                     timeout=15)
        except CheckFailed:
            img = viewer.client(viewer.screenshot())
            raise CheckFailed("%s: the view is not empty (%.1f %% lit)" % (name, 100 * (img.max(axis=2) > 40).mean()))
        viewer.check_alive()
        check(not any(l.startswith("Built ") and l != "Built 0x0" for l in viewer.lines()),
              name + ": a picture was built")
        status = close(viewer)
        check(status == 0, "%s: the program ended with status %s" % (name, status))
    finally:
        viewer.kill()


def test_bad_inputs(program, workdir):
    empty = os.path.join(workdir, "empty")
    os.makedirs(empty)
    broken = os.path.dirname(phantom.write_broken_file(os.path.join(workdir, "broken")))
    short = phantom.write_short_cuboid(os.path.join(workdir, "short.cub"))
    check_bad_input(program, workdir, "empty-folder", [empty], r"^Notice No DICOM image found in ",
                    Viewer.close_with_keys)
    check_bad_input(program, workdir, "broken-file", [broken], r"^Notice Error: ", Viewer.close_with_term)
    check_bad_input(program, workdir, "short-cuboid", [short], r"^Notice Cannot load pixelcube from stream$",
                    Viewer.close_with_term)


def main():
    if len(sys.argv) != 2:
        print("usage: view_e2e.py TARVICON-VIEW", file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    check(os.environ.get("DISPLAY"), "no X display: run under xvfb-run")
    workdir = tempfile.mkdtemp(prefix="tarvicon-view-e2e-")
    failures = 0
    for test in (test_phantom_session, test_cuboid, test_bad_inputs):
        try:
            test(program, workdir)
            print("ok  ", test.__name__)
        except Exception:
            failures += 1
            print("FAIL", test.__name__)
            traceback.print_exc()
    if failures or os.environ.get("TARVICON_E2E_KEEP"):
        print("screenshots and traces kept in", workdir)
        return 1 if failures else 0
    shutil.rmtree(workdir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
