# SPDX-License-Identifier: MIT
# pip install --no-build-isolation ./python: builds the native module with the project's CMake
# (nothing is downloaded) and puts it, with the project's two shared libraries beside it, into
# the package. Needs cmake, a C++17 compiler, python3-dev, pybind11-dev and libyuv-dev (and the
# platform layer's development packages: scripts/install-deps.sh installs them all).
import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
LIBRARIES = ("libVornMediaCapture.so.0", "libvornplatform.so.0")


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = os.path.abspath(self.get_ext_fullpath(ext.name))
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
            "-DVMC_PYTHON=ON", "-DVMC_BUILD_TESTS=OFF", "-DVMC_BUILD_EXAMPLES=OFF",
            "-DVMC_GSTREAMER=OFF", "-DPython3_EXECUTABLE=" + sys.executable,
            # The libraries travel inside the package: each finds the others beside itself.
            "-DVMC_PYTHON_LIBS_BESIDE=ON", "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
        ])
        jobs = os.environ.get("VMC_JOBS", str(os.cpu_count() or 2))
        subprocess.check_call(["cmake", "--build", build, "--target", "_vorncapture", "-j", jobs])
        os.makedirs(os.path.dirname(target), exist_ok=True)
        built = glob.glob(os.path.join(build, "python", "vorncapture", "_vorncapture*.so"))
        shutil.copy2(built[0], target)
        for library in LIBRARIES:
            shutil.copy2(os.path.join(build, "lib", library), os.path.dirname(target))


setup(
    name="vorncapture",
    version="0.1.0",
    description="Screens, windows, cameras and microphones as NumPy frames and audio blocks",
    license="MIT",
    python_requires=">=3.8",
    install_requires=["numpy"],
    packages=["vorncapture"],
    package_data={"vorncapture": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("vorncapture._vorncapture", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
