# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Debian packages by Debian policy, made by CPack's External generator
(packaging/debian/make-debs.cmake runs this once it has installed each
component into its own staging folder):
  libvykostra1      the shared library (component runtime)
  libvykostra-dev   header, link, CMake and pkg-config files, manual (3)
  pgrmsg-collapse   the tool and its manual (1) (component tool)
  libvykostra1-dbgsym, pgrmsg-collapse-dbgsym
                    the debug information of the library and the tool, by
                    build ID (component debug)
Each is built from its components' files under /usr, with a copyright in
Debian's machine-readable form made from LICENSE and a changelog made from
CHANGELOG.md's section of this version in /usr/share/doc/PACKAGE, and a
control file from PACKAGE.control.in with what only the build knows:
version, architecture, maintainer, installed size and the shared libraries
it needs (dpkg-shlibdeps).  The library's package tells packages built
against it what to depend on (shlibs, and symbols with the release that
brought each), and has no maintainer scripts: it asks for ldconfig by a
trigger.

  python3 packaging/debs.py SOURCE STAGING WORK VERSION ARCH MAINTAINER READELF
prints the packages' paths, one a line.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
from datetime import datetime, timezone
from email.utils import format_datetime
from pathlib import Path

# PACKAGE: its component, and whether it has a -dbgsym package.
PACKAGES = {'libvykostra1': ('runtime', True), 'libvykostra-dev': ('development', False),
            'pgrmsg-collapse': ('tool', True)}


def run(*argv, cwd=None, env=None):
    done = subprocess.run([str(a) for a in argv], cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, argv))} failed:\n{done.stdout}")
    return done.stdout


def copyright_file(source, maintainer):
    """DEP-5: the licence text indented by one blank, '.' for an empty line."""
    lines = (source / 'LICENSE').read_text().splitlines()[1:]  # past its title
    text = ('Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'
            f'Upstream-Name: VYKOSTRA\nUpstream-Contact: {maintainer}\n\n'
            'Files: *\nCopyright: 2026 The VYKOSTRA developers\nLicense: Expat\n')
    started = False
    for line in lines:
        if line.startswith('Copyright') or (not line and not started):
            continue
        started = True
        text += f' {line}\n' if line else ' .\n'
    return text


def changelog(source, version, maintainer):
    """This version's section of CHANGELOG.md, each item one entry; and the
    section's date, as seconds since the epoch."""
    date, items, inside = None, [], False
    for line in (source / 'CHANGELOG.md').read_text().splitlines():
        if line.startswith('## '):
            found = re.match(rf'## \[{re.escape(version)}\] - ([0-9-]+)$', line)
            inside, date = bool(found), found[1] if found else date
        elif inside and line.startswith('- '):
            items.append(line[2:])
        elif inside and items and re.match(r'  +', line):
            items[-1] += ' ' + line.strip()
    if not date or not items:
        sys.exit(f"CHANGELOG.md has no section '## [{version}] - DATE' with items: the Debian "
                 "packages' changelog is made from it")
    when = datetime.strptime(date, '%Y-%m-%d').replace(tzinfo=timezone.utc)
    entry = f'vykostra ({version}) unstable; urgency=medium\n\n'
    for item in items:
        line = '  *'
        for word in item.replace('`', '').split():
            if len(f'{line} {word}') > 78:
                entry += line + '\n'
                line = '   '
            line += ' ' + word
        entry += line + '\n'
    entry += f'\n -- {maintainer}  {format_datetime(when).replace("-0000", "+0000")}\n'
    return entry, int(when.timestamp())


