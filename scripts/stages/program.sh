# SPDX-License-Identifier: MIT
# program RUNNER PROGRAM ARGS..: one program of the build (PROGRAM relative to the build folder),
# natively or under Wine; exit status 0 is one passed check.
program "$@"
