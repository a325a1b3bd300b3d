#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Says which of the repository's source files lack the licence line, or adds it.
#
#   bash scripts/spdx.sh [--fix]
#
# Source files are C and C++ (.c .cpp .h), shell and Python scripts, and CMake files
# (CMakeLists.txt, .cmake). The line is the file's first, or its second after a #! line.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
fix=0
[[ ${1:-} == --fix ]] && fix=1
TAG="SPDX-License-Identifier: MIT"
missing=0
while IFS= read -r f; do
    [[ -f $f ]] || continue
    case $f in
    *.c | *.cpp | *.h) line="// $TAG" ;;
    *.sh | *.py | *CMakeLists.txt | *.cmake) line="# $TAG" ;;
    *) continue ;;
    esac
    first=$(head -n 1 "$f")
    if [[ $first == "#!"* ]]; then
        have=$(sed -n 2p "$f")
    else
        have=$first
    fi
    [[ $have == "$line" ]] && continue
    if ((fix)); then
        if [[ $first == "#!"* ]]; then
            sed -i "1a $line" "$f"
        else
            sed -i "1i $line" "$f"
        fi
    else
        echo "no licence line: $f"
        missing=$((missing + 1))
    fi
done < <(git ls-files --cached --others --exclude-standard)
((fix || missing == 0))
