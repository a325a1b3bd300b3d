# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/hosts.sh
source "$ROOT/scripts/stages/lib/hosts.sh"

# The Debian release: the packages of a native build, checked by lintian (errors fail),
# installed with dpkg, used by the host project (CMake package and pkg-config, from the
# system's folders), the installed tool and the installed Python package, and removed again,
# leaving nothing behind.

# What the Python package must do once installed, run by Debian's interpreter from an empty
# folder: import itself from the system's folder, list the virtual world's sources and grab
# the virtual desktop at its size.
PY_INSTALLED='
import vorncapture
print(vorncapture.sources())
assert vorncapture.__file__.startswith("/usr/lib/python3/dist-packages/vorncapture/"), vorncapture.__file__
names = [source.name for source in vorncapture.sources()]
assert names == ["Desktop", "Vorn Virtual Camera", "Vorn Virtual Microphone"], names
with vorncapture.open("desktop") as stream:
    frame = stream.grab()
print(frame.array.shape, frame.array.dtype)
assert frame.array.shape == (1080, 1920, 3), frame.array.shape
'
release_deb() {
    prepare native || return 1
    local work=$BUILD_DIR-release deb names=() dpkg=(dpkg) missing=() path new=() left=()
    command -v lintian >/dev/null || missing+=(lintian)
    command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
    if ((${#missing[@]})); then
        fail "${missing[*]} missing (scripts/install-deps.sh installs it)"
        return 1
    fi
    if ((EUID != 0)); then
        if sudo -n true 2>/dev/null; then
            dpkg=(sudo -n dpkg)
        else
            not_run "installing packages needs root or password-less sudo"
            return 2
        fi
    fi
    make_packages DEB "$work" || return 1
    for deb in "${PACKAGES[@]}"; do
        names+=("$(dpkg-deb -f "$deb" Package)")
        log "$(dpkg-deb -f "$deb" Package Version Depends | tr '\n' ' ')"
        check "lintian-${names[-1]}" lintian --fail-on error "$deb"
    done
    # What the packages bring that the system did not have: removal takes all of it away.
    while read -r path; do
        path=/${path#./} path=${path%/}
        [[ $path == / || -e $path || -L $path ]] || new+=("$path")
    done < <(for deb in "${PACKAGES[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done)
    step "dpkg -i ${names[*]}"
    if ! "${dpkg[@]}" -i "${PACKAGES[@]}"; then
        fail "dpkg -i ${PACKAGES[*]##*/}"
        "${dpkg[@]}" --purge "${names[@]}" >/dev/null 2>&1
        return 1
    fi
    PASSED=$((PASSED + 1))
    local HOST_ARGS=("${RELEASE_HOST_ARGS[@]}")
    hosts_on native "$work" system
    check vmcapture-installed bash -c '[[ "$(command -v vmcapture)" == /usr/bin/vmcapture ]] && vmcapture list'
    if [[ " ${names[*]} " == *" python3-vorncapture "* ]]; then
        mkdir -p "$work/scratch"
        # As a user's shell has it: no search path of ours, and byte-code written where the
        # interpreter may (root may write beside the package's files; removal must take it).
        check python3-vorncapture-installed bash -c 'cd "$1" &&
            python=(env -u PYTHONPATH -u PYTHONHOME -u PYTHONDONTWRITEBYTECODE VORN_WORLD=virtual /usr/bin/python3) &&
            "${python[@]}" -c "import vorncapture; print(vorncapture.sources())" && "${python[@]}" -c "$2"' \
            _ "$work/scratch" "$PY_INSTALLED"
    fi
    step "dpkg --purge ${names[*]}"
    if "${dpkg[@]}" --purge "${names[@]}" && ! dpkg-query -W "${names[@]}" 2>/dev/null | grep -q .; then
        PASSED=$((PASSED + 1))
    else
        fail "removing ${names[*]}"
    fi
    for path in "${new[@]}"; do
        [[ -e $path || -L $path ]] && left+=("$path")
    done
    if ((${#left[@]})); then
        fail "left behind by dpkg --purge: ${left[*]}"
    else
        PASSED=$((PASSED + 1))
    fi
}
release_deb "$@"
