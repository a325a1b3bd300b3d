#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""doc_check.py on small trees made for each case: what it must find, and what it must let be."""
import os
import subprocess
import sys
import tempfile

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "doc_check.py")
SETUP = "bash scripts/install-deps.sh && cmake -S . -B build"
README = "# Tool\n\n## Set-up on a fresh machine (Debian 12)\n\n```sh\n%s\n```\n\n## Next\n"
GUIDE = (
    "# Guide\n\n## The `Open` call: hooks, (and) order\n\n## Notes\n\n### Notes\n\n"
    "## Wayland sessions: the screen through the ScreenCast portal\n"
)

# name, command, files of the tree, the status expected, a text the fault must name
CASES = [
    ("a file and its headings", "links", {"a.md": "[g](docs/guide.md) [n](docs/guide.md#notes-1) "
     "[o](docs/guide.md#the-open-call-hooks-and-order) [w](#top) [x](docs/guide.md#"
     "wayland-sessions-the-screen-through-the-screencast-portal)\n\n# Top\n"}, 0, ""),
    ("a folder", "links", {"a.md": "[d](docs/)\n"}, 0, ""),
    ("a missing file", "links", {"a.md": "text\n\nsee [it](docs/missing.md)\n"}, 1,
     "a.md:3: docs/missing.md: no such file"),
    ("a missing anchor", "links", {"a.md": "[n](docs/guide.md#notes-2)\n"}, 1,
     "docs/guide.md#notes-2: no heading with that anchor"),
    ("a missing anchor in the same file", "links", {"a.md": "# Top\n\n[t](#bottom)\n"}, 1,
     "#bottom: no heading with that anchor"),
    ("a heading's text in another case", "links", {"a.md": "[n](docs/guide.md#Notes)\n"}, 1,
     "no heading with that anchor"),
    ("a reference link", "links", {"a.md": "[g][1]\n\n[1]: docs/gone.md\n"}, 1, "docs/gone.md"),
    ("links in code are not links", "links",
     {"a.md": "`[x](nothere.md)`\n\n```sh\n[x](nothere.md)\n```\n"}, 0, ""),
    ("web links are not followed", "links", {"a.md": "[w](https://example.org/x.md#y)\n"}, 0, ""),
    ("the set-up commands as expected", "setup", {"README.md": README % SETUP}, 0, ""),
    ("a set-up command changed", "setup", {"README.md": README % (SETUP + " -j8")}, 1,
     "differ from tests/scripts/setup_commands.txt"),
    ("the set-up section gone", "setup", {"README.md": "# Tool\n"}, 1, "no ```sh block"),
]


def run(command, files):
    with tempfile.TemporaryDirectory() as root:
        tree = {"docs/guide.md": GUIDE, "tests/scripts/setup_commands.txt": "# c\n%s\n" % SETUP}
        tree.update(files)
        for name, text in tree.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        done = subprocess.run([sys.executable, CHECKER, command, root], capture_output=True, text=True)
        return done.returncode, done.stderr


def main():
    failures = 0
    for name, command, files, status, fault in CASES:
        got, err = run(command, files)
        if got != status or fault not in err:
            failures += 1
            print("FAIL %s: status %d (expected %d), said: %r" % (name, got, status, err))
        else:
            print("ok   %s" % name)
    print("%d of %d cases passed" % (len(CASES) - failures, len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
