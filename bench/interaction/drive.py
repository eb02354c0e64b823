"""A hand on the mouse, timed by the viewer itself: tarvicon on a series folder in a real X window
(run it under Xvfb, see run.sh), driven with xdotool, its frames read from the frame log that
TARVICON_FRAMES names (one line per painted frame of each view, with the cost of the build and
of the paint). Not a test: it prints a table.

  (a) the wheel over the detail view's middle: the next slices, one notch every 8 ms;
  (b) the window band of the colour bar dragged up and down, a movement every 8 ms;
  (c) the detail view zoomed in and panned by a left drag in a circle, a movement every 8 ms;
  (d) the slice loop (Animate, 20 ms timer: at most 50 pictures a second) with MIP navigation views.

For each: frames of the detail view per second while the hand works (from the first to the last
frame of the phase), and the median cost of a frame's build (cutting and colouring: the core's
part) and of its whole paint, each in milliseconds.

usage: drive.py TARVICON COMMAND_TABLE FOLDER WORKDIR
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from app_e2e import Viewer  # noqa: E402
from commands_e2e import MENU, dotted_rows, line_groups, menu_keys, menu_route  # noqa: E402
from e2e_support import check, wait_for, xdotool  # noqa: E402

FRAME = re.compile(r"^Frame (\S+) at=([0-9.]+) build=(\S+) draw=([0-9.]+) paint=([0-9.]+)$")
STEP_S = 0.008


class Frames:
    def __init__(self, path):
        self.path = path

    def all(self):
        try:
            with open(self.path) as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        frames = []
        for line in lines:
            m = FRAME.match(line)
            if m:
                build = None if m.group(3) == "-" else float(m.group(3))
                frames.append((m.group(1), float(m.group(2)), build, float(m.group(4)), float(m.group(5))))
        return frames

    def mark(self):
        return len(self.all())

    def quiet(self, seconds=0.4, timeout=60):
        """Waits until no frame has been painted for `seconds`."""
        last, since = self.mark(), time.monotonic()
        deadline = since + timeout
        while time.monotonic() < deadline:
            time.sleep(0.05)
            now = self.mark()
            if now != last:
                last, since = now, time.monotonic()
            elif time.monotonic() - since >= seconds:
                return now
        return last


def summary(name, frames, view="detail"):
    """The view's painted frames per second from its first to its last frame, the median build of
    those that built a picture and the median paint; and how many frames the other views built."""
    mine = [f for f in frames if f[0] == view]
    if len(mine) < 2:
        return "%-44s %d frames of %s painted" % (name, len(mine), view)
    t0, t1 = mine[0][1], mine[-1][1]
    fps = (len(mine) - 1) / (t1 - t0) * 1000 if t1 > t0 else 0
    built = [f[2] for f in mine if f[2] is not None]
    others = [f[2] for f in frames if f[0] != view and f[2] is not None]
    return "%-44s %5.1f frames/s  build %s  paint %6.2f ms  (%d frames, %d built; other views built %d, median %s)" % (
        name, fps, "%6.2f ms" % statistics.median(built) if built else "     - ms",
        statistics.median(f[4] for f in mine), len(mine), len(built), len(others),
        "%.2f ms" % statistics.median(others) if others else "-")


class Profile:
    """perf record of the viewer during one phase when TARVICON_BENCH_PERF names a folder."""

    def __init__(self, app, name, variable="TARVICON_BENCH_PERF"):
        self.folder = os.environ.get(variable)
        self.app, self.name, self.process = app, name, None

    def __enter__(self):
        if self.folder:
            os.makedirs(self.folder, exist_ok=True)
            self.process = subprocess.Popen(["perf", "record", "-F", "2000", "-g", "-o",
                                             os.path.join(self.folder, self.name + ".data"), "-p",
                                             str(self.app.process.pid)], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        return self

    def __exit__(self, *_):
        if self.process:
            self.process.send_signal(2)
            self.process.wait()


def chained(*steps):
    """One xdotool process for many steps (a process per step would be slower than the hand)."""
    args = []
    for step in steps:
        args += [str(a) for a in step]
    xdotool(*args)


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    program, table_program, folder, workdir = sys.argv[1:]
    os.makedirs(workdir, exist_ok=True)
    table = json.loads(subprocess.run([table_program], check=True, capture_output=True, text=True).stdout)
    hidden = {c["name"] for c in table["commands"] if c["hidden"]}
    log = os.path.join(workdir, "frames.log")
    os.environ["TARVICON_FRAMES"] = log
    frames = Frames(log)
    app = Viewer(program, [folder], workdir, "interaction")
    try:
        loaded, _ = app.wait_line("the load", r"^Loaded ", timeout=300)
        app.wait_line("the first picture", r"^Built [1-9]", loaded)
        app.find_window()
        xdotool("windowfocus", "--sync", app.window)
        split = int([l for l in app.lines() if l.startswith("Change detail/screensplit = ")][-1].split("= ")[1])
        navi_left = app.width - split
        cx, cy = navi_left // 2, app.height // 2
        frames.quiet()
        rows = []

        # (a) the wheel
        mark = frames.mark()
        xdotool("mousemove", cx, cy)
        with Profile(app, "wheel", "TARVICON_BENCH_PERF_WHEEL"):
            chained(["click", "--repeat", 150, "--delay", int(STEP_S * 1000), 5])
            frames.quiet()
        rows.append(summary("(a) wheel over the detail view: slices", frames.all()[mark:]))

        # (b) the colour bar's window band: the two dotted lines at the control page's left
        img = app.screenshot()
        lines = line_groups(dotted_rows(img, navi_left, navi_left + 40, app.height // 3, app.height - 30))
        check(len(lines) == 2, "the colour bar's two lines not found: %s" % lines)
        bx, by = (lines[0][1] + lines[0][2]) // 2, (lines[0][0] + lines[1][0]) // 2
        mark = frames.mark()
        moves = [["mousemove", bx, by], ["mousedown", 1]]
        for k in range(150):
            offset = [0, 1, 2, 3, 2, 1, 0, -1, -2, -3, -2, -1][k % 12] * 10
            moves += [["sleep", STEP_S], ["mousemove", bx, by + offset]]
        moves.append(["mouseup", 1])
        chained(*moves)
        frames.quiet()
        rows.append(summary("(b) colour bar: window band dragged", frames.all()[mark:]))

        # (c) zoomed in, then panned by a left drag in a circle
        xdotool("mousemove", cx, cy)
        xdotool("keydown", "ctrl")
        try:
            chained(["click", "--repeat", 6, "--delay", 30, 4])
        finally:
            xdotool("keyup", "ctrl")
        frames.quiet()
        mark = frames.mark()
        moves = [["mousemove", cx, cy], ["mousedown", 1]]
        for k in range(150):
            offset = [0, 1, 2, 3, 2, 1, 0, -1, -2, -3, -2, -1][k % 12] * 15
            moves += [["sleep", STEP_S], ["mousemove", cx + offset, cy + offset // 2]]
        moves.append(["mouseup", 1])
        chained(*moves)
        frames.quiet()
        rows.append(summary("(c) zoomed detail view panned", frames.all()[mark:]))

        # (d) MIP navigation views, then the slice loop for 4 seconds
        trace_mark = len(app.lines())
        xdotool("key", "m")
        app.wait_line("MIP navigation on", r"^Change detail/mip-navi = 1$", trace_mark)
        frames.quiet()
        route = menu_route(MENU, "AnimateAction", hidden)
        check(route, "no menu entry for Animate")
        trace_mark = len(app.lines())
        xdotool("key", "Escape")
        time.sleep(0.5)
        mark = frames.mark()
        xdotool("key", *menu_keys(route))
        app.wait_line("the slice loop", r"^Change detail/animate = 1$", trace_mark)
        with Profile(app, "loop"):
            time.sleep(4)
        loop = frames.all()[mark:]
        rows.append(summary("(d) slice loop with MIP navigation views", loop))
        rows.append(summary("    the coronal view meanwhile", loop, "coronar"))

        print("\n".join(rows))
        app.close_with_term()
    finally:
        app.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
