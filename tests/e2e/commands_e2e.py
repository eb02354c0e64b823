"""tarvicon's command set in a real X window, driven like a user on the phantom CT and PET study.

The colour bar: its window band, its low end, its high end and its phase line dragged by mouse
change exactly the level nodes each drag names (read back from the trace's "Change" lines), at
the values under the pointer, and the detail view's colours follow.

The command walk: every command of the command panel's list (printed by command_table) in list
order, reached by each key that reaches it (the first command in list order that has a key gets
it) or, without one, through the context menu that Esc opens at the screen's centre, walked with
the arrow keys. Each check reads the node the command changes from the trace, or the listener's
visible effect: a series or slice shown, the cross or the picture moved, a dialog opened and
cancelled, the window's hints. The commands that end or hide the window come last.

A command that cannot do what it should is listed at the end of the output as a fault and fails
the walk once every command has been tried.

Run under Xvfb (xvfb-run -a -s "-screen 0 1600x1000x24") with Debian's python3:
    commands_e2e.py BUILD/bin/tarvicon BUILD/bin/command_table
Screenshots and traces are kept when a check fails, or always with TARVICON_E2E_KEEP=1.
"""

import json
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
from app_e2e import (CT_CAPTION, PET_CAPTION, Layout, Viewer, crop, cross_at, runs, status_ink,  # noqa: E402
                     write_study)
from e2e_support import (CheckFailed, Picture, check, on_screen, sphere, wait_for, wait_on_screen,  # noqa: E402
                         xdotool)
from e2e_support import finish, run_checks  # noqa: E402
from phantom import Geometry as G  # noqa: E402

LEVEL = "detail/colormapping/level/"
# The shipped document's Hounsfield scaling: raw 0 … 4095 shown as −1024 … 3071 HU.
HU_MIN, HU_MAX, RAW_HIGH = -1024.0, 3071.0, 4095

# ---- keys ----

# Shortcut key names as xdotool names them. "+" is the key that carries "+" (on the US layout
# "=", with Shift "+"); "Num +" the keypad's.
KEYSYMS = {"+": "equal", "-": "minus", "Space": "space", "Tab": "Tab", "Esc": "Escape", "Enter": "Return",
           "Ins": "Insert", "Del": "Delete", "Home": "Home", "End": "End", "PgUp": "Prior", "PgDn": "Next",
           "Left": "Left", "Right": "Right", "Up": "Up", "Down": "Down"}
KEYPAD = {"+": "KP_Add", "-": "KP_Subtract"}


def parse_shortcut(text):
    """(shift, ctrl, alt, keypad, key) of a shortcut text; a prefix never takes the last character."""
    flags = {"Shift+": False, "Ctrl+": False, "Alt+": False, "Num ": False}
    more = True
    while more:
        more = False
        for prefix in flags:
            if len(text) > len(prefix) and text.startswith(prefix):
                flags[prefix] = True
                text = text[len(prefix):]
                more = True
    return flags["Shift+"], flags["Ctrl+"], flags["Alt+"], flags["Num "], text


def keysym(text):
    """The xdotool key of a shortcut text."""
    shift, ctrl, alt, keypad, key = parse_shortcut(text)
    name = KEYPAD[key] if keypad else KEYSYMS.get(key, key.lower())
    return "".join(m for m, on in (("shift+", shift), ("ctrl+", ctrl), ("alt+", alt)) if on) + name


def first_owner(commands, text):
    """The first command in list order with a shortcut that the key of text matches (a keypad
    key also matches the plain shortcut)."""
    pressed = parse_shortcut(text)
    for command in commands:
        for shortcut in command["shortcuts"]:
            s = parse_shortcut(shortcut)
            if s[4] == pressed[4] and s[:3] == pressed[:3] and (not s[3] or pressed[3]):
                return command["name"]
    return None


# ---- the context menu (entries by command name, "-" separators, submenus as (title, entries)) ----

MENU = [
    ("&File", ["OpenDirectoryAction", "AddDirectoryAction", "AddFileAction", "Open from PACS\u2026", "-",
               "AboutAction", "-", "SaveBitmapAutoAction", "SaveBitmapAction", "SaveBitmapOpenAction", "-",
               "MinimizeAction", "QuitAction"]),
    ("&Basic", ["FullScreenAction", ("Detail view", ["SagitalAction", "CoronarAction", "TransaxialAction"]),
                "AutoLevelsAction", "AlphaAction", "CenterAction", "FitAction", "HighAction", "LowAction",
                "SliceAction", "WidthAction", "-", "SaveBitmapAutoAction", "SaveBitmapAction",
                "SaveBitmapOpenAction", "-", "OverlayAction", "MipNaviAction", "ExchangeAction"]),
    "PopupAction", "QuitAction", "-", "OverlayAction", "-",
    ("&General", ["PrevSeriesAction", "NextSeriesAction", "-", "LargeIncAction", "IncAction", "ResetAction",
                  "DecAction", "LargeDecAction", "-", "AutoSetupAction",
                  ("Extras", ["AddDirectoryAction", "Copy params", "Paste params", "ReleaseAction", "ReloadAction",
                              "SaveCuboidAction", "ExtraAction"])]),
    ("&Levels", ["CenterAction", "WidthAction", "LowAction", "HighAction", "GammaAction", "ThicknessAction", "-",
                 "AutoLevelsAction", "EnhanceAction", "MipNaviAction", "MipDetailAction", "-", "PhaseAction",
                 "Light3dAction"]),
    ("&Position", [("Move", ["ZeroAction", "-", "MoveLeftAction", "MoveRightAction", "MoveUpAction",
                             "MoveDownAction"]),
                   ("Scroll", ["ScrollLeftAction", "ScrollRightAction", "ScrollUpAction", "ScrollDownAction"]),
                   ("Shift", ["ShiftLeftAction", "ShiftRightAction", "ShiftUpAction", "ShiftDownAction"]),
                   "-", "PrevSliceAction", "NextSliceAction", "-", "AnimateAction", "SliceAction", "-",
                   "AngleAction", "RotationAction", "SwingAction"]),
    ("Volume", [("Cuboid", ["TransposeLRAction", "TransposeTBAction", "TransposeNFAction", "-", "UpscaleXAction",
                            "UpscaleYAction", "UpscaleZAction", "UpscalUAction", "-", "ResampleAlignedAction",
                            "TwinAction", "RevertAction"]),
                ("&View orientation", ["SwapLRAction", "SwapBUAction", "SwapNFAction", "-", "SwapLUAction",
                                       "SwapFRAction", "SwapUFAction"])]),
    ("La&yout", ["FullScreenAction", "GridAction", "PermGrid"]),
    ("&Fusion", ["AlphaAction", "OverlayAction", "FusionAction", "ExchangeAction"]),
    ("&Zoom", ["ZoomAction", "FitAction", "-", "ZoomNoneAction", "ZoomFit2Action", "ZoomFit1Action",
               "ZoomRealAction"]),
]


def menu_route(entries, target, hidden, trail=()):
    """The titles and the indices among the entries the arrow keys stop at (no separators, no
    hidden commands) down to the first entry named target; None when it is not there."""
    position = 0
    for entry in entries:
        if isinstance(entry, tuple):
            route = menu_route(entry[1], target, hidden, trail + ((entry[0], position),))
            if route:
                return route
        elif entry == "-" or entry in hidden:
            continue
        elif entry == target:
            return trail + ((target, position),)
        position += 1
    return None


def menu_keys(route):
    """The keys that walk a route: the first Down marks the top menu's first entry, Right opens a
    submenu on its first entry, Return runs the command."""
    keys = []
    for depth, (_, position) in enumerate(route):
        keys += ["Down"] * (position + (1 if depth == 0 else 0))
        keys.append("Right" if depth < len(route) - 1 else "Return")
    return keys


