#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test command's check of the 32-bit Wine loader, tried against loaders that cannot run:
#
#   bash tests/scripts/wine32_check.sh CASE
#
# CASE is one of
#   foreign-elf   an ELF program for a machine no kernel here executes ("Exec format error",
#                 as an i386 loader gives on a kernel without 32-bit emulation)
#   failing       a loader that starts but fails (exit 3)
#   missing       no loader at that path
# Each runs the four 32-bit stages of scripts/test.sh with VMC_WINE32 pointing at that loader,
# in a scratch build folder, and passes when the run exits 0 with all four counted as skipped
# ("0 passed, 0 failed, 4 skipped"), each listed under NOT RUN with the reason the case gives,
# and nothing built.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
case_name=${1:?usage: wine32_check.sh foreign-elf|failing|missing}
work=$(mktemp -d "${TMPDIR:-/tmp}/vmc-wine32-check.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
loader=$work/wine

case $case_name in
foreign-elf)
    # A 64-byte ELF header (32-bit, little-endian, ET_EXEC) whose machine field is 0xffff:
    # the kernel refuses it with ENOEXEC, and the shell reports "Exec format error", 126.
    {
        printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
        printf '\002\000\377\377\001\000\000\000'
        head -c 40 /dev/zero
    } >"$loader"
    chmod +x "$loader"
    reason="this kernel cannot execute 32-bit programs"
    ;;
failing)
    printf '#!/bin/sh\necho "cannot start" >&2\nexit 3\n' >"$loader"
    chmod +x "$loader"
    reason="the 32-bit Wine loader does not run here"
    ;;
missing)
    reason="is not installed"
    ;;
*)
    echo "unknown case '$case_name'" >&2
    exit 2
    ;;
esac

stages=(wine-i686 install-wine-i686 capture-wine-i686 soak-wine-i686)
VMC_WINE32=$loader VMC_BUILD_ROOT=$work/build bash "$ROOT/scripts/test.sh" --no-deps "${stages[@]}" \
    >"$work/run.log" 2>&1
rc=$?

problems=()
((rc == 0)) || problems+=("the run exited $rc")
[[ "$(tail -n 1 "$work/run.log")" == "0 passed, 0 failed, 4 skipped" ]] ||
    problems+=("its last line is '$(tail -n 1 "$work/run.log")'")
for stage in "${stages[@]}"; do
    grep -qF "  [$stage] " "$work/run.log" && grep -F "  [$stage] " "$work/run.log" | grep -qF "$reason" ||
        problems+=("no NOT RUN line for $stage naming '$reason'")
done
# The check comes before any build: a skipped stage costs nothing.
[[ -z "$(find "$work/build" -name CMakeCache.txt 2>/dev/null)" ]] || problems+=("a build was configured")

if ((${#problems[@]})); then
    printf 'wine32 check, case %s:\n' "$case_name"
    printf '  %s\n' "${problems[@]}"
    echo "--- the run's output:"
    cat "$work/run.log"
    exit 1
fi
echo "wine32 check, case $case_name: the four 32-bit stages not run ($reason)"
