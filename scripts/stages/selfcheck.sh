# SPDX-License-Identifier: MIT

# The test command's own checks (tests/scripts/): each case of the 32-bit loader check, run as
# a nested test command on a loader that cannot run; one passed test per case.
script_checks() {
    local c
    for c in foreign-elf failing missing; do
        check "wine32-$c" bash "$ROOT/tests/scripts/wine32_check.sh" "$c"
    done
    # The Markdown files: the checker's own cases, then every link and anchor of the repository,
    # and the README's set-up commands held to the ones the setup stage runs.
    check doc-check-cases python3 "$ROOT/tests/scripts/test_doc_check.py"
    check doc-links python3 "$ROOT/tests/scripts/doc_check.py" links "$ROOT"
    check readme-setup-commands python3 "$ROOT/tests/scripts/doc_check.py" setup "$ROOT"
    # Every source file opens with the project's licence line (scripts/spdx.sh --fix adds it).
    check spdx-lines bash "$ROOT/scripts/spdx.sh"
}
script_checks "$@"