# ---- orientation swaps, as the viewer computes them ----

OPPOSITE = {"B": "T", "T": "B", "F": "N", "N": "F", "L": "R", "R": "L"}


def swap_path(path, i, j):
    text = list((path + "   ")[:3])

    def letter(k):
        c = text[abs(k) - 1]
        return OPPOSITE.get(c, "\0") if k < 0 else c

    a, b = letter(i), letter(j)
    text[abs(j) - 1] = a
    if abs(i) != abs(j):
        text[abs(i) - 1] = b
    return "".join(text)


# ---- the viewer ----

def number(text):
    try:
        return float(text)
    except ValueError:
        return None


class Session(Viewer):
    """The viewer on the study, with its window, the detail view's rectangle and the series'
    serial numbers."""

    def open(self):
        loaded, _ = self.wait_line("the load", r"^Loaded 2 objects$")
        shown, _ = self.wait_line("the CT shown", r"^Showing %s$" % CT_CAPTION, loaded)
        self.wait_line("the detail view's picture", r"^Built %dx%d$" % (G.width, G.height), shown)
        self.find_window()
        self.focus()
        split = number(self.value("detail/screensplit"))
        check(split and split > 0, "no width of the navigation column in the trace")

        def first_sight(img):
            layout = Layout(img, int(split))
            picture = Picture(crop(img, layout.detail))
            sphere(crop(img, layout.detail))
            return layout, picture

        self.layout, self.picture = wait_on_screen(self, "the study in the window", first_sight)
        self.detail = self.layout.detail
        serials = [int(l.split()[2]) for l in self.lines() if l.startswith("Selecting object ")]
        self.ct_serial = serials[-1]
        self.pet_serial = int(self.value("detail/overlay"))
        check(self.pet_serial not in (0, self.ct_serial), "no PET overlay after the start")

    def focus(self):
        xdotool("windowfocus", "--sync", self.window)

    def key(self, *keys):
        for k in keys:
            xdotool("key", k)

    def value(self, path):
        """The last traced value of a node; None when the trace never named it."""
        prefix = "Change %s = " % path
        for line in reversed(self.lines()):
            if line.startswith(prefix):
                return line[len(prefix):]
        return None

    def changes(self, after, until=None):
        """The (path, value text) of the Change lines from trace index after on."""
        found = []
        for line in self.lines()[after:until]:
            if line.startswith("Change ") and " = " in line:
                path, value = line[len("Change "):].split(" = ", 1)
                found.append((path, value))
        return found

    def wait_value(self, path, expected, after, tolerance=1e-6, what=None):
        """The first Change line of path from index after on with a number within tolerance."""
        def probe():
            self.check_alive()
            for p, v in self.changes(after):
                if p == path and number(v) is not None and abs(number(v) - expected) <= tolerance:
                    return v
            return None

        try:
            return wait_for(what or "%s = %s" % (path, expected), probe, 10)
        except CheckFailed:
            seen = [v for p, v in self.changes(after) if p == path]
            raise CheckFailed("%s: expected %s, the trace has %s" % (path, expected, seen or "no change"))

    def wait_any(self, path, after, what=None):
        """The value of the first Change line of path from index after on."""
        _, line = self.wait_line(what or "a change of " + path, r"^Change %s = " % re.escape(path), after, 10)
        return line.split(" = ", 1)[1]

    def sync(self):
        """A round trip through the key preview: the previous and next slice; returns the trace
        index after both, so that every earlier key has been handled."""
        slice_ = int(self.value("detail/slice"))
        mark = self.mark()
        self.key("Prior")
        self.wait_value("detail/slice", (slice_ - 1) % G.depth, mark)
        mark = self.mark()
        self.key("Next")
        self.wait_value("detail/slice", slice_, mark)
        return self.mark()

    def windows(self):
        """The visible windows of the program but the main window and tooltips."""
        r = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.process.pid)],
                           capture_output=True, text=True)
        return [w for w in r.stdout.split() if w != self.window and not self.is_tooltip(w)]

    def is_tooltip(self, window):
        r = subprocess.run(["xprop", "-id", window, "_NET_WM_WINDOW_TYPE"], capture_output=True, text=True)
        return "_NET_WM_WINDOW_TYPE_TOOLTIP" in r.stdout

    def window_name(self, window):
        r = subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True)
        return r.stdout.strip()

    def wait_window(self, what, name=None, timeout=10):
        def probe():
            self.check_alive()
            for w in self.windows():
                if name is None or self.window_name(w).startswith(name):
                    return w
            return None

        return wait_for(what, probe, timeout)

    def wait_no_windows(self, what):
        wait_for(what, lambda: not self.windows(), 10)

    def geometry(self, window):
        values = dict(kv.split("=") for kv in xdotool("getwindowgeometry", "--shell", window).split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def shot(self):
        return self.client(self.screenshot())

    def property(self, name):
        return subprocess.run(["xprop", "-id", self.window, name], capture_output=True, text=True).stdout

    def check_clean(self, after):
        errors = [l for l in self.lines()[after:] if l.startswith("Error ")]
        check(not errors, "errors: " + "; ".join(errors))


# ---- the colour bar ----

def dotted_rows(img, left, right, top, bottom):
    """The rows of the screen region with one run of at least 16 pixels that alternate, as the
    colour bar's inverted dotted lines do: (row, first column, last column + 1)."""
    rows = []
    region = img[top:bottom, left:right]
    step = np.abs(region[:, 1:] - region[:, :-1]).max(axis=2) > 40
    flat = np.abs(region[:, 2:] - region[:, :-2]).max(axis=2) <= 8
    alternating = step[:, :-1] & step[:, 1:] & flat
    for y in range(region.shape[0]):
        long_runs = [r for r in runs(alternating[y]) if r[1] - r[0] >= 14]
        if len(long_runs) == 1:
            start, end = long_runs[0]
            rows.append((top + y, left + start, left + end + 2))
    return rows


def line_groups(rows):
    """Adjacent dotted rows merged: their middle rows."""
    groups = []
    for row in rows:
        if groups and row[0] - groups[-1][-1][0] <= 1:
            groups[-1].append(row)
        else:
            groups.append([row])
    return [g[len(g) // 2] for g in groups]


def raw_of(hu):
    return int(round(hu - HU_MIN))


def bar_row(top, h, raw):
    """The screen row of a raw value's line on a bar of height h from top (the painting rule)."""
    return top + h - h * raw // RAW_HIGH - 1


def control_lines(app, img):
    """The dotted lines at the left of the control page, under the navigation views."""
    return line_groups(dotted_rows(img, app.layout.navi_left, app.layout.navi_left + 80, app.layout.tree[3],
                                   app.layout.status_top))


class ColourBar:
    """The colour bar's screen rectangle, found from its dotted lines under two known windows."""

    def __init__(self, app, windows):
        # windows: [(low HU, high HU, screenshot)]
        lines = []
        # A line may take in a neighbour of the bar that its first or last dot stands out from:
        # the bar is where all lines are.
        self.left, self.right = 0, 1 << 30
        for low, high, img in windows:
            rows = control_lines(app, img)
            check(len(rows) == 2, "the colour bar shows %d lines for the window %s … %s HU, expected 2: %s"
                  % (len(rows), low, high, rows))
            for _, left, right in rows:
                self.left, self.right = max(self.left, left), min(self.right, right)
            lines += [(rows[1][0], raw_of(low)), (rows[0][0], raw_of(high))]
        check(self.right - self.left >= 12, "the colour bar is %d pixels wide" % (self.right - self.left))
        # The bar's top and height that put every line where the painting rule puts it.
        fits = []
        for h in range(50, app.height):
            top = lines[0][0] - h + h * lines[0][1] // RAW_HIGH + 1
            if all(bar_row(top, h, raw) == y for y, raw in lines):
                fits.append((top, h))
        check(fits, "no bar height puts the lines %s where the painting rule does" % lines)
        # Neighbouring heights may put the four lines on the same rows; the drags' tolerance
        # covers what they leave open.
        self.top, self.h = fits[len(fits) // 2]
        self.spread = max(max(abs(t - self.top), abs(hh - self.h)) for t, hh in fits)
        self.x = (self.left + self.right) // 2

    def percent(self, y):
        """The percent of a screen row: 100 at the bar's top, 0 below its bottom."""
        return (1 - (y - self.top) / self.h) * 100

    def hu(self, y):
        return HU_MIN + self.percent(y) / 100 * (HU_MAX - HU_MIN)

    def lines(self, img):
        return [y for y, _, _ in line_groups(dotted_rows(img, self.left - 2, self.right + 2, self.top,
                                                         self.top + self.h))]


def drag(x, y0, y1):
    """A left-button drag from (x, y0) to (x, y1) in a few movements."""
    xdotool("mousemove", x, y0)
    xdotool("mousedown", 1)
    try:
        for k in (1, 2, 3):
            xdotool("mousemove", x, int(round(y0 + (y1 - y0) * k / 3)))
    finally:
        xdotool("mouseup", 1)


def level_values(app):
    return {name: number(app.value(LEVEL + name) or "0") for name in ("low", "high", "center", "width", "phase")}


def level_percent(hu):
    return (hu - HU_MIN) / (HU_MAX - HU_MIN) * 100


def body_colour(app, img):
    """The median colour of a patch of the phantom's body in the detail view, away from the sphere
    and the cross, where the first sight placed the picture."""
    (x0, y0), (x1, y1) = app.picture.screen_of(20, 90), app.picture.screen_of(40, 110)
    patch = crop(img, app.detail)[int(y0):int(y1), int(x0):int(x1)]
    return np.median(patch.reshape(-1, 3), axis=0)


def test_colour_bar(program, workdir, study, report):
    app = Session(program, [study], workdir, "colour-bar")
    try:
        app.open()
        # The brain window (0 … 80 HU) of the start, then the soft tissue window (−160 … 240 HU)
        # of its preset key: four lines that fix the bar's place.
        brain = app.shot()
        mark = app.mark()
        app.key("F3")
        app.wait_value(LEVEL + "low", -160, mark)
        app.wait_value(LEVEL + "high", 240, mark)
        first = [r[0] for r in control_lines(app, brain)]

        def soft_lines(img):
            rows = control_lines(app, img)
            return len(rows) == 2 and [r[0] for r in rows] != first and [img]

        [soft] = wait_for("the soft tissue window on the colour bar", on_screen(app, soft_lines))
        bar = ColourBar(app, [(0, 80, brain), (-160, 240, soft)])
        pixel = (1 + bar.spread) * 100 / bar.h  # one row of the bar, in percent

        def body_follows(values):
            expected = 255 * (G.body_hu - values["low"]) / (values["high"] - values["low"])

            def test(img):
                return abs(body_colour(app, img) - expected).max() <= 6

            wait_for("the body's grey at %.0f in the window %.1f … %.1f HU"
                     % (expected, values["low"], values["high"]), on_screen(app, test))

        body_follows(level_values(app))

        def drag_and_check(name, y0, y1, moved_nodes, expected):
            """A drag that must change exactly the named level nodes; expected: node → (value,
            tolerance)."""
            before = level_values(app)
            mark = app.mark()
            drag(bar.x, y0, y1)
            for node, (value, tolerance) in expected.items():
                app.wait_value(LEVEL + node, value, mark, tolerance, "%s: %s at %.2f" % (name, node, value))
            end = app.sync()
            outside = {p for p, _ in app.changes(mark, end) if not p.startswith(LEVEL) and p != "detail/slice"}
            check(not outside, "%s changed %s" % (name, sorted(outside)))
            after = level_values(app)
            moved = {k for k in after if abs(after[k] - before[k]) > 1e-6}
            check(moved == set(moved_nodes), "%s changed the level's %s, expected %s (before %s, after %s)"
                  % (name, sorted(moved), sorted(moved_nodes), before, after))
            report.append("%s, %d to %d: %s" % (name, y0, y1, ", ".join(
                "%s %.1f -> %.1f" % (k, before[k], after[k]) for k in sorted(moved))))
            return after

        hu_pixel = pixel / 100 * (HU_MAX - HU_MIN)
        # The band, pressed between its lines and dragged 15 rows down: low and high move by as
        # much, the width stays.
        v = level_values(app)
        high_y, low_y = bar.lines(soft)
        middle = (low_y + high_y) // 2
        shift = bar.hu(middle + 15) - bar.hu(middle)
        v = drag_and_check("the window band", middle, middle + 15, {"low", "high", "center"},
                           {"low": (v["low"] + shift, hu_pixel), "high": (v["high"] + shift, hu_pixel)})
        body_follows(v)

        def moved_lines(img):
            lines = bar.lines(img)
            return len(lines) == 2 and lines[1] != low_y and lines

        # The low end, 20 rows up: low under the pointer, high stays.
        high_y, low_y = wait_for("the window's lines moved", on_screen(app, moved_lines))
        v = drag_and_check("the low end", low_y, low_y - 20, {"low", "center", "width"},
                           {"low": (bar.hu(low_y - 20), hu_pixel)})
        body_follows(v)

        # The high end, 25 rows up: high under the pointer, low stays.
        v = drag_and_check("the high end", high_y, high_y - 25, {"high", "center", "width"},
                           {"high": (bar.hu(high_y - 25), hu_pixel)})
        body_follows(v)

        # The phase: P binds the sixth slider to it and ten steps put it at 20 %; its line appears
        # between the window's, and the body, above the split, takes the upper phase colour.
        mark = app.mark()
        app.key("p", *["Insert"] * 10)
        app.wait_value(LEVEL + "phase", 20, mark)

        def three_lines(img):
            lines = bar.lines(img)
            return len(lines) == 3 and lines

        _, phase_y, _ = wait_for("the phase line on the colour bar", on_screen(app, three_lines))

        def upper_tint(img):
            r, g, b = body_colour(app, img)
            return abs(r - g) <= 3 and r - b >= 10

        def lower_tint(img):
            r, g, b = body_colour(app, img)
            return abs(g - b) <= 3 and r - g >= 10

        wait_for("the body in the upper phase colour", on_screen(app, upper_tint))
        # Dragged 25 rows up, past the body's value: the phase is the pointer's place between the
        # window's ends, and the body takes the lower phase colour.
        low_p, high_p = level_percent(v["low"]), level_percent(v["high"])
        phase = (bar.percent(phase_y - 25) - low_p) / (high_p - low_p) * 100
        drag_and_check("the phase line", phase_y, phase_y - 25, {"phase"},
                       {"phase": (phase, pixel * 100 / (high_p - low_p))})
        wait_for("the body in the lower phase colour", on_screen(app, lower_tint))
        app.check_clean(0)
        check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
    finally:
        app.kill()


# ---- the command walk ----

# The node each key letter of the parameter commands binds a slider to.
KEY_PATHS = {"C": LEVEL + "center", "H": LEVEL + "high", "L": LEVEL + "low", "P": LEVEL + "phase",
             "W": LEVEL + "width", "Z": "detail/zoom", "S": "detail/slice", "A": "detail/alpha",
             "T": "detail/thickness", "G": "detail/gamma", "D": "detail/grid", "3": "detail/light3d",
             "N": "detail/angle", "I": "detail/align", "X": "detail/extra"}
EXPORT_PATHS = {"detail/savebitmap", "detail/savebitmapauto", "detail/savebitmapopen", "detail/savecuboid"}
# The moves, scrolls and shifts with the command that undoes each.
OPPOSITES = {"Left": "Right", "Right": "Left", "Up": "Down", "Down": "Up"}
# The commands that end or hide the window: last, in this order.
LAST = ["QuitAction", "MinimizeAction"]
QUESTION = "Are you sure to close Tarvicon?"


class CommandWalk:
    def __init__(self, app, table):
        self.app = app
        self.commands = table["commands"]
        self.params = table["params"]
        self.by_name = {c["name"]: c for c in self.commands}
        self.hidden = {c["name"] for c in self.commands if c["hidden"]}
        self.rows = []
        self.faults = []
        self.screen = tuple(int(v) for v in xdotool("getdisplaygeometry").split())

    # -- reaching a command --

    def owned_keys(self, command):
        """The command's shortcuts that reach it: those no earlier command takes."""
        return [s for s in command["shortcuts"] if first_owner(self.commands, s) == command["name"]]

    def menu(self, name):
        """Runs a command from the context menu that Esc opens, walked with the arrow keys."""
        app = self.app
        check(number(app.value("detail/overlay")) != 0, "the menu is walked with an overlay series (all enabled)")
        route = menu_route(MENU, name, self.hidden)
        check(route, "no context menu entry for " + name)
        app.key("Escape")
        app.wait_window("the context menu")
        app.key(*menu_keys(route))
        return "menu " + " > ".join(t.replace("&", "") for t, _ in route[:-1])

    def reaches(self, command):
        """(how, run) for each way the walk reaches the command: each key it owns, else the menu."""
        keys = self.owned_keys(command)
        if keys:
            return [(k, lambda k=k: self.app.key(keysym(k))) for k in keys]
        route = menu_route(MENU, command["name"], self.hidden)
        how = "menu " + " > ".join(t.replace("&", "") for t, _ in route[:-1]) if route else "menu"
        return [(how, lambda: self.menu(command["name"]))]

    def run_key(self, name):
        """Runs another command by its first own key (the checks' helpers)."""
        self.app.key(keysym(self.owned_keys(self.by_name[name])[0]))

    def fault(self, command, text):
        self.faults.append("%s: %s" % (command, text))

    # -- the walk --

    def walk(self):
        order = [c for c in self.commands if c["name"] not in LAST]
        for command in order:
            self.check_command(command)
        for entry in self.params:
            self.check_param_entry(entry)
        for name in LAST:
            self.check_command(self.by_name[name])

    def check_command(self, command):
        name = command["name"]
        reaches = self.reaches(command)
        special = getattr(self, "check_" + name, None)
        checked = []
        status = "ok"
        faults = len(self.faults)
        for how, run in reaches:
            if special:
                checked.append(special(command, run))
            else:
                checked.append(getattr(self, "effect_" + command["effect"])(command, run))
        if len(self.faults) > faults:
            status = "FAULT"
        elif any(c.startswith("no effect yet") for c in checked):
            status = "not built"
        node = command["path"] or {"Step": "the selected slider", "Reset": "the selected slider",
                                   "Popup": "the context menu", "About": "the about box",
                                   "Release": "the window's border"}.get(command["effect"], "-")
        if command["effect"] == "ParamKey" and command["key"] in KEY_PATHS:
            node = "key %s: %s" % (command["key"], KEY_PATHS[command["key"]])
        self.rows.append((name, ", ".join(command["shortcuts"]) or "-", node, "; ".join(h for h, _ in reaches),
                          " / ".join(dict.fromkeys(checked)), status))

    def check_param_entry(self, entry):
        app = self.app
        run = lambda: app.key(keysym(entry["shortcut"]))  # noqa: E731
        if entry["path"] == "detail/copy":
            # Copy with gamma 1.0, a step up, paste: gamma 1.0 again.
            app.key("g")
            gamma = number(app.value("detail/gamma") or "1")
            run()
            mark = app.mark()
            app.key("Insert")
            up = number(app.wait_any("detail/gamma", mark))
            check(up != gamma, "gamma did not step")
            mark = app.mark()
            self.run_paste()
            app.wait_value("detail/gamma", gamma, mark)
            checked = "copied gamma %s, stepped to %s, pasted: gamma %s" % (gamma, up, gamma)
        else:
            # Paste what was copied before a change of the grid.
            grid = number(app.value("detail/grid") or "0")
            self.run_copy()
            mark = app.mark()
            app.key("d", "Insert")
            up = number(app.wait_any("detail/grid", mark))
            mark = app.mark()
            run()
            app.wait_value("detail/grid", grid, mark)
            checked = "grid %s stepped to %s, pasted: grid %s" % (grid, up, grid)
        self.rows.append((entry["caption"], entry["shortcut"], entry["path"], entry["shortcut"], checked, "ok"))

    def run_copy(self):
        self.app.key(keysym(self.params[0]["shortcut"]))

    def run_paste(self):
        self.app.key(keysym(self.params[1]["shortcut"]))

    # -- checks by effect --

    def effect_ParamKey(self, command, run):
        app = self.app
        key = command["key"]
        if key == "F":
            return self.fit_cycle(command, run)
        if key == "*":
            return self.animate(command, run)
        path = KEY_PATHS.get(key)
        check(path, "no node known for the key " + key)
        before = app.value(path)
        run()
        mark = app.mark()
        app.key("Insert")
        up = app.wait_any(path, mark, "Ins after %s to step %s" % (command["name"], path))
        check(before is None or number(up) != number(before), "%s stayed %s" % (path, up))
        mark = app.mark()
        app.key("Delete")
        if before is not None:
            app.wait_value(path, number(before), mark)
            back = before
        else:
            back = app.wait_any(path, mark)
        return "then Ins: %s = %s, Del: %s" % (path, up, back)

    def fit_cycle(self, command, run):
        """Four presses from the fit mode v: (min(v, 3) + 1) mod 4 each, back to v."""
        app = self.app
        fit = number(app.value("detail/fit"))
        values = []
        for _ in range(4):
            fit = (min(fit, 3) + 1) % 4
            mark = app.mark()
            run()
            app.wait_value("detail/fit", fit, mark)
            values.append("%g" % fit)
        return "four times: detail/fit = %s" % ", ".join(values)

    def animate(self, command, run):
        """Started forward, turned backward by a second run 400 ms on, stopped by pasting the
        parameters copied before."""
        app = self.app
        slice_ = int(app.value("detail/slice"))
        self.run_copy()
        mark = app.mark()
        run()
        app.wait_value("detail/animate", 1, mark)
        started = time.monotonic()
        app.wait_value("detail/slice", slice_ + 2, mark)
        wait_for("400 ms since the start", lambda: time.monotonic() - started >= 0.4)  # the 333 ms rule
        mark = app.mark()
        run()
        app.wait_value("detail/animate", -1, mark)
        now = int(app.wait_any("detail/slice", mark))
        app.wait_value("detail/slice", now - 2, mark)
        mark = app.mark()
        self.run_paste()
        app.wait_value("detail/animate", 0, mark)
        app.wait_value("detail/slice", slice_, mark)
        # Two round trips through the slices: nothing steps between them.
        mark = app.sync()
        end = app.sync()
        stepped = [v for p, v in app.changes(mark, end) if p == "detail/slice"]
        check(stepped == ["%d" % (slice_ - 1), "%d" % slice_],
              "the slices still step after the animation stopped: %s" % stepped)
        return "detail/animate = 1, slices forward; again 400 ms on: -1, backward; stopped by \"Paste params\""

    def effect_Toggle(self, command, run):
        app = self.app
        path = command["path"]
        mark = app.mark()
        run()
        first = number(app.wait_any(path, mark, "%s to toggle %s" % (command["name"], path)))
        check(first in (0, 1), "%s toggled to %s" % (path, first))
        mark = app.mark()
        run()
        app.wait_value(path, 1 - first, mark)
        return "twice: %s = %g, %g" % (path, first, 1 - first)

    effect_Invert = effect_Toggle

    def check_ExchangeAction(self, command, run):
        """X toggles the exchange; the extra parameter, whose key X is too, is not bound: a step
        after X moves the slider selected before."""
        app = self.app
        app.key("t")
        checked = self.effect_Toggle(command, run)
        thickness = number(app.value("detail/thickness") or "1")
        mark = app.mark()
        app.key("Insert")
        app.wait_value("detail/thickness", thickness + 1, mark)
        mark = app.mark()
        app.key("Delete")
        app.wait_value("detail/thickness", thickness, mark)
        check(not [p for p, _ in app.changes(mark) if p == "detail/extra"], "X bound the extra parameter")
        return checked + "; Ins after X steps the thickness, not detail/extra"

    def effect_Cycle3(self, command, run):
        app = self.app
        path = command["path"]
        mark = app.mark()
        run()
        values = [number(app.wait_any(path, mark))]
        for _ in range(2):
            mark = app.mark()
            run()
            values.append(number(app.wait_value(path, (values[-1] + 1) % 3, mark)))
        return "three times: %s = %s" % (path, ", ".join("%g" % v for v in values))

    def effect_Negate(self, command, run):
        app = self.app
        path = command["path"]
        value = number(app.value(path))
        mark = app.mark()
        run()
        app.wait_value(path, -value, mark)
        app.wait_line("the column hidden", r"^Navigation hidden$", mark)
        mark = app.mark()
        run()
        app.wait_value(path, value, mark)
        app.wait_line("the column shown", r"^Navigation shown$", mark)
        return "twice: %s = %g, %g; \"Navigation hidden\", \"Navigation shown\"" % (path, -value, value)

    def effect_Overlay(self, command, run):
        app = self.app
        path = command["path"]
        mark = app.mark()
        run()
        app.wait_value(path, 0, mark)
        # Without an overlay the exchange command is disabled, and its X reaches nothing else:
        # a step after X moves the slider selected before.
        app.key("t")
        thickness = number(app.value("detail/thickness") or "1")
        mark = app.mark()
        self.run_key("ExchangeAction")
        app.key("Insert")
        app.wait_value("detail/thickness", thickness + 1, mark)
        app.key("Delete")
        app.wait_value("detail/thickness", thickness, mark)
        stray = [p for p, _ in app.changes(mark) if p in ("detail/exchange", "detail/extra")]
        check(not stray, "X without an overlay changed %s" % stray)
        mark = app.mark()
        run()
        app.wait_value(path, app.ct_serial, mark)
        app.wait_line("the CT as its overlay", r"^Selecting overlay object %d$" % app.ct_serial, mark)
        # The start's overlay again: the reload's initial selection.
        mark = app.mark()
        self.run_key("ReloadAction")
        app.wait_value(path, app.pet_serial, mark)
        return "%s = 0 (X then does nothing), then the shown CT's serial %d" % (path, app.ct_serial)

    def effect_ToggleAndClear(self, command, run):
        app = self.app
        path, other = command["path"], command["other"]
        partner = next(c["name"] for c in self.commands
                       if c["effect"] == "ToggleAndClear" and c["path"] == other)
        mark = app.mark()
        self.run_key(partner)
        app.wait_value(other, 1, mark)
        mark = app.mark()
        run()
        app.wait_value(path, 1, mark)
        app.wait_value(other, 0, mark)
        mark = app.mark()
        run()
        app.wait_value(path, 0, mark)
        return "after %s: %s = 1 and %s = 0, again: %s = 0" % (partner, path, other, path)

    def effect_Swap(self, command, run):
        app = self.app
        path = app.value("detail/path")
        swapped = swap_path(path, command["i"], command["j"])
        mark = app.mark()
        run()
        app.wait_line("detail/path = " + swapped, r"^Change detail/path = %s$" % swapped, mark)
        mark = app.mark()
        run()
        back = swap_path(swapped, command["i"], command["j"])
        app.wait_line("detail/path = " + back, r"^Change detail/path = %s$" % back, mark)
        check(back == path, "the swap twice is not the first path")
        return "detail/path %s -> %s -> %s" % (path, swapped, back)

    def effect_Assign(self, command, run):
        app = self.app
        path = command["path"]
        if path == "detail/fit":
            before = number(app.value(path))
            check(before != command["value"], "fit is already %s" % before)
            mark = app.mark()
            run()
            app.wait_value(path, command["value"], mark)
            return "%s = %d (from %g)" % (path, command["value"], before)
        if path == "detail/enhance":
            # The view paints once with its better resampler and sets the node back to 0.
            mark = app.mark()
            run()
            app.wait_line("a change of " + path, r"^Change %s = " % path, mark)
            app.wait_line("the better resampler", r"^detail: painting with .* resampler 1$", mark)
            end = app.sync()
            grid = [v for p, v in app.changes(mark, end) if p == "detail/slices/permanent-grid"]
            check(not grid, "the key of %s changed the permanent grid: %s" % (command["name"], grid))
            return "%s := 1: the view paints with its better resampler, the node back to 0; " \
                   "the permanent grid stays" % path
        if path == "detail/slices/autolevels":
            low, high = app.value(LEVEL + "low"), app.value(LEVEL + "high")
            mark = app.mark()
            run()
            app.wait_line(path + " = 0", r"^Change %s = 0$" % path, mark)
            app.wait_line("the level", r"^Change %s(low|high) = " % LEVEL, mark)
            # The preset of the series again.
            mark = app.mark()
            self.run_key("AutoSetupAction")
            app.wait_value(LEVEL + "low", number(low), mark)
            app.wait_value(LEVEL + "high", number(high), mark)
            return "%s = 0 (forced), the level's low and high recomputed" % path
        raise CheckFailed("no check for an assignment to " + path)

    def effect_Fire(self, command, run):
        """The listener's effect of an event node: by the node's path, a method with its
        arguments, else the method fire_ and the path after "detail/"."""
        table = {
            "detail/slices/prev": (self.slice_step, -1, "NextSliceAction"),
            "detail/slices/next": (self.slice_step, 1, "PrevSliceAction"),
            "detail/series/open": (self.dialog, "DICOM directory to open:"),
            "detail/series/add": (self.dialog, "DICOM directory o add:"),
            "detail/series/addfile": (self.dialog, None),
        }
        for path in EXPORT_PATHS:
            table[path] = (self.fire_export,)
        for direction in OPPOSITES:
            table["detail/slices/" + direction.lower()] = (self.move, direction)
            table["detail/slices/scroll-" + direction.lower()] = (self.scroll, direction)
            table["detail/slices/shift-" + direction.lower()] = (self.shift, direction)
        for axis, coronal in (("x", False), ("y", False), ("z", True), ("u", True)):
            table["detail/series/upscale-" + axis] = (self.upscale, coronal)
        method, *args = table.get(command["path"], (None,))
        if method is None:
            method = getattr(self, "fire_" + re.sub(r"\W", "_", command["path"].split("detail/", 1)[1]))
        return method(command, run, *args)

    def effect_Step(self, command, run):
        # The thickness slider: 1 … 255 px in 255 steps, a large step 255 div 32 = 7.
        app = self.app
        app.key("t")
        size = (1 if abs(command["tag"]) == 1 else 7) * (1 if command["tag"] > 0 else -1)
        before = number(app.value("detail/thickness") or "1")
        check(1 <= before + size <= 255, "thickness %g cannot step by %d" % (before, size))
        mark = app.mark()
        run()
        app.wait_value("detail/thickness", before + size, mark)
        return "T, then detail/thickness %g -> %g" % (before, before + size)

    def effect_Reset(self, command, run):
        app = self.app
        mark = app.mark()
        app.key("t", "Insert", "Insert")
        app.wait_value("detail/thickness", 3, mark)
        mark = app.mark()
        run()
        app.wait_value("detail/thickness", 1, mark)
        return "T, Ins twice (3), then detail/thickness = 1, its low bound"

    def effect_Popup(self, command, run):
        app = self.app
        run()
        menu = app.wait_window("the context menu")
        x, y, _, _ = app.geometry(menu)
        centre = (self.screen[0] // 2, self.screen[1] // 2)
        check((x, y) == centre, "the context menu at %d,%d, not at the screen's centre %s" % (x, y, centre))
        app.key("Escape")
        app.wait_no_windows("the context menu closed")
        return "the context menu at the screen's centre %d,%d, closed with Esc" % centre

    def effect_About(self, command, run):
        app = self.app
        run()
        box = app.wait_window("the about box", "About")
        name = app.window_name(box)
        app.key("Escape")
        app.wait_no_windows("the about box closed")
        app.focus()
        return "the dialog \"%s\", closed with Esc" % name

    def effect_Release(self, command, run):
        app = self.app
        hints = app.property("_MOTIF_WM_HINTS")
        run()
        wait_for("the window's decoration hints changed", lambda: app.property("_MOTIF_WM_HINTS") != hints, 10)
        released = app.property("_MOTIF_WM_HINTS").split("=")[-1].strip()
        app.focus()
        run()
        wait_for("the window's decoration hints back", lambda: app.property("_MOTIF_WM_HINTS") == hints, 10)
        app.focus()
        return "_MOTIF_WM_HINTS %s -> %s -> back" % (hints.split("=")[-1].strip(), released)

    # -- fires by node --

    def fire_export(self, command, run):
        """The export's nodes, each checked by what it does to the export folder of the test's
        documents folder (export_e2e reads the files back)."""
        app = self.app
        folder = os.path.join(os.environ["XDG_DOCUMENTS_DIR"], "Melvor2", "DICOM", "Export")

        def files():
            return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

        def done():
            app.wait_no_windows("the export's windows closed")
            app.focus()
            app.sync()

        before = files()
        mark = app.mark()
        run()
        path = command["path"]
        if path == "detail/savebitmapopen":
            from export_e2e import OPENED_LOG
            log = os.path.join(os.path.dirname(app.trace_path), OPENED_LOG)
            url = "file://" + folder

            def opened():
                errors = [l for l in app.lines()[mark:] if l.startswith("Error ")]
                if errors:
                    return errors[0]
                return os.path.exists(log) and url in open(log).read().split() and "xdg-open " + url

            answer = wait_for("the export folder opened or an error", opened, 10)
            done()
            check(answer.startswith("xdg-open") or folder in answer, "Shift+S: " + answer)
            return "the desktop's open: %s" % answer
        if path == "detail/savebitmap":
            dialog = app.wait_window("the save dialog")
            title = app.window_name(dialog)
            app.key("Escape")
            done()
            saved = [l for l in app.lines()[mark:] if l.startswith("Saved ")]
            check(title == "Tarvicon" and not saved and files() == before,
                  "the save dialog \"%s\" cancelled: %s, the folder holds %s" % (title, saved, files()))
            app.check_clean(mark)
            return "the save dialog \"%s\", cancelled with Esc: nothing written" % title
        _, line = app.wait_line("a file saved", r"^Saved ", mark, 30)
        written = line[len("Saved "):]
        done()
        app.check_clean(mark)
        name = os.path.basename(written)
        check(os.path.dirname(written) == folder and os.path.isfile(written),
              "\"%s\": no file in the export folder %s" % (line, folder))
        if path == "detail/savecuboid":
            with open(written, "rb") as f:
                data = f.read()
            fields = struct.unpack("<11i", data[:44])
            check(name == "cuboid.cub" and fields[:4] == (G.width, G.height, G.depth, 2)
                  and len(data) == 44 + fields[10] == 44 + G.width * G.height * G.depth * 2,
                  "%s: header %s, %d bytes" % (written, fields, len(data)))
            return "\"%s\": extents %d %d %d, %d bytes" % (line, fields[0], fields[1], fields[2], len(data))
        animated = any(number(app.value(p) or "0") for p in ("detail/rotate", "detail/animate"))
        kind = subprocess.run(["identify", "-format", "%m %w %h\n", written], check=True, capture_output=True,
                              text=True).stdout.split()
        check(name not in before and name.endswith(".gif" if animated else ".jpg")
              and kind[0] == ("GIF" if animated else "JPEG"),
              "\"%s\": %s, the folder held %s before" % (line, kind, before))
        return "\"%s\": a new %s %sx%s in the export folder" % (line, kind[0], kind[1], kind[2])

    def fire_series_prev(self, command, run):
        app = self.app
        mark = app.mark()
        self.run_key("NextSeriesAction")
        app.wait_line("the PET shown", r"^Showing %s$" % PET_CAPTION, mark)
        mark = app.mark()
        run()
        app.wait_line("the CT shown", r"^Showing %s$" % CT_CAPTION, mark)
        return "after End: \"Showing %s\"" % CT_CAPTION

    def fire_series_next(self, command, run):
        app = self.app
        mark = app.mark()
        run()
        app.wait_line("the PET shown", r"^Showing %s$" % PET_CAPTION, mark)
        mark = app.mark()
        self.run_key("PrevSeriesAction")
        app.wait_line("the CT shown", r"^Showing %s$" % CT_CAPTION, mark)
        return "\"Showing %s\"" % PET_CAPTION

    def slice_step(self, command, run, step, back):
        app = self.app
        slice_ = int(app.value("detail/slice"))
        mark = app.mark()
        run()
        app.wait_value("detail/slice", slice_ + step, mark)
        mark = app.mark()
        self.run_key(back)
        app.wait_value("detail/slice", slice_, mark)
        return "detail/slice %d -> %d" % (slice_, slice_ + step)

    def cross(self, img):
        return cross_at(crop(img, self.app.detail))

    def move(self, command, run, direction):
        """The cross moves one voxel the named way; the opposite command brings it back."""
        app = self.app
        col, row = wait_on_screen(app, "the detail view's cross", self.cross)
        scale = app.picture.scale_x
        dx, dy = {"Left": (-1, 0), "Right": (1, 0), "Up": (0, -1), "Down": (0, 1)}[direction]

        def moved(img):
            c, r = self.cross(img)
            return abs(c - col - dx * scale) <= 1.5 and abs(r - row - dy * scale) <= 1.5

        run()
        wait_for("the cross one voxel %s of %d,%d" % (direction.lower(), col, row), on_screen(app, moved), 10)
        self.run_key("Move%sAction" % OPPOSITES[direction])
        wait_for("the cross back at %d,%d" % (col, row), on_screen(
            app, lambda img: max(abs(a - b) for a, b in zip(self.cross(img), (col, row))) <= 1), 10)
        return "the detail view's cross one voxel %s (%.1f px), back by %s" % (
            direction.lower(), scale, OPPOSITES[direction])

    def scroll(self, command, run, direction):
        """Zoomed in beyond the view, the picture moves 8 pixels along the named axis; the
        opposite command brings it back; then fit mode 3 again."""
        app = self.app
        mark = app.mark()
        app.key("z")
        for _ in range(5):
            mark = app.mark()
            app.key("shift+Delete")
            app.wait_any("detail/zoom", mark)
        check(number(app.value("detail/zoom")) >= 5, "zoom %s after five large steps" % app.value("detail/zoom"))

        def centre(img):
            x, y, _ = sphere(crop(img, app.detail))
            return x, y

        # The view glides toward the cross after a zoom: the picture counts once it holds still.
        last = [None]

        def still(img):
            now = centre(img)
            before, last[0] = last[0], now
            return before is not None and max(abs(a - b) for a, b in zip(now, before)) <= 0.5 and now

        x0, y0 = wait_on_screen(app, "the zoomed sphere, still", still)
        horizontal = direction in ("Left", "Right")

        def moved(img):
            x, y = centre(img)
            along, across = (x - x0, y - y0) if horizontal else (y - y0, x - x0)
            return abs(abs(along) - 8) <= 1.5 and abs(across) <= 1.5 and (x, y)

        run()
        x1, y1 = wait_for("the picture scrolled " + direction.lower(), on_screen(app, moved), 10)
        self.run_key("Scroll%sAction" % OPPOSITES[direction])
        wait_for("the picture back", on_screen(
            app, lambda img: max(abs(a - b) for a, b in zip(centre(img), (x0, y0))) <= 1.5), 10)
        mark = app.mark()
        app.key("f", "f", "f", "f")
        app.wait_value("detail/fit", 3, mark)
        app.key("s")
        return "zoomed in: the picture moved by %.0f,%.0f px, back by %s" % (x1 - x0, y1 - y0, OPPOSITES[direction])

    def shift(self, command, run, direction):
        """The world position (status panel 2) changes, the voxel (panel 0) stays; the opposite
        command brings the world position back."""
        app = self.app
        img = app.shot()
        voxel, world = status_ink(img, app.layout, 0), status_ink(img, app.layout, 2)

        def shifted(img):
            return (status_ink(img, app.layout, 0) == voxel).all() and (status_ink(img, app.layout, 2) != world).any()

        run()
        wait_for("the world position changed, the voxel kept", on_screen(app, shifted), 10)
        self.run_key("Shift%sAction" % OPPOSITES[direction])
        wait_for("the world position back", on_screen(
            app, lambda img: (status_ink(img, app.layout, 2) == world).all()), 10)
        return "the status bar's world position changed, the voxel stayed; back by %s" % OPPOSITES[direction]

    def fire_zero(self, command, run):
        app = self.app
        col, row = wait_on_screen(app, "the detail view's cross", self.cross)
        self.run_key("MoveLeftAction")
        wait_for("the cross moved", on_screen(app, lambda img: self.cross(img)[0] < col - 1), 10)
        run()
        wait_for("the cross back at the zero point %d,%d" % (col, row), on_screen(
            app, lambda img: max(abs(a - b) for a, b in zip(self.cross(img), (col, row))) <= 1), 10)
        return "after Left: the cross back at the zero point"

    def fire_autosetup(self, command, run):
        app = self.app
        center = number(app.value(LEVEL + "center"))
        mark = app.mark()
        app.key("c", "Insert")
        app.wait_value(LEVEL + "center", center + 1, mark)
        mark = app.mark()
        run()
        app.wait_value(LEVEL + "center", center, mark)
        return "after C, Ins: %scenter back to the series' preset %g" % (LEVEL, center)

    def fire_reload(self, command, run):
        app = self.app
        mark = app.mark()
        run()
        app.wait_line("the overlay selected", r"^Selecting overlay object %d$" % app.pet_serial, mark)
        app.wait_line("the CT shown", r"^Showing %s$" % CT_CAPTION, mark)
        return "the initial selection: \"Selecting overlay object %d\", \"Showing %s\"" % (app.pet_serial, CT_CAPTION)

    def sphere_at(self, voxel):
        """A screen test: the detail view's sphere centred on a voxel of the first sight's picture."""
        app = self.app
        ex, ey = app.picture.screen_of(*voxel)

        def test(img):
            x, y, _ = sphere(crop(img, app.detail))
            return abs(x - ex) <= 3 and abs(y - ey) <= 3

        return test

    def revert(self):
        app = self.app
        mark = app.mark()
        self.run_key("RevertAction")
        wait_for("the sphere back", on_screen(app, self.sphere_at(G.sphere_voxel[:2])), 10)
        app.check_clean(mark)

    def mirror(self, command, run, voxel):
        app = self.app
        wait_for("the sphere at its place", on_screen(app, self.sphere_at(G.sphere_voxel[:2])), 10)
        mark = app.mark()
        run()
        app.wait_line("the series selected again", r"^Showing %s$" % CT_CAPTION, mark)
        wait_for("the sphere mirrored to %s" % (voxel,), on_screen(app, self.sphere_at(voxel)), 10)
        self.revert()
        return "the sphere mirrored to voxel %d,%d; Alt+R back" % voxel

    def fire_series_xpose_left_right(self, command, run):
        return self.mirror(command, run, (G.width - 1 - G.sphere_voxel[0], G.sphere_voxel[1]))

    def fire_series_xpose_top_bottom(self, command, run):
        return self.mirror(command, run, (G.sphere_voxel[0], G.height - 1 - G.sphere_voxel[1]))

    def fire_series_xpose_near_far(self, command, run):
        # Six slices off the sphere's centre the disc differs before and after the flip: the
        # cube's slice k is the file's slice depth − 1 − k before and k after.
        app = self.app
        mark = app.mark()
        app.key(*["Prior"] * 6)
        k = G.depth // 2 - 6
        app.wait_value("detail/slice", k, mark)

        def diameter(file_slice):
            dz = (file_slice - G.sphere_voxel[2]) * G.slice_mm
            return 2 * np.sqrt(G.sphere_radius_mm ** 2 - dz ** 2) / G.pixel_mm * app.picture.scale_x

        def disc(expected):
            return lambda img: abs(sphere(crop(img, app.detail))[2] - expected) <= 5

        before, after = diameter(G.depth - 1 - k), diameter(k)
        wait_for("a disc of %.0f px" % before, on_screen(app, disc(before)), 10)
        mark = app.mark()
        run()
        app.wait_line("the series selected again", r"^Showing %s$" % CT_CAPTION, mark)
        wait_for("a disc of %.0f px after the flip" % after, on_screen(app, disc(after)), 10)
        self.run_key("RevertAction")
        wait_for("a disc of %.0f px again" % before, on_screen(app, disc(before)), 10)
        mark = app.mark()
        app.key(*["Next"] * 6)
        app.wait_value("detail/slice", G.depth // 2, mark)
        return "at slice %d the sphere's disc %.0f -> %.0f px; Alt+R back" % (k, before, after)

    def upscale(self, command, run, coronal):
        """The picture the detail view builds grows along the upscaled axis; Alt+R back."""
        app = self.app
        size = "%dx%d" % (G.width, G.height)
        if coronal:
            mark = app.mark()
            self.run_key("CoronarAction")
            size = app.wait_line("the coronal picture", r"^Built \d+x\d+$", mark)[1].split()[1]
        copy_mark = app.mark()
        self.run_copy()
        mark = app.mark()
        run()
        _, line = app.wait_line("a bigger picture", r"^Built (?!%s$)\d+x\d+$" % size, mark, 20)
        grown = line.split()[1]
        # The operation's progress dialog takes the keys until the series is shown again, and
        # without a window manager the keyboard focus does not come back by itself when it closes.
        app.wait_line("the series shown again", r"^Showing ", mark, 20)
        app.focus()
        mark = app.mark()
        self.run_key("RevertAction")
        app.wait_line("the picture as loaded", r"^Built %s$" % size, mark, 20)
        app.check_clean(copy_mark)
        # The zoom and position the reverted cube was shown with, as before.
        self.run_paste()
        if coronal:
            mark = app.mark()
            self.run_key("TransaxialAction")
            app.wait_line("the transaxial picture", r"^Built %dx%d$" % (G.width, G.height), mark)
        app.sync()
        return "%sthe picture %s -> %s; Alt+R back" % ("coronal: " if coronal else "", size, grown)

    def fire_series_revert(self, command, run):
        app = self.app
        mark = app.mark()
        self.run_key("TransposeTBAction")
        app.wait_line("the series selected again", r"^Showing %s$" % CT_CAPTION, mark)
        wait_for("the sphere mirrored", on_screen(
            app, self.sphere_at((G.sphere_voxel[0], G.height - 1 - G.sphere_voxel[1]))), 10)
        run()
        wait_for("the sphere back", on_screen(app, self.sphere_at(G.sphere_voxel[:2])), 10)
        return "after Shift+Ctrl+Y: the sphere back at its voxel"

    def fire_series_resample_aligned(self, command, run):
        app = self.app
        mark = app.mark()
        app.key("n", "Insert")
        angle = number(app.wait_any("detail/angle", mark))
        check(angle != 0, "the angle did not step")
        mark = app.mark()
        run()
        app.wait_value("detail/angle", 0, mark)
        app.wait_line("the picture of the resampled cube", r"^Built ", mark)
        self.revert()
        return "after N, Ins (angle %g): detail/angle = 0, the cube resampled; Alt+R back" % angle

    def detail_path(self, command, run, size, first=None):
        app = self.app
        if first:
            mark = app.mark()
            self.run_key(first)
            app.wait_line("the picture", r"^Built ", mark)
        path = app.value("detail/path")
        mark = app.mark()
        run()
        _, line = app.wait_line("a new path", r"^Change detail/path = (?!%s$)" % path, mark)
        app.wait_line("a %s picture" % size, r"^Built %s$" % size, mark)
        new = line.split(" = ")[1]
        if not first:
            mark = app.mark()
            self.run_key("TransaxialAction")
            app.wait_line("the transaxial picture", r"^Built %dx%d$" % (G.width, G.height), mark)
        return "detail/path %s -> %s, a %s picture" % (path, new, size)

    def fire_slices_detail_coronar(self, command, run):
        return self.detail_path(command, run, "%dx%d" % (G.width, G.depth))

    def fire_slices_detail_sagital(self, command, run):
        return self.detail_path(command, run, "%dx%d" % (G.height, G.depth))

    def fire_slices_detail_transaxial(self, command, run):
        return self.detail_path(command, run, "%dx%d" % (G.width, G.height), "CoronarAction")

    def dialog(self, command, run, name):
        app = self.app
        mark = app.mark()
        run()
        box = app.wait_window("the dialog" + (" \"%s\"" % name if name else ""), name)
        title = app.window_name(box)
        app.key("Escape")
        app.wait_no_windows("the dialog closed")
        app.focus()
        app.sync()
        loads = [l for l in app.lines()[mark:] if l.startswith(("Loaded", "Showing", "Loading"))]
        check(not loads, "a cancelled dialog loaded: %s" % loads[:3])
        return "the dialog \"%s\", cancelled with Esc: nothing loaded" % title

    def fire_series_quit(self, command, run):
        app = self.app
        mark = app.mark()
        run()

        def answer():
            app.check_alive()
            if "Question " + QUESTION in app.lines()[mark:]:
                return "traced"
            boxes = app.windows()
            return boxes[0] if boxes else None

        found = wait_for("the question to close", answer, 10)
        if found != "traced":
            self.fault(command["name"], "%s shows the modal box \"%s\" while tracing, instead of the trace line "
                       "\"Question %s\" answered no" % (app.window_name(found), QUESTION, QUESTION))
            app.key("Escape")
            app.wait_no_windows("the question box closed")
            app.focus()
            app.sync()
            return "a modal box \"%s\", cancelled with Esc: the viewer goes on" % QUESTION
        app.sync()
        return "\"Question %s\" answered no: the viewer goes on" % QUESTION

    def fire_series_minimize(self, command, run):
        app = self.app
        run()
        wait_for("the window asking to be iconified", lambda: "Iconic" in app.property("WM_HINTS"), 10)
        return "the window's WM_HINTS ask for the iconic state"


def test_command_walk(program, workdir, study, table, out):
    app = Session(program, [study], workdir, "commands")
    walk = CommandWalk(app, table)
    try:
        app.open()
        # While AltGr is held no command takes a key: PgUp leaves the slice.
        slice_ = app.value("detail/slice")
        mark = app.mark()
        xdotool("keydown", "ISO_Level3_Shift")
        try:
            app.key("Prior")
        finally:
            xdotool("keyup", "ISO_Level3_Shift")
        end = app.sync()
        moved = [v for p, v in app.changes(mark, end) if p == "detail/slice"]
        check(moved == [str(int(slice_) - 1), slice_],
              "PgUp with AltGr held changed the slice: %s" % moved)
        walk.walk()
        names = {row[0] for row in walk.rows}
        missing = [c["name"] for c in table["commands"] if c["name"] not in names]
        check(not missing, "commands left out: %s" % missing)
        check(not walk.faults, "commands that did not do what they should: %s" % walk.faults)
        app.check_clean(0)
        check(app.close_with_term() == 0, "SIGTERM did not end the program cleanly")
    finally:
        app.kill()
        out["rows"], out["faults"] = walk.rows, walk.faults


def main():
    if len(sys.argv) != 3:
        print("usage: commands_e2e.py TARVICON COMMAND_TABLE", file=sys.stderr)
        return 2
    program, table_program = (os.path.abspath(a) for a in sys.argv[1:])
    check(os.environ.get("DISPLAY"), "no X display: run under xvfb-run")
    table = json.loads(subprocess.run([table_program], check=True, capture_output=True, text=True).stdout)
    workdir = tempfile.mkdtemp(prefix="tarvicon-commands-e2e-")
    study = write_study(os.path.join(workdir, "study"))
    # The export writes into a documents folder of the test; the desktop's open of the export
    # folder reaches a stand-in xdg-open.
    from export_e2e import OPENED_LOG, folder_launcher
    os.environ["XDG_DOCUMENTS_DIR"] = os.path.join(workdir, "documents")
    launcher = folder_launcher(os.path.join(workdir, "launcher"), os.path.join(workdir, OPENED_LOG))
    os.environ["PATH"] = launcher + os.pathsep + os.environ["PATH"]
    started = time.monotonic()
    colour_bar, walk = [], {}
    failures = run_checks((("colour bar", lambda: test_colour_bar(program, workdir, study, colour_bar)),
                           ("command walk", lambda: test_command_walk(program, workdir, study, table, walk))))
    print("\nThe colour bar's drags:")
    for line in colour_bar:
        print("  " + line)
    print("\nThe commands (name | shortcuts | node | reached by | checked by | result):")
    for row in walk.get("rows", []):
        print("  " + " | ".join(row))
    if walk.get("faults"):
        print("\nFaults of the program:")
        for fault in walk["faults"]:
            print("  " + fault)
    print("time: %.0f s" % (time.monotonic() - started))
    return finish(workdir, failures)


if __name__ == "__main__":
    sys.exit(main())
