"""Builds tamlib's extension with the project's CMake build and packages the pure modules.

The version is the one project version of CMakeLists.txt. Use
``python3 -m pip install --no-build-isolation .`` (see the README).
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """Configures the project without tests, benchmarks or tools and builds the extension."""

    def build_extension(self, ext: Extension) -> None:
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
             "-DTAMLIB_BUILD_TESTS=OFF", "-DTAMLIB_BUILD_BENCH=OFF", "-DTAMLIB_BUILD_TOOLS=OFF",
             "-DTAMLIB_PYTHON_SELF_CONTAINED=ON", f"-DPython_EXECUTABLE={sys.executable}"],
            check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", "tamlib_core"],
                       check=True)
        built = next((build / "python" / "tamlib").glob("_core*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)


setup(
    version=project_version(),
    packages=["tamlib"],
    package_dir={"tamlib": "python/tamlib"},
    ext_modules=[Extension("tamlib._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Not ./build, where the project's own CMake build lives.
    options={"build": {"build_base": "build-python-package"}},
    zip_safe=False,
)
