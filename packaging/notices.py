# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""THIRD-PARTY-NOTICES.txt for the Windows packages.  Their binaries hold
parts of mingw-w64's C runtime (start-up code, libmingw32, libmingwex),
whose licences ask a binary's distribution to carry their notices: ZPL 2.1,
and Lucent's, David M. Gay's and Keith Marshall's for gdtoa and
mingw_pformat.  The notices are the runtime's as the copyright file of
Debian's mingw-w64-ARCH-dev gives them: every paragraph about the
runtime's code, and the licence texts they name by name only.  GCC's
runtime libraries, under its Runtime Library Exception, ask for none.

  python3 packaging/notices.py COPYRIGHT ARCH OUTPUT
"""
import re
import sys

REQUIRED = ['ZPL-2.1', 'Lucent', 'David-Gay', 'Keith-Marshall']


def main(copyright_file, arch, output):
    paragraphs = [p.strip() for p in open(copyright_file).read().split('\n\n')]
    notices = f"""The Windows binaries of VYKOSTRA hold parts of mingw-w64's C runtime
(mingw-w64-crt: start-up code, libmingw32, libmingwex).  Below are the
notices of that runtime's code, as Debian's mingw-w64-{arch}-dev gives
them: the binaries hold some of it, not all.  pgrmsg-collapse.exe also
holds GCC's libstdc++ and libgcc, under the GNU GPL version 3 or later
with the GCC Runtime Library Exception 3.1.
"""
    found = []
    for paragraph in paragraphs:
        if paragraph.startswith('Files: *\n') or re.match(r'Files:[^\n]*mingw-w64-crt/', paragraph):
            notices += f'\n{paragraph}\n'
            licence = re.search(r'\nLicense: ([^\n]+)', paragraph)
            found += re.split(r' (?:and|or) ', licence[1]) if licence else []
    # The texts of licences that those paragraphs name without giving them.
    for paragraph in paragraphs:
        named = re.match(r'License: ([^\n]+)\n', paragraph)
        if named and named[1] in found:
            notices += f'\n{paragraph}\n'
    missing = [licence for licence in REQUIRED if licence not in found]
    if missing:
        sys.exit(f'{copyright_file} gives no {", ".join(missing)} paragraph for mingw-w64-crt')
    open(output, 'w').write(notices)


if __name__ == '__main__':
    main(*sys.argv[1:])
