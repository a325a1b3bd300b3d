#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one stage of the test command for one build folder, as CTest does (cmake/Stages.cmake):
#
#   bash scripts/stages/run.sh STAGE BUILD_DIR
#
# The stage is a line of scripts/stages/stages.list naming the script that does it. Its
# programs' output and reports go to results/STAGE/ beside the build folder, its counts to
# results/STAGE/summary. Exit status: 0 passed, 1 failed, 77 could not run on this machine.
set -uo pipefail
# shellcheck source=scripts/stages/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
(($# == 2)) || { echo "usage: bash scripts/stages/run.sh STAGE BUILD_DIR" >&2; exit 2; }
stage_main "$1" "$2"
