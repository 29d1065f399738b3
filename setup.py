"""Builds the extension of the Python package through the project's CMake
build (target _mirvante), with the interpreter that runs this script, in
build/python-package; pyproject.toml holds the package's description.

MIRVANTE_BUILD_DIR names a build directory already configured with the
Python module instead (CI installs the module its test suite built); its
interpreter must be of the same Python version as the one installing."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        given = os.environ.get("MIRVANTE_BUILD_DIR")
        build = Path(given).resolve() if given else ROOT / "build" / "python-package"
        if not given:
            subprocess.run(
                [
                    "cmake", "-S", str(ROOT), "-B", str(build),
                    "-DCMAKE_BUILD_TYPE=Release",
                    "-DMIRVANTE_PYTHON=ON",
                    "-DMIRVANTE_TESTS=OFF",
                    f"-DPython_EXECUTABLE={sys.executable}",
                ],
                check=True,
            )
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "_mirvante", "-j", jobs],
            check=True,
        )
        built = next((build / "python" / "mirvante").glob("_mirvante*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    ext_modules=[Extension("mirvante._mirvante", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build/python-setuptools"}},
)
