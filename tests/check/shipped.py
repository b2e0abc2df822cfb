# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""What each package holds, written here apart from the install rules
(cmake/install.cmake, packaging/) so that the checks of the installed
trees, the packages and their bills of materials stay independent of what
they check.  Paths relative to the package's top folder; VERSION stands for
the release's version."""

DOCUMENTS = ['README.md', 'LICENSE', 'CHANGELOG.md']

# The Debian packages (packaging/debian): each holds its copyright and
# changelog in /usr/share/doc/PACKAGE; its Depends, as a pattern.
DEBS = {
    'libvykostra1': r'^libc6 \(>= [0-9.]+\)$',
    'libvykostra-dev': r'^libvykostra1 \(= VERSION\)$',
    'pgrmsg-collapse': r'^libc6 .*, libvykostra1 \(>= VERSION\)$',
    'libvykostra1-dbgsym': r'^libvykostra1 \(= VERSION\)$',
    'pgrmsg-collapse-dbgsym': r'^pgrmsg-collapse \(= VERSION\)$',
}
DEB_DOCUMENTS = ['copyright', 'changelog.gz']

# The Linux .tar.gz and the Debian packages' /usr: the manual pages and,
# in the .tar.gz, the documents.
LINUX_FILES = ['share/man/man1/pgrmsg-collapse.1.gz', 'share/man/man3/VYKPgrMsgCollapse.3.gz']
LINUX_DOCUMENTS = 'share/doc/VYKOSTRA'

# The Windows .zip, and its -symbols.zip beside it; the mingw-w64 notices
# that THIRD-PARTY-NOTICES.txt carries (the tool's printf and strtod hold
# gdtoa's and mingw_pformat's code).
WINDOWS_FILES = ['bin/VYKOSTRA.dll', 'bin/pgrmsg-collapse.exe', 'lib/VYKOSTRA.lib',
                 'lib/libVYKOSTRA.dll.a', 'lib/VYKOSTRA.def', 'include/vykostra.h',
                 'THIRD-PARTY-NOTICES.txt', *DOCUMENTS]
WINDOWS_SYMBOLS = ['bin/VYKOSTRA.pdb']
WINDOWS_NOTICES = ['ZPL-2.1', 'Lucent', 'David-Gay', 'Keith-Marshall']

# Every binary a package ships: the package (pattern), the binary
# (pattern), what is linked into it from outside our sources (at least;
# NAME:PATTERN where it must come from a Debian package whose name matches
# PATTERN: the Windows tool's C++ library is GCC's win32 thread model, not
# the POSIX one beside it), and what it loads (at least).
BINARIES = [
    (r'\.zip$', r'/bin/VYKOSTRA\.dll$', ['mingw-w64-crt'], ['msvcrt.dll']),
    (r'\.zip$', r'/bin/pgrmsg-collapse\.exe$',
     ['libgcc:-win32$', 'libstdc++:-win32$', 'mingw-w64-crt'], ['KERNEL32.dll', 'msvcrt.dll']),
    (r'\.(deb|tar\.gz)$', r'/libVYKOSTRA\.so\.[0-9.]+$', ['glibc', 'libgcc'], ['libc.so.6']),
    (r'\.(deb|tar\.gz)$', r'/bin/pgrmsg-collapse$', ['glibc', 'libgcc'],
     ['libc.so.6', 'libstdc++.so.6']),
]

# Where the sources of what the binaries link from outside ours lie, by the
# file the linker took (ARCHIVE(MEMBER) or OBJECT): the second source of
# each part's licence reads them there, in Debian's machine-readable
# copyright file (mingw-w64-crt) or in the source's own header (glibc's,
# from Debian's glibc-source).  {stem} is the pattern's, {dll} the import
# library's DLL, {arch} glibc's name for the architecture.
MINGW = r'lib(32|64)_lib[a-z0-9_]+_a-'
GDTOA = ('dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|qnan|'
         'smisc|strtodg|strtodnrp|strtof|strtopx|strtorx|sum|ulp')
LINKED_SOURCES = [
    (r'/lib(?P<dll>[a-z0-9]+)\.a\(lib(?P=dll)(_defs?[0-9]*|_def[ht]|[hst][0-9]*)\.o\)$',
     'mingw-w64-crt/lib-common/{dll}.def'),
    (rf'\.a\({MINGW}(?P<stem>{GDTOA})\.o\)$', 'mingw-w64-crt/gdtoa/{stem}.c'),
    (rf'libmingw32\.a\({MINGW}(?P<stem>[A-Za-z0-9_-]+)\.o\)$', 'mingw-w64-crt/crt/{stem}.c'),
    (r'/crt2\.o$', 'mingw-w64-crt/crt/crtexe.c'),
    (rf'\.a\({MINGW}(?P<stem>mingw_[a-z]+|acrt_iob_func|[a-z]+64)\.o\)$',
     'mingw-w64-crt/stdio/{stem}.c'),
    (rf'\.a\({MINGW}(?P<stem>[A-Za-z0-9_]+)\.o\)$', 'mingw-w64-crt/misc/{stem}.c'),
    (r'/(?P<stem>crti|crtn)\.o$', 'sysdeps/{arch}/{stem}.S'),
    (r'/[gSr]?crt1\.o$', 'sysdeps/{arch}/start.S'),
    (r'libc_nonshared\.a\((?P<stem>[a-z_]+)\.oS\)$', 'debug/{stem}.c'),
]
