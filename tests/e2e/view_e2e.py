"""tarvicon-view in a real X window, driven like a user: the phantom where its geometry puts it,
a click that moves the position and the cross, the wheel's zoom, a drag that pans, a double
click's automatic levels; then bad inputs that must leave a message and a usable, empty window.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    view_e2e.py BUILD/bin/tarvicon-view
The screenshots and traces are kept when a check fails, or always with TARVICON_E2E_KEEP=1.
Every check reads pixels of a screenshot or values of the program's trace (TARVICON_TRACE);
waits poll the trace and the screen, never sleep for a fixed time.
"""

import os
import re
import sys
import tempfile

import numpy as np

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import phantom  # noqa: E402
from phantom import Geometry as G  # noqa: E402
from e2e_support import (CheckFailed, Picture, TracedProgram, check, check_cross_at, on_screen,  # noqa: E402
                         sphere, wait_for, xdotool)
from e2e_support import finish, run_checks  # noqa: E402


def density(viewer):
    """Screen pixels per millimetre along X and Y as the window system tells the program (Qt
    takes the screen's size in millimetres from RandR, or from 96 dots per inch when RandR
    reports none, as Xvfb's does)."""
    _, line = viewer.wait_line("the screen density", r"^Density ")
    x, y = line.split()[1].split(",")
    ppmm = float(x), float(y)
    check(all(2 < d < 8 for d in ppmm), "implausible screen density " + line)
    return ppmm


class Viewer(TracedProgram):
    """One run of tarvicon-view with its trace."""

    def client(self, shot):
        """The view's part of a screenshot: the window above its status line (the light rows
        at the bottom)."""
        window = super().client(shot)
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
    failures = run_checks((t.__name__, lambda t=t: t(program, workdir))
                          for t in (test_phantom_session, test_cuboid, test_bad_inputs))
    return finish(workdir, failures)


if __name__ == "__main__":
    sys.exit(main())
