# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Which Debian package brings each tool the builds and checks use: read
by the skip messages (`tool()`) and by .ci/run's installs
(`python3 -m check --debian-packages GROUP`)."""
from .base import Skip, which

# Package: the programs it brings (or, for a library, what it is for).
# `main` is what the 64-bit builds and the checks need; `i386` the part
# that a mirror's i386 index can hold back, without which CI goes on.
PACKAGES = {
    'main': {
        'cmake': ['cmake', 'ctest', 'cpack'],
        'git': ['git'],
        'ninja-build': ['ninja'],
        'g++': ['g++', 'gcc'],
        'python3': ['python3'],
        'pkg-config': ['pkg-config'],
        'dpkg-dev': ['dpkg-shlibdeps', 'dpkg-vendor'],
        'libgtest-dev': ['GoogleTest'],
        'googletest': ['GoogleTest sources, for 32-bit and instrumented builds'],
        'clang': ['clang', 'clang-14'],
        'lld': ['lld-link', 'lld-link-14'],
        'llvm': ['llvm-dlltool', 'llvm-symbolizer', 'llvm-pdbutil'],
        'libclang-rt-14-dev': ['sanitizer runtimes'],
        'gcovr': ['gcovr'],
        'libbenchmark-dev': ['Google Benchmark'],
        'valgrind': ['valgrind'],
        'g++-multilib': ['g++ -m32'],
        'qemu-user': ['qemu-i386', 'qemu-x86_64'],
        'lintian': ['lintian'],
        'devscripts': ['hardening-check'],
        'mandoc': ['mandoc'],
        'abigail-tools': ['abidiff', 'abidw'],
        'gdb': ['gdb'],
        'g++-mingw-w64-i686': ['i686-w64-mingw32-g++'],
        'binutils-mingw-w64-i686': ['i686-w64-mingw32-objdump'],
        'wine': ['wine', 'wineserver'],
        'g++-mingw-w64-x86-64': ['x86_64-w64-mingw32-g++'],
        'binutils-mingw-w64-x86-64': ['x86_64-w64-mingw32-objdump'],
        'wine64': ['wine64'],
        'clang-19': ['clang-19'],
        'lld-19': ['ld.lld-19'],
        'reuse': ['reuse'],
        'osslsigncode': ['osslsigncode'],
        'gnupg': ['gpg'],
        'gpgconf': ['gpgconf'],
        'openssl': ['openssl'],
        'glibc-source': ["glibc's sources, whose headers give its start files' licence"],
        'mmdebstrap': ['mmdebstrap'],
        'qemu-system-x86': ['qemu-system-x86_64', 'qemu-system-i386'],
        'kmod': ['depmod'],
        'cpio': ['cpio'],
        'xz-utils': ['xz'],
        'arch-test': ['arch-test'],
    },
    'i386': {
        'libstdc++6:i386': ['the i386 packages\' Depends'],
        'wine32:i386': ['32-bit Windows programs under the machine\'s Wine'],
    },
}


def package_of(program):
    for group in PACKAGES.values():
        for package, programs in group.items():
            if program in programs:
                return package
    raise KeyError(f'{program} has no row in tests/check/debian.py')


def tool(program, *alternatives, why=''):
    """The path of `program` (or of an alternative name), or Skip naming
    the Debian package that brings it."""
    found = which(program, *alternatives)
    if not found:
        raise Skip(f'{program} is not installed (Debian: {package_of(program)})'
                   + (f': {why}' if why else ''))
    return found


def main(group):
    print(' '.join(PACKAGES[group]))
    return 0
