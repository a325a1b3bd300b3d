# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/hosts.sh
source "$ROOT/scripts/stages/lib/hosts.sh"

# The Windows release: the build's ZIP unpacked into an empty folder must hold what a Windows
# developer needs; the host project is built against it (CMake package and pkg-config), the
# archive's virtual devices are registered, and the host and `vmcapture.exe list` run from it.
ZIP_CONTENTS=(README.md LICENSE docs/windows.md docs/building.md VornVirtualDevices.txt
    bin/VornMediaCapture.dll bin/vmcapture.exe bin/VornVirtualDevices.dll lib/VornMediaCapture.dll.a
    include/VornMediaCapture/tqzlocker.h include/VornMediaCapture/vornplatform.h
    lib/cmake/VornMediaCapture/VornMediaCaptureConfig.cmake lib/pkgconfig/vornmediacapture.pc)
release_zip() {
    local runner=$1
    shift
    prepare "$runner" || return 1
    local work=$BUILD_DIR-release file
    make_packages ZIP "$work" || return 1
    local zip=${PACKAGES[0]}
    mkdir -p "$work/unpacked"
    unzip -q "$zip" -d "$work/unpacked" || { fail "unzip $zip"; return 1; }
    local top=$work/unpacked/${zip##*/} missing=()
    top=${top%.zip}
    for file in "${ZIP_CONTENTS[@]}"; do
        [[ -f $top/$file ]] || missing+=("$file")
    done
    if ((${#missing[@]})); then
        fail "${zip##*/} lacks ${missing[*]}"
    else
        PASSED=$((PASSED + 1))
    fi
    local HOST_ARGS=("${RELEASE_HOST_ARGS[@]}")
    hosts_on "$runner" "$work" "$top"

    # The archive's own devices, registered where it was unpacked; the build's registration is
    # put back afterwards for the stages that follow.
    register_devices "$runner" "$top/bin" || return 1
    run_program "$runner" vmcapture-list "$top/bin/vmcapture.exe" list
    if ((RUN_RC == 0)) && grep -q 'Vorn Virtual Camera' "$BUILD_ROOT/results/$CURRENT_STAGE/vmcapture-list.log" &&
        grep -q 'Vorn Virtual Microphone' "$BUILD_ROOT/results/$CURRENT_STAGE/vmcapture-list.log"; then
        PASSED=$((PASSED + 1))
    else
        fail "vmcapture.exe list from the ZIP (exit $RUN_RC${RUN_NOTE:+, $RUN_NOTE}) does not show the archive's camera and microphone"
    fi
    unregister_devices_of "$top/bin"
    unregister_devices_of "$BUILD_DIR/bin"
    register_devices "$runner" "$BUILD_DIR/bin"
}
release_zip "$@"
