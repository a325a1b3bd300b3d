# SPDX-License-Identifier: MIT
# shellcheck source=scripts/stages/lib/hosts.sh
source "$ROOT/scripts/stages/lib/hosts.sh"

# The Debian release: the packages of a native build, checked by lintian (errors fail),
# installed with dpkg, used by the host project (CMake package and pkg-config, from the
# system's folders) and the installed tool, and removed again.
release_deb() {
    prepare native || return 1
    local work=$BUILD_DIR-release deb names=() dpkg=(dpkg) missing=()
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
    step "dpkg --purge ${names[*]}"
    if "${dpkg[@]}" --purge "${names[@]}" && ! dpkg-query -W "${names[@]}" 2>/dev/null | grep -q .; then
        PASSED=$((PASSED + 1))
    else
        fail "removing ${names[*]}"
    fi
}
release_deb "$@"
