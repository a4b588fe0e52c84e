"""Builds korvanex._native (and the component module the wheel carries) with CMake.

The CMake build folder is $KX_CMAKE_BUILD_DIR when it names a configured build (used as it is,
only the two targets are built), else build/wheel, configured with just what the package needs.
The package folder CMake lays out (the Python files, _version.py, the extension and its copy of
libkx_platform.so.1) goes into the wheel as it is, with KorvaneX.so beside it for
"python3 -m korvanex register".
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
TARGETS = ["kx_python", "KorvaneX"]


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(KorvaneX VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        chosen = os.environ.get("KX_CMAKE_BUILD_DIR")
        if chosen:
            build_dir = pathlib.Path(chosen).resolve()
            if not (build_dir / "CMakeCache.txt").exists():
                raise RuntimeError(f"KX_CMAKE_BUILD_DIR={chosen} is not a configured build")
        else:
            build_dir = ROOT / "build" / "wheel"
            subprocess.run(
                ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}",
                 "-DKX_BUILD_TESTS=OFF", "-DKX_BUILD_BENCH=OFF", "-DKX_BUILD_CALCULATOR=OFF",
                 "-DKX_BUILD_SPREADSHEET=OFF", "-DKX_PACKAGING=OFF", "-DKX_BUILD_PYTHON=ON"],
                check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "-j", jobs, "--target", *TARGETS],
                       check=True)
        package = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        package.mkdir(parents=True, exist_ok=True)
        for item in (build_dir / "python" / "korvanex").iterdir():
            if item.is_file():
                shutil.copyfile(item, package / item.name)
        shutil.copyfile(build_dir / "lib" / "KorvaneX.so", package / "KorvaneX.so")


setup(
    version=project_version(),
    ext_modules=[Extension("korvanex._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build/setuptools"},
             "egg_info": {"egg_base": "build/setuptools"}},
)
