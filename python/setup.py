"""The C extension, linked to the codepage-guess library's static archive so
that the wheel needs nothing else. The archive is found, in this order:

  - CODEPAGE_GUESS_STATIC_LIBRARY (the libcodepage_guess.a to link) and
    CODEPAGE_GUESS_INCLUDE (the folder of codepage_guess.h);
  - pkg-config codepage-guess (an installed libcodepage-guess-dev, or
    PKG_CONFIG_PATH pointing at an install);
  - the source tree's own build, build/release (cmake --workflow --preset release).
"""
import os
import subprocess

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))


def pkg_config(*arguments):
    try:
        return subprocess.run(["pkg-config", *arguments, "codepage-guess"], check=True,
                              capture_output=True, text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None


def library():
    archive = os.environ.get("CODEPAGE_GUESS_STATIC_LIBRARY")
    include = os.environ.get("CODEPAGE_GUESS_INCLUDE")
    if archive and include:
        return archive, include
    libdir = pkg_config("--variable=libdir")
    if libdir and os.path.exists(os.path.join(libdir, "libcodepage_guess.a")):
        return os.path.join(libdir, "libcodepage_guess.a"), pkg_config("--variable=includedir")
    root = os.path.dirname(HERE)
    archive = os.path.join(root, "build", "release", "api", "libcodepage_guess.a")
    if os.path.exists(archive):
        return archive, os.path.join(root, "include")
    raise SystemExit("codepage_guess: no libcodepage_guess.a; build it (cmake --workflow --preset "
                     "release) or set CODEPAGE_GUESS_STATIC_LIBRARY and CODEPAGE_GUESS_INCLUDE")


archive, include = library()
setup(
    ext_modules=[
        Extension(
            "codepage_guess._native",
            sources=["src/codepage_guess/_native.c"],
            include_dirs=[include],
            # The archive is C++ inside: its runtime comes along.
            extra_objects=[archive],
            libraries=["stdc++", "m"] if os.name != "nt" else [],
            extra_compile_args=["-std=c99", "-Wall", "-Wextra"] if os.name != "nt" else [],
        )
    ]
)
