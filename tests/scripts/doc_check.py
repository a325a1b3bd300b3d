#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the repository's Markdown files.

  doc_check.py links ROOT     every relative link of every .md file under ROOT leads to a file
                              or folder that exists, and every #anchor to a heading of its file
                              (GitHub's slugs: lower case, punctuation dropped, spaces to '-',
                              '-1', '-2' ... on repeats)
  doc_check.py setup ROOT     the command blocks of the README's set-up section are byte for
                              byte those of tests/scripts/setup_commands.txt, the file the
                              test command's setup stage runs
  doc_check.py setup-command ROOT
                              prints the set-up section's first command (what the stage runs)

Exit status 0 when all is well, 1 with one line per fault on standard error, 2 on bad usage.
"""
import os
import re
import sys

SKIPPED_DIRS = {".git", "node_modules"}
SETUP_HEADING = "## Set-up on a fresh machine (Debian 12)"
EXPECTED_SETUP = os.path.join("tests", "scripts", "setup_commands.txt")

FENCE = re.compile(r"^\s{0,3}(```|~~~)")
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
INLINE_CODE = re.compile(r"(`+)(.+?)\1")
LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s.*)?$")


def markdown_files(root):
    for folder, dirs, files in os.walk(root):
        # Build folders (build/, build-ci/, build-*) hold copies and generated files.
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("build"))
        for name in sorted(files):
            if name.endswith(".md"):
                yield os.path.join(folder, name)


def prose_lines(text):
    """The lines outside fenced code blocks, with their numbers."""
    fence = None
    for number, line in enumerate(text.split("\n"), 1):
        match = FENCE.match(line)
        if match:
            if fence is None:
                fence = match.group(1)
            elif match.group(1) == fence:
                fence = None
            continue
        if fence is None:
            yield number, line


def slug(heading):
    """The anchor GitHub gives a heading's text."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link reads as its text
    text = re.sub(r"<[^>]+>", "", text)  # HTML tags
    text = text.lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(text):
    seen = {}
    result = set()
    for _, line in prose_lines(text):
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        result.add(base if count == 0 else "%s-%d" % (base, count))
    return result


def links(text):
    for number, line in prose_lines(text):
        line = INLINE_CODE.sub("", line)
        for match in LINK.finditer(line):
            yield number, match.group(1)
        match = REFERENCE.match(line)
        if match:
            yield number, match.group(1)


def check_links(root):
    faults = []
    cache = {}

    def anchors_of(path):
        if path not in cache:
            with open(path, encoding="utf-8") as f:
                cache[path] = anchors(f.read())
        return cache[path]

    for path in markdown_files(root):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        where = os.path.relpath(path, root)
        for number, target in links(text):
            if not target or re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                continue  # web links and mail addresses are not checked
            file_part, _, anchor = target.partition("#")
            dest = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
            if not os.path.exists(dest):
                faults.append("%s:%d: %s: no such file" % (where, number, target))
                continue
            if anchor and dest.endswith(".md") and anchor not in anchors_of(dest):
                faults.append("%s:%d: %s: no heading with that anchor" % (where, number, target))
    return faults


def setup_blocks(text):
    """The contents of the ```sh blocks of the README's set-up section."""
    blocks, block, inside = [], None, False
    for line in text.split("\n"):
        if line == SETUP_HEADING:
            inside = True
            continue
        if inside and line.startswith("## "):
            break
        if not inside:
            continue
        if block is None and line == "```sh":
            block = []
        elif block is not None and line.startswith("```"):
            blocks.append("\n".join(block))
            block = None
        elif block is not None:
            block.append(line)
    return blocks


def expected_blocks(root):
    with open(os.path.join(root, EXPECTED_SETUP), encoding="utf-8") as f:
        lines = [l for l in f.read().split("\n") if l and not l.startswith("#")]
    return lines


def check_setup(root):
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        found = setup_blocks(f.read())
    expected = expected_blocks(root)
    if not found:
        return ["README.md: no ```sh block under '%s'" % SETUP_HEADING]
    if found != expected:
        return [
            "README.md: the set-up section's commands differ from %s, which the setup stage "
            "runs:\n  README:   %r\n  expected: %r" % (EXPECTED_SETUP, found, expected)
        ]
    return []


def main(argv):
    if len(argv) != 3 or argv[1] not in ("links", "setup", "setup-command"):
        sys.stderr.write(__doc__)
        return 2
    root = argv[2]
    if argv[1] == "setup-command":
        print(expected_blocks(root)[0])
        return 0
    faults = check_links(root) if argv[1] == "links" else check_setup(root)
    for fault in faults:
        sys.stderr.write(fault + "\n")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
