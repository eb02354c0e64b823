#!/usr/bin/env python3
"""The setup check's finder: which words of a script it takes for programs started."""
import os
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import check_setup  # noqa: E402


def shell_programs(text):
    return [word for _, word in check_setup.shell_commands(text)]


class ShellCommands(unittest.TestCase):
    def test_programs_in_command_position(self):
        cases = [
            ("plain and pipes", "xprop -id 1 | grep TYPE && sort -g; wc -l\n", ["xprop", "grep", "sort", "wc"]),
            ("assignments and prefixes", "LC_ALL=C exec ffmpeg -i x\nif ! identify f; then convert a b; fi\n",
             ["ffmpeg", "identify", "convert"]),
            ("wrappers start programs", 'timeout 900 xdotool key a\nxvfb-run -a -s "-screen 0 8x8x24" import x\n',
             ["timeout", "xdotool", "xvfb-run", "import"]),
            ("substitutions, also inside quotes", 'a="$(realpath "$1")/x"\nb=`md5sum f`\n', ["realpath", "md5sum"]),
            ("quoted text is no command", 'echo "the build | failed; see (log)" # cat x\n', []),
            ("arrays and arithmetic", 'pkgs=(cmake ninja-build)\nt+=("$(awk 1 f)")\nfor ((i = 0; i < 3; ++i)); do :; done\n',
             ["awk"]),
            ("here-documents are another language", "python3 - <<PY\nimport sys\nprint(1)\nPY\nbc -l\n",
             ["python3", "bc"]),
            ("functions are not programs", "run_suite() { cmake -S .; }\nrun_suite main\n", ["cmake"]),
            ("continued lines", "perf record \\\n  -g true\n", ["perf"]),
        ]
        for name, text, expected in cases:
            with self.subTest(name):
                self.assertEqual(shell_programs(text), expected)

    def test_optional_programs_are_looked_for_first(self):
        text = "if command -v farm-bench >/dev/null; then farm-bench x; else hyperfine x; fi\n"
        self.assertEqual(check_setup.optional_programs(text), {"farm-bench"})


class SourceFiles(unittest.TestCase):
    def programs(self, name, text):
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / name
            path.write_text(text)
            found = {}
            for word, _, sure in check_setup.programs_in(path):
                found[word] = found.get(word, False) or sure
            return sorted(found.items())

    def test_python_cpp_and_cmake(self):
        cases = [
            ("probe.py", 'subprocess.run(["xprop", "-id", w])\nshutil.which("xdotool")\nx = d["name"]\n',
             [("xdotool", True), ("xprop", True)]),
            ("Probe.cpp", 'RunProcess({"ffprobe", "-v"});\nconst char* k = "/usr/sbin/Orthanc";\n',
             [("/usr/sbin/Orthanc", False), ("ffprobe", True)]),
            ("CMakeLists.txt", 'find_program(PY NAMES python3 PATHS /usr/bin)\nadd_test(NAME e COMMAND xvfb-run -a)\n',
             [("python3", True), ("xvfb-run", True)]),
        ]
        for name, text, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.programs(name, text), expected)


class Owners(unittest.TestCase):
    def test_links_are_followed_to_their_package(self):
        # awk is an alternative: /usr/bin/awk -> /etc/alternatives/awk -> a package's own awk.
        awk = check_setup.resolve("awk")
        self.assertIsNotNone(awk)
        self.assertIn(check_setup.owners([awk])[awk], {"mawk", "gawk", "original-awk"})
        self.assertIsNone(check_setup.resolve("no-such-program-here"))


if __name__ == "__main__":
    os.environ.setdefault("LC_ALL", "C")
    unittest.main()
