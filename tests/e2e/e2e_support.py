"""What the end-to-end checks share: waits that poll, a program run with its trace file and
screenshots of the X screen, and what a screenshot of the phantom shows.

Every check reads pixels of a screenshot or lines of the program's trace (TARVICON_TRACE);
waits poll the trace and the screen, never sleep for a fixed time.
"""

import math
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback

import numpy as np

from phantom import Geometry as G

POLL = 0.05
TIMEOUT = 60.0


class CheckFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def run_checks(checks):
    """Runs each (name, check) in turn, printing ok or FAIL with the trace; returns the failures."""
    failures = 0
    for name, run in checks:
        try:
            run()
            print("ok  ", name)
        except Exception:
            failures += 1
            print("FAIL", name, flush=True)
            traceback.print_exc()
            sys.stderr.flush()
    return failures


def finish(workdir, failures, kept="screenshots and traces"):
    """The exit status; the work folder is kept after a failure or with TARVICON_E2E_KEEP=1."""
    if failures or os.environ.get("TARVICON_E2E_KEEP"):
        print(kept, "kept in", workdir)
        return 1 if failures else 0
    shutil.rmtree(workdir)
    return 0


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


def wait_on_screen(viewer, what, test, timeout=TIMEOUT):
    """Waits for a screenshot that passes test (see on_screen); when none comes, the test of a
    last screenshot says what is wrong."""
    try:
        return wait_for(what, on_screen(viewer, test), timeout)
    except CheckFailed:
        viewer.check_alive()
        test(viewer.client(viewer.screenshot()))
        raise


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True, text=True).stdout


class TracedProgram:
    """One run of a program of ours with its trace, its output and its screenshots."""

    def __init__(self, program, args, workdir, name, env=None):
        self.name = os.path.basename(program)
        self.trace_path = os.path.join(workdir, name + ".trace")
        self.log_path = os.path.join(workdir, name + ".log")
        self.shots = os.path.join(workdir, name)
        self.shot_count = 0
        env = dict(os.environ if env is None else env, TARVICON_TRACE=self.trace_path)
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

    def wait_line(self, what, pattern, after=0, timeout=TIMEOUT):
        """The first trace line from index `after` on that matches pattern (a regex)."""
        rx = re.compile(pattern)

        def probe():
            self.check_alive()
            for i, line in enumerate(self.lines()[after:]):
                if rx.search(line):
                    return (after + i, line)
            return None

        return wait_for(what, probe, timeout)

    def check_alive(self):
        if self.process.poll() is not None:
            raise CheckFailed("%s ended with status %s; its output:\n%s"
                              % (self.name, self.process.returncode, open(self.log_path).read()))

    def find_window(self, title="Tarvicon"):
        def probe():
            self.check_alive()
            r = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.process.pid),
                                "--name", title], capture_output=True, text=True)
            ids = r.stdout.split()
            return ids[0] if ids else None

        self.window = wait_for("the window named " + title, probe)
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
        """The window's part of a screenshot."""
        return shot[self.y:self.y + self.height, self.x:self.x + self.width]

    def close_with_term(self):
        self.process.send_signal(signal.SIGTERM)
        return self.wait_exit()

    def wait_exit(self, timeout=TIMEOUT):
        wait_for("the program to end", lambda: self.process.poll() is not None, timeout)
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


# ---- what a screenshot of the phantom shows ----

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


def check_cross_at(img, x, y, mask=light_cross_mask):
    """The cross through window point (x, y): its row and column run outside a gap of 20 pixels
    around the point and leave the gap free."""
    light = mask(img)
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
