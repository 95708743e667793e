"""The C extension, with the codepage-guess library compiled into it from its
own sources, so that the wheel needs nothing else and `pip install` of the
source tree or of the sdist needs nothing built first: a C and a C++17
compiler only.

The library's sources are taken from the source tree this folder sits in
(../api, ../encoding, ../include) or, in an sdist, from vendor/, where the
sdist command copies them. One abi3 wheel serves CPython 3.11 and later.
"""
import glob
import os
import platform
import shutil
from concurrent.futures import ThreadPoolExecutor

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist

HERE = os.path.dirname(os.path.abspath(__file__))
# The limited API of 3.11: the first with the buffer protocol in it.
LIMITED_API = 0x030B0000


def library_root():
    """The folder holding api/, encoding/, include/ and LICENSE."""
    vendored = os.path.join(HERE, "vendor")
    if os.path.isdir(os.path.join(vendored, "encoding")):
        return vendored
    tree = os.path.dirname(HERE)
    if os.path.isdir(os.path.join(tree, "encoding")):
        return tree
    raise SystemExit("codepage_guess: the library's sources are neither in vendor/ nor in ..")


def library_sources(root):
    """The library's sources relative to root, as (path, extra flags) pairs."""
    sources = sorted(glob.glob(os.path.join(root, "api", "*.cpp")))
    sources += sorted(glob.glob(os.path.join(root, "encoding", "*.cpp")))
    x86 = platform.machine().lower() in ("x86_64", "amd64")
    kernels = sorted(glob.glob(os.path.join(root, "encoding", "x86", "*.cpp"))) if x86 else []
    return sources, kernels, x86


class BuildExtWithLibrary(build_ext):
    """Compiles the library's C++ sources, in parallel, and links their objects
    into the extension, each instruction set's kernels with its own flags."""

    def build_extension(self, ext):
        root = library_root()
        sources, kernels, x86 = library_sources(root)
        msvc = self.compiler.compiler_type == "msvc"
        if msvc:
            common = ["/std:c++17", "/O2", "/utf-8", "/EHsc"]
            avx2 = ["/arch:AVX2"]
        else:
            # The scores must not depend on whether the target has fused
            # multiply-add; only the C interface is visible.
            common = ["-std=c++17", "-O3", "-ffp-contract=off", "-fvisibility=hidden",
                      "-fvisibility-inlines-hidden"]
            avx2 = ["-mavx2", "-mbmi", "-mbmi2", "-mpopcnt"]
        macros = [("CODEPAGE_GUESS_X86_KERNELS", None)] if x86 else []
        include = [root, os.path.join(root, "include")]
        build_temp = os.path.join(self.build_temp, "library")

        def compile_one(source_and_flags):
            source, flags = source_and_flags
            return self.compiler.compile([source], output_dir=build_temp, macros=macros,
                                         include_dirs=include, extra_postargs=common + flags)

        work = [(s, []) for s in sources]
        work += [(k, avx2 if k.endswith("kernels_avx2.cpp") else []) for k in kernels]
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
            objects = [o for compiled in pool.map(compile_one, work) for o in compiled]
        ext.include_dirs.append(os.path.join(root, "include"))
        ext.extra_objects = objects + list(ext.extra_objects or [])
        super().build_extension(ext)


class SdistWithLibrary(sdist):
    """An sdist that builds alone: the library's sources go in vendor/."""

    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        root = library_root()
        vendor = os.path.join(base_dir, "vendor")
        for part in ("api", "encoding", "include"):
            shutil.copytree(os.path.join(root, part), os.path.join(vendor, part),
                            ignore=shutil.ignore_patterns("CMakeLists.txt", "windows", "wasm",
                                                          "*.map"))
        shutil.copy(os.path.join(root, "LICENSE"), os.path.join(vendor, "LICENSE"))


def license_file():
    """LICENSE beside setup.py (pyproject.toml names it for the wheel and the
    sdist), copied from the library's when missing."""
    here = os.path.join(HERE, "LICENSE")
    if not os.path.exists(here):
        shutil.copy(os.path.join(library_root(), "LICENSE"), here)


license_file()
posix = os.name != "nt"
setup(
    cmdclass={"build_ext": BuildExtWithLibrary, "sdist": SdistWithLibrary},
    ext_modules=[
        Extension(
            "codepage_guess._native",
            sources=["native/module.c"],
            define_macros=[("Py_LIMITED_API", hex(LIMITED_API))],
            py_limited_api=True,
            # The library is C++ inside: its runtime comes along.
            libraries=["stdc++", "m"] if posix else [],
            extra_compile_args=["-std=c99", "-Wall", "-Wextra"] if posix else [],
        )
    ],
    options={"bdist_wheel": {"py_limited_api": "cp311"}},
)
