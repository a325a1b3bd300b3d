#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Compares the first frames of two Y4M files of 4:2:0 pictures of the same size: fails unless
# every plane's mean difference is at most MEAN and no sample differs by more than LARGEST.
#
#   y4m_compare.py CAPTURED REFERENCE MEAN LARGEST
import sys


def first_frame(path):
    """(width, height, [Y, U, V]) of the file's first frame."""
    with open(path, "rb") as f:
        header = f.readline().split()
        if not header or header[0] != b"YUV4MPEG2":
            sys.exit(f"{path}: not a Y4M file")
        fields = {word[:1]: word[1:] for word in header[1:]}
        width, height = int(fields[b"W"]), int(fields[b"H"])
        colour = fields.get(b"C", b"420").decode()
        if not colour.startswith("420"):
            sys.exit(f"{path}: 4:2:0 frames only, not C{colour}")
        if not f.readline().startswith(b"FRAME"):
            sys.exit(f"{path}: no frame")
        cw, ch = (width + 1) // 2, (height + 1) // 2
        sizes = [width * height, cw * ch, cw * ch]
        planes = [f.read(size) for size in sizes]
        if any(len(p) != size for p, size in zip(planes, sizes)):
            sys.exit(f"{path}: the first frame is short")
        return width, height, planes


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__ or "y4m_compare.py CAPTURED REFERENCE MEAN LARGEST")
    captured, reference = first_frame(sys.argv[1]), first_frame(sys.argv[2])
    mean_limit, largest_limit = float(sys.argv[3]), int(sys.argv[4])
    if captured[:2] != reference[:2]:
        sys.exit(f"sizes differ: {captured[:2]} and {reference[:2]}")
    failed = False
    for name, a, b in zip("YUV", captured[2], reference[2]):
        diffs = [abs(x - y) for x, y in zip(a, b)]
        mean, largest = sum(diffs) / len(diffs), max(diffs)
        ok = mean <= mean_limit and largest <= largest_limit
        failed |= not ok
        print(f"{name}: mean difference {mean:.3f} (at most {mean_limit}), largest {largest} "
              f"(at most {largest_limit}){'' if ok else ' TOO FAR'}")
    sys.exit(1 if failed else 0)


main()
