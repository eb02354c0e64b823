#!/usr/bin/env python3
"""Checks that every program the build, the tests, the sample and the benchmarks start comes from a
package that scripts/setup installs, from a dependency of one (recommends do not count), or from
the base system (essential and required packages, and apt).

The programs are found in the sources: the commands of shell scripts, the argument lists and
which() calls of Python, the argument lists and absolute paths of C++, and COMMAND and
find_program of CMake. Each program's package is found with dpkg -S and looked for in the
closure that apt-cache depends --recurse --no-recommends gives for the packages scripts/setup
names. Exits 1 and names each program, its package and where it is started when one is missing.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SCANNED = ["scripts", "tests", "bench", "fuzz", "src", "plugins", ".ci", "CMakeLists.txt"]
SYSTEM_DIRS = ("/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/", "/usr/local/bin/")

# Shell words that are not programs, and wrappers whose own arguments name the program they start.
SHELL_WORDS = set("""if then else elif fi for while until do done case esac in function select return
local export declare readonly typeset set shift unset trap wait eval source . exit break continue
cd pushd popd read let alias unalias builtin command exec time type hash ulimit umask shopt getopts
jobs fg bg disown { } [[ ]] ! : true false echo printf test [ kill pwd""".split())
PREFIXES = {"!", "time", "exec", "command", "if", "while", "until", "elif", "then", "do", "else"}
WRAPPERS = {"timeout", "nohup", "env", "nice", "setsid", "stdbuf", "xvfb-run", "sudo", "chroot"}
NAME = re.compile(r"^(/[\w.+/-]+|[A-Za-z][\w.+-]*)$")


def strip_comment(line):
    """Drops a comment: a # that starts a word outside quotes."""
    quote = None
    for i, c in enumerate(line):
        if quote:
            if c == quote:
                quote = None
        elif c in "'\"":
            quote = c
        elif c == "#" and (i == 0 or line[i - 1] in " \t;|&("):
            return line[:i]
    return line


def without_heredocs(text):
    """Blanks the bodies of here-documents (other languages' text), keeping the line numbers."""
    lines, out, end = text.splitlines(), [], None
    for line in lines:
        if end is not None:
            out.append("")
            if line.strip() == end:
                end = None
            continue
        out.append(line)
        marker = re.search(r"<<-?\s*['\"]?(\w+)", strip_comment(line))
        if marker:
            end = marker.group(1)
    return "\n".join(out) + "\n"


class ShellParser:
    """Splits shell text into simple commands (lists of words with their line), quote-aware, with
    the commands inside $( ) and backquotes as commands of their own."""

    def __init__(self, text):
        self.s, self.i, self.commands = without_heredocs(text), 0, []

    def line(self):
        return self.s.count("\n", 0, self.i) + 1

    def parse(self, end=None, commands=True):
        s, words, word, started, quote, line = self.s, [], "", False, None, self.line()

        def flush_word():
            nonlocal word, started
            if started:
                words.append(word)
            word, started = "", False

        def flush_command():
            nonlocal words, line
            flush_word()
            if words and commands:
                self.commands.append((line, words))
            words, line = [], self.line()

        while self.i < len(s):
            c, nxt = s[self.i], s[self.i + 1:self.i + 2]
            if quote == "'":
                self.i += 1
                if c == "'":
                    quote = None
                else:
                    word += c
                continue
            if c == "\\":
                if nxt != "\n":
                    word, started = word + nxt, True
                self.i += 2
                continue
            if c == "$" and nxt == "(" and s[self.i + 2:self.i + 3] != "(":
                self.i += 2
                self.parse(")")
                word, started = word + "$_", True
                continue
            if c == "$" and nxt in "{(":
                close, depth, j = "}" if nxt == "{" else ")", 0, self.i + 1
                while j < len(s):
                    depth += s[j] == nxt
                    depth -= s[j] == close
                    j += 1
                    if depth == 0:
                        break
                word, started, self.i = word + s[self.i:j], True, j
                continue
            if c == "`":
                if end == "`":
                    self.i += 1
                    break
                self.i += 1
                self.parse("`")
                word, started = word + "$_", True
                continue
            if quote == '"':
                self.i += 1
                if c == '"':
                    quote = None
                else:
                    word += c
                continue
            if c == "(" and nxt == "(" and not started:
                # An arithmetic command: expressions, not commands.
                close = s.find("))", self.i)
                self.i = len(s) if close < 0 else close + 2
                continue
            if c == "(" and word.endswith("="):
                # An array's elements are words, but the commands they substitute are commands.
                self.i += 1
                self.parse(")", commands=False)
                word, started = word + "()", True
                continue
            self.i += 1
            if c in "'\"":
                quote, started = c, True
            elif c == "#" and not started:
                newline = s.find("\n", self.i)
                self.i = len(s) if newline < 0 else newline
            elif end == ")" and c == ")":
                break
            elif c in " \t":
                flush_word()
            elif c in ";&|\n(){}":
                flush_command()
            else:
                word, started = word + c, True
        flush_command()
        return self.commands


def shell_commands(text):
    """Yields (line number, program) for every simple command of a shell script, with the programs
    that wrappers such as timeout or xvfb-run start. Functions of the script are not programs."""
    functions = set(re.findall(r"^\s*(?:function\s+)?([\w-]+)\s*\(\)", text, re.M))
    for number, words in ShellParser(text).parse():
        for word in simple_command_programs(words):
            if word not in functions:
                yield number, word


def optional_programs(text):
    """Programs a script looks for with command -v before it starts them: used only when present."""
    return set(re.findall(r"command\s+-v\s+([\w.+-]+)", text))


def simple_command_programs(words):
    words = [w for w in words if w]
    while words and (re.match(r"^\w+\+?=", words[0]) or words[0] in PREFIXES):
        words = words[1:]
    if not words or words[0] in SHELL_WORDS:
        return
    yield words[0]
    if words[0] in WRAPPERS:
        rest = words[1:]
        takes_value = {"-s", "--server-args", "-n", "--server-num", "-f", "--auth-file", "-e", "--error-file",
                       "-k", "--kill-after", "-s", "--signal", "-u", "-C"}
        while rest:
            if rest[0] in takes_value:
                rest = rest[2:]
            elif rest[0].startswith("-") or re.match(r"^\w+=", rest[0]) or re.match(r"^[\d.]+[smhd]?$", rest[0]):
                rest = rest[1:]
            else:
                break
        if rest:
            yield from simple_command_programs(rest)


STRING = r'"([^"\\\n]*)"'
# Python: subprocess calls and argument lists; which(); a list or tuple that opens with a string.
PY_SURE = [re.compile(r"subprocess\.\w+\(\s*\[\s*" + STRING), re.compile(r"which\(\s*" + STRING)]
PY_LOOSE = [re.compile(r"(?<![\w\])])[\[(]\s*" + STRING + r"\s*,")]
# C++: a braced argument list that opens with a string, and absolute paths of system programs.
CPP_SURE = [re.compile(r"RunProcess\(\s*\{\s*" + STRING), re.compile(r"execl?p?\(\s*" + STRING)]
CPP_LOOSE = [re.compile(r"\{\s*" + STRING + r"\s*,"), re.compile(r'"((?:/usr)?/s?bin/[\w.+-]+)"')]
CMAKE_COMMAND = re.compile(r"\bCOMMAND\s+(\S+)")
CMAKE_FIND = re.compile(r"find_program\(\s*\w+\s+(?:NAMES\s+)?([^)]*)\)", re.S)


def scanned_files():
    for entry in SCANNED:
        path = ROOT / entry
        files = [path] if path.is_file() else sorted(p for p in path.rglob("*") if p.is_file())
        for f in files:
            if any(part.startswith("build") for part in f.relative_to(ROOT).parts):
                continue
            yield f


def kind_of(path):
    if path.suffix == ".py":
        return "python"
    if path.suffix in (".cpp", ".h", ".cc", ".hpp"):
        return "c++"
    if path.name == "CMakeLists.txt" or path.suffix == ".cmake":
        return "cmake"
    if path.suffix == ".sh":
        return "shell"
    try:
        with open(path, "rb") as f:
            first = f.readline()
    except OSError:
        return None
    if first.startswith(b"#!") and (b"sh" in first.split(b"/")[-1] or b"bash" in first):
        return "shell"
    if first.startswith(b"#!") and b"python" in first:
        return "python"
    return None


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def programs_in(path):
    """Yields (program, line, sure): sure when the word stands where only a program can stand, so
    that one missing from this machine is reported too."""
    kind = kind_of(path)
    if kind is None:
        return
    text = path.read_text(errors="replace")
    if kind == "shell":
        optional = optional_programs(text)
        for number, word in shell_commands(text):
            if word not in optional:
                yield word, number, True
    elif kind == "python":
        for patterns, sure in ((PY_SURE, True), (PY_LOOSE, False)):
            for pattern in patterns:
                for m in pattern.finditer(text):
                    yield m.group(1), line_of(text, m.start()), sure
    elif kind == "c++":
        for patterns, sure in ((CPP_SURE, True), (CPP_LOOSE, False)):
            for pattern in patterns:
                for m in pattern.finditer(text):
                    yield m.group(1), line_of(text, m.start()), sure
    elif kind == "cmake":
        for m in CMAKE_COMMAND.finditer(text):
            yield m.group(1).strip('"'), line_of(text, m.start()), True
        for m in CMAKE_FIND.finditer(text):
            for word in m.group(1).split():
                if word in ("PATHS", "HINTS", "PATH_SUFFIXES", "DOC", "REQUIRED", "NO_DEFAULT_PATH"):
                    break
                yield word, line_of(text, m.start()), True


def resolve(word):
    """The executable a word names on this machine, or None."""
    if "$" in word or "@" in word or not NAME.match(word):
        return None
    if word.startswith("/"):
        if not word.startswith(SYSTEM_DIRS):
            return None
        return word if os.access(word, os.X_OK) and os.path.isfile(word) else None
    if "/" in word:
        return None
    # The system's own folders first: a program of a package, not a local stand-in of the same name.
    return shutil.which(word, path="/usr/sbin:/usr/bin:/sbin:/bin:/usr/local/sbin:/usr/local/bin")


def owner_candidates(executable):
    """The paths under which a package may list an executable: its links (alternatives), their
    targets, and each under the merged /usr's two names."""
    candidates, seen, path = [], set(), executable
    while path and path not in seen:
        seen.add(path)
        candidates.append(path)
        for prefix, other in (("/usr/bin/", "/bin/"), ("/usr/sbin/", "/sbin/"), ("/bin/", "/usr/bin/"),
                              ("/sbin/", "/usr/sbin/")):
            if path.startswith(prefix):
                candidates.append(other + path[len(prefix):])
        path = os.path.join(os.path.dirname(path), os.readlink(path)) if os.path.islink(path) else None
    candidates.append(os.path.realpath(executable))
    return candidates


def owners(executables):
    """Maps each executable to the package that ships it (None when none does); one dpkg -S."""
    candidates = {e: owner_candidates(e) for e in executables}
    paths = sorted({p for c in candidates.values() for p in c})
    r = subprocess.run(["dpkg", "-S", *paths], capture_output=True, text=True) if paths else None
    shipped = {}
    for line in r.stdout.splitlines() if r else []:
        if line.startswith("diversion ") or ": " not in line:
            continue
        packages, path = line.split(": ", 1)
        shipped.setdefault(path.strip(), packages.split(",")[0].strip().split(":")[0])
    return {e: next((shipped[p] for p in c if p in shipped), None) for e, c in candidates.items()}


def setup_packages():
    text = (ROOT / "scripts" / "setup").read_text()
    m = re.search(r"^packages=\((.*?)^\)", text, re.M | re.S)
    if not m:
        sys.exit("check-setup: scripts/setup has no packages=( … ) list")
    return [w for line in m.group(1).splitlines() for w in strip_comment(line).split()]


def closure(packages):
    r = subprocess.run(["apt-cache", "depends", "--recurse", "--no-recommends", "--no-suggests", "--no-conflicts",
                        "--no-breaks", "--no-replaces", "--no-enhances", *packages], capture_output=True, text=True)
    names = {line.strip().split(":")[0] for line in r.stdout.splitlines() if line and not line[0].isspace()}
    unknown = [p for p in packages if p not in names]
    if r.returncode != 0 or unknown:
        sys.exit("check-setup: apt-cache does not know %s: run apt-get update (%s)"
                 % (", ".join(unknown) or "the packages", r.stderr.strip().splitlines()[-1:] or ""))
    return names


def base_system():
    r = subprocess.run(["dpkg-query", "-W", "-f", "${Package}\t${Essential}\t${Priority}\n"],
                       capture_output=True, text=True, check=True)
    base = {"apt"}
    for line in r.stdout.splitlines():
        package, essential, priority = (line.split("\t") + ["", ""])[:3]
        if essential == "yes" or priority == "required":
            base.add(package)
    return base


def main():
    found = {}  # program -> (executable or None, [places])
    for path in scanned_files():
        # The check and its test name programs as data, not to start them.
        if path.resolve() in (Path(__file__).resolve(), ROOT / "tests" / "scripts" / "check_setup_test.py"):
            continue
        for word, number, sure in programs_in(path):
            executable = resolve(word)
            if executable is None and not (sure and NAME.match(word) and "/" not in word):
                continue
            name = os.path.basename(word)
            entry = found.setdefault(name, [executable, []])
            entry[0] = entry[0] or executable
            place = "%s:%d" % (path.relative_to(ROOT), number)
            if place not in entry[1]:
                entry[1].append(place)

    named = setup_packages()
    allowed = closure(named) | base_system()
    problems, checked = [], 0
    packages = owners({e for e, _ in found.values() if e})
    for name in sorted(found):
        executable, places = found[name]
        where = ", ".join(places[:3]) + (" and %d more" % (len(places) - 3) if len(places) > 3 else "")
        if executable is None:
            problems.append("%s is not on this machine; started by %s. Install the package that ships it and "
                            "name it in scripts/setup." % (name, where))
            continue
        package = packages[executable]
        if package is None:
            problems.append("%s (%s) belongs to no package; started by %s." % (name, executable, where))
        elif package not in allowed:
            problems.append("%s comes from the package %s, which scripts/setup does not install (nor does any "
                            "package it names depend on it); started by %s." % (name, package, where))
        else:
            checked += 1
    for problem in problems:
        print("check-setup: " + problem, file=sys.stderr)
    if problems:
        print("check-setup: %d of %d programs missing from scripts/setup" % (len(problems), len(found)),
              file=sys.stderr)
        return 1
    print("check-setup: all %d programs that the build, tests, sample and benchmarks start come from "
          "scripts/setup's packages, their dependencies or the base system" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
