#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building and testing VornMediaCapture needs, skipping
# those already present. Extra package names may be given as arguments; --bench adds the
# packages only the benchmarks use (the peers they measure against).
#
#   bash scripts/install-deps.sh [--bench] [PACKAGE...]
set -euo pipefail

# The benchmarks' peers, never needed to build or test: Pillow's ImageGrab and PyAV's x11grab
# (bench/python_grab.py), OpenCV's VideoCapture through GStreamer (bench/python_camera.py).
bench_packages=(python3-pil python3-av python3-opencv)
extra=()
for arg in "$@"; do
    if [[ $arg == --bench ]]; then extra+=("${bench_packages[@]}"); else extra+=("$arg"); fi
done

packages=(
    cmake ninja-build g++ clang pkg-config   # native toolchain
    libclang-rt-14-dev                       # clang's sanitizer and libFuzzer runtimes (a mere
                                             # recommendation of clang; the fuzz stage needs it)
    googletest libbenchmark-dev libyuv-dev   # test, benchmark and reference libraries
    g++-mingw-w64-i686 g++-mingw-w64-x86-64  # Windows cross compilers (we use the -posix ones)
    wine64 xvfb xauth                        # running the Windows tests on a headless X server
    libpulse-dev pulseaudio sox              # the host world's sound server: client library,
                                             # a server for the tests, a reader of their WAV files
    ffmpeg                                   # ffprobe: an independent reader of the files written
    libx11-dev libxext-dev libxfixes-dev     # the host world's X display (Xlib, MIT-SHM, XFixes,
    libxdamage-dev                           # DAMAGE: only what changed on the screen is read)
    libxres-dev libxrender-dev               # host-world soak and tests: X resources, ARGB cursors
    libturbojpeg0-dev                        # the host world's cameras: Motion-JPEG frames decoded
    dpkg-dev file lintian unzip              # release packages: dpkg-shlibdeps (and file) for CPack's
                                             # Debian packages, lintian to check them, unzip for the ZIPs
    libpipewire-0.3-dev libglib2.0-dev       # the host world's Wayland screens: PipeWire, GDBus
    pipewire pipewire-bin wireplumber        # the portal tests' session: PipeWire daemon, pw-dump,
    xdg-desktop-portal dbus dbus-bin         # the real portal frontend on a private session bus,
    python3-gi                               # and our test backend in Python
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev  # the GStreamer elements (gst/) and
    gstreamer1.0-tools gstreamer1.0-plugins-base-apps     # their tests; gst-inspect-1.0 and
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good   # gst-device-monitor-1.0; encoders,
    gstreamer1.0-plugins-ugly gstreamer1.0-x              # muxers, RTP, ximagesrc
    gstreamer1.0-pipewire                    # the PipeWire camera tests' YUY2 and RGB sources
    gdb                                      # backtraces of a test program that hangs
    python3-dev pybind11-dev python3-numpy   # the Python package (python/): headers, bindings,
    python3-pytest python3-setuptools        # its arrays, its tests, pip install ./python
    "${extra[@]}"
)

installed() {
    [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == installed ]]
}

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
# The 32-bit Wine, for running the library's own target (i686): installed apart, after the
# rest, because it needs the i386 architecture and its package index, which cannot always be
# fetched. Without it the 32-bit test stages say so and count as skipped.
want_wine32=0
installed wine32:i386 || want_wine32=1
if ((${#missing[@]} == 0 && want_wine32 == 0)); then
    echo "install-deps: all ${#packages[@]} packages and the 32-bit Wine present"
    exit 0
fi
((${#missing[@]})) && echo "install-deps: installing ${missing[*]}"

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

if ((want_wine32)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386 || echo "install-deps: could not add the i386 architecture" >&2
fi

# One unreachable or broken index must not stop the install: the packages may still be found.
"${apt[@]}" update || echo "install-deps: apt-get update reported errors; trying the install anyway" >&2

# Without recommends first (wine64 recommends the 32-bit Wine, which cannot be installed
# beside it); with them if apt cannot resolve the set that way.
if ((${#missing[@]})); then
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}" ||
        "${apt[@]}" install -y "${missing[@]}"
fi

if ((want_wine32)); then
    "${apt[@]}" install -y --no-install-recommends wine32:i386 ||
        echo "install-deps: WARNING: the 32-bit Wine (wine32:i386) could not be installed; the 32-bit test stages will not run" >&2
fi

still=()
for p in "${missing[@]}"; do
    installed "$p" || still+=("$p")
done
if ((${#still[@]})); then
    echo "install-deps: could not install: ${still[*]}" >&2
    exit 1
fi
echo "install-deps: done"
