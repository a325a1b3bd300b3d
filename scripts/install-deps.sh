#!/usr/bin/env bash
# Installs the Debian packages that building and testing VornMediaCapture needs, skipping
# those already present. Extra package names may be given as arguments.
#
#   bash scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
    cmake ninja-build g++ clang pkg-config   # native toolchain
    libclang-rt-14-dev                       # clang's sanitizer and libFuzzer runtimes (a mere
                                             # recommendation of clang; the fuzz stage needs it)
    googletest libbenchmark-dev libyuv-dev   # test, benchmark and reference libraries
    g++-mingw-w64-i686 g++-mingw-w64-x86-64  # Windows cross compilers (we use the -posix ones)
    wine64 xvfb xauth                        # running the Windows tests on a headless X server
    libx11-dev libxext-dev libxfixes-dev     # the host world's X display (Xlib, MIT-SHM, XFixes)
    "$@"
)

installed() {
    [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == installed ]]
}

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi
echo "install-deps: installing ${missing[*]}"

sudo=()
if ((EUID != 0)); then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        sudo=(sudo -n)
    else
        echo "install-deps: not root and no password-less sudo; run as root:" >&2
        echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
fi

export DEBIAN_FRONTEND=noninteractive
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)

# One unreachable or broken index must not stop the install: the packages may still be found.
"${apt[@]}" update || echo "install-deps: apt-get update reported errors; trying the install anyway" >&2

# Without recommends first (wine64 recommends the 32-bit Wine, which cannot be installed
# beside it); with them if apt cannot resolve the set that way.
"${apt[@]}" install -y --no-install-recommends "${missing[@]}" ||
    "${apt[@]}" install -y "${missing[@]}"

still=()
for p in "${missing[@]}"; do
    installed "$p" || still+=("$p")
done
if ((${#still[@]})); then
    echo "install-deps: could not install: ${still[*]}" >&2
    exit 1
fi
echo "install-deps: done"
