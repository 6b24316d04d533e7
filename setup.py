"""The build backend's one custom step: the extension module comes from the
project's CMake build (target vexmira_python), so its sources, flags and
warnings are listed once, in CMake.

VEXMIRA_CMAKE_BUILD_DIR names a configured tree to build in (the `native`
preset's, say); without it, build/python-cmake is configured on first use and
reused after, so a second `pip install` or `python -m build` builds nothing
again."""
import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
# setup.cfg puts setuptools' scratch files below build/, which an unpacked
# sdist or a fresh clone does not have yet.
os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", cmake.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("VEXMIRA_CMAKE_BUILD_DIR") or os.path.join(ROOT, "build", "python-cmake")
        if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                            "-DVEXMIRA_PYTHON=ON", "-DVEXMIRA_TESTS=OFF", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
                            f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build_dir, "--target", "vexmira_python", "-j",
                        os.environ.get("JOBS", "2")], check=True)
        built = os.path.join(build_dir, "python", "vexmira", "_core" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(version=project_version(), ext_modules=[Extension("vexmira._core", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
