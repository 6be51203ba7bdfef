"""Builds the daz package: a C extension with libdaz linked in.

build_ext first builds the library's static archive (the daz_static target,
libdaz.a) from the repository this folder sits in, with CMake, in a build
folder of its own, then links it into the extension. The wheel so needs no
libdaz installed, and the Python code and the library are one version.
DAZ_SOURCE_DIR names another source tree; DAZ_BUILD_DIR another build folder.
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
SOURCE = Path(os.environ.get("DAZ_SOURCE_DIR", HERE.parent)).resolve()
HEADER = SOURCE / "include" / "daz" / "daz.h"
if not HEADER.is_file():
    raise SystemExit(f"daz: no {HEADER}; set DAZ_SOURCE_DIR to the orvx source tree")


def header_version() -> str:
    """The version daz.h declares, from its DAZ_VERSION_* macros."""
    text = HEADER.read_text(encoding="ascii")
    parts = [re.search(rf"^#define DAZ_VERSION_{name} (\d+)$", text, re.M) for name in
             ("MAJOR", "MINOR", "PATCH")]
    if not all(parts):
        raise SystemExit("daz: no DAZ_VERSION_* macros in daz.h")
    return ".".join(part.group(1) for part in parts)


class BuildWithLibrary(build_ext):
    """Builds libdaz.a with CMake before the extension that links it."""

    def run(self) -> None:
        build = Path(os.environ.get("DAZ_BUILD_DIR", SOURCE / "build" / "python-libdaz"))
        configure = ["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DORVX_TESTS=OFF"]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        links = build / "daz_static_link.txt"
        if not (build / "CMakeCache.txt").is_file() or not links.is_file():
            subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "daz_static"], check=True)
        objects, libraries = link_items(links.read_text(encoding="utf-8").split("\n"))
        for extension in self.extensions:
            extension.extra_objects = [str(build / "libdaz.a")] + objects
            # A library built anew relinks the extension of an earlier build.
            extension.depends = extension.depends + [str(build / "libdaz.a")]
            extension.libraries = libraries + extension.libraries
        super().run()


def link_items(lines: list) -> tuple:
    """What the library's build says libdaz.a links besides (libpng, zlib,
    every format's library of this build): files, and names for -l."""
    objects, libraries = [], []
    for item in (line.strip() for line in lines):
        if item.startswith("-l"):
            libraries.append(item[2:])
        elif os.path.isabs(item):
            objects.append(item)
        elif item and not item.startswith("-"):
            libraries.append(item)
    return objects, libraries


setup(
    name="daz",
    version=header_version(),
    description="Read and write daz images; a Pillow plugin; batch conversion of images",
    license="MIT",
    license_files=["LICENSE"],  # a link to the repository's LICENSE
    classifiers=["License :: OSI Approved :: MIT License"],
    package_dir={"": "src"},
    packages=["daz"],
    python_requires=">=3.9",
    ext_modules=[
        Extension(
            "daz._daz",
            sources=["src/daz/_daz.c"],
            include_dirs=[str(SOURCE / "include")],
            define_macros=[("DAZ_STATIC", None)],
            libraries=["stdc++", "m"],  # and what daz_static_link.txt names
            extra_compile_args=["-std=gnu11", "-Wall", "-Wextra"],
        )
    ],
    cmdclass={"build_ext": BuildWithLibrary},
    extras_require={"numpy": ["numpy"], "pillow": ["Pillow>=9.4"], "tqdm": ["tqdm"],
                    "dask": ["distributed"]},
)