def build_deb(work, package, template, root, fields, epoch):
    """Builds PACKAGE from the tree `root`: modes as Debian wants them (0755
    for folders and programs, 0644 for everything else, shared libraries
    included), md5sums, installed size, and Depends from what the ELF
    binaries need.  Returns the package's path and its ELF binaries."""
    elf, size, md5sums = [], 0, ''
    for path in sorted(root.joinpath('usr').rglob('*'), key=lambda p: str(p.relative_to(root))):
        relative = str(path.relative_to(root))
        if path.is_symlink():
            continue
        if path.is_dir():
            path.chmod(0o755)
            continue
        if relative.startswith('usr/bin/'):
            path.chmod(0o755)
            elf.append(path)
        else:
            path.chmod(0o644)
            if re.search(r'/lib[^/]*\.so\.[0-9.]+$', relative):
                elf.append(path)
        size += (path.stat().st_size + 1023) // 1024
        md5sums += f'{hashlib.md5(path.read_bytes()).hexdigest()}  {relative}\n'
    (root / 'DEBIAN').mkdir(exist_ok=True)
    (root / 'DEBIAN/md5sums').write_text(md5sums)
    depends = ''
    if elf:
        # dpkg-shlibdeps wants a debian/control where it runs, and reads none of it.
        (work / 'debian').mkdir(parents=True, exist_ok=True)
        (work / 'debian/control').write_text('')
        depends = re.search(r'shlibs:Depends=([^\n]*)',
                            run('dpkg-shlibdeps', '-O', *elf, cwd=work))[1]
    values = dict(fields, PACKAGE=package, INSTALLED_SIZE=str(size), SHLIBS_DEPENDS=depends)
    text = Path(template).read_text()
    (root / 'DEBIAN/control').write_text(re.sub(r'@([A-Z_]+)@', lambda m: values[m[1]], text))
    for control in (root / 'DEBIAN').iterdir():
        control.chmod(0o644)
    deb = work / f"{package}_{fields['VERSION']}_{fields['ARCHITECTURE']}.deb"
    run('dpkg-deb', '--root-owner-group', '-Zxz', '--build', root, deb,
        env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)))
    return deb, elf


def main(argv):
    source, staging, work = Path(argv[0]), Path(argv[1]), Path(argv[2])
    version, architecture, maintainer, readelf = argv[3:7]
    templates = source / 'packaging/debian'
    shutil.rmtree(work, ignore_errors=True)
    docs = work / 'docs'
    docs.mkdir(parents=True)
    (docs / 'copyright').write_text(copyright_file(source, maintainer))
    entry, epoch = changelog(source, version, maintainer)
    (docs / 'changelog').write_text(entry)
    (docs / 'changelog.gz').write_bytes(run_bytes('gzip', '-9n', '-c', docs / 'changelog'))
    fields = {'VERSION': version, 'ARCHITECTURE': architecture, 'MAINTAINER': maintainer}
    built = []
    for package, (component, dbgsym) in PACKAGES.items():
        root = work / package
        shutil.copytree(staging / component, root / 'usr', symlinks=True)
        shutil.copytree(docs, root / 'usr/share/doc' / package, ignore=shutil.ignore_patterns(
            'changelog'))
        if package == 'libvykostra1':
            (root / 'DEBIAN').mkdir()
            (root / 'DEBIAN/shlibs').write_text(
                (templates / 'shlibs.in').read_text().replace('@VERSION@', version))
            shutil.copyfile(templates / 'symbols.in', root / 'DEBIAN/symbols')
            shutil.copyfile(templates / 'triggers', root / 'DEBIAN/triggers')
        deb, binaries = build_deb(work, package, templates / f'{package}.control.in', root,
                                  fields, epoch)
        built.append(deb)
        if not dbgsym:
            continue
        # The binaries' debug information, by build ID; its documents are the
        # package's own, as a link.
        root = work / f'{package}-dbgsym'
        ids = []
        for binary in binaries:
            found = re.search(r'Build ID: (([0-9a-f]{2})([0-9a-f]+))', run(readelf, '-n', binary))
            if not found:
                sys.exit(f'{binary} has no build ID')
            ids.append(found[1])
            debug = f'lib/debug/.build-id/{found[2]}/{found[3]}.debug'
            if not (staging / 'debug' / debug).exists():
                sys.exit(f'no debug information for {binary} (component debug: {debug})')
            (root / 'usr' / debug).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(staging / 'debug' / debug, root / 'usr' / debug)
        (root / 'usr/share/doc').mkdir(parents=True)
        os.symlink(package, root / f'usr/share/doc/{package}-dbgsym')
        built.append(build_deb(work, f'{package}-dbgsym', templates / 'dbgsym.control.in', root,
                               dict(fields, PARENT=package, BUILD_IDS=' '.join(ids)), epoch)[0])
    print('\n'.join(map(str, built)))


def run_bytes(*argv):
    return subprocess.run([str(a) for a in argv], check=True, stdout=subprocess.PIPE).stdout


if __name__ == '__main__':
    main(sys.argv[1:])
