# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""The packages' bills of materials (packaging/sbom.py makes them), read
against the packages themselves and against what the system says:

  - containment: the package (the main component) nests every regular file
    it ships, a `file` component whose SHA-256 is the file's, and nothing
    else; each binary nests what is linked into it, at least the parts its
    row in shipped.BINARIES names, each with the version of the Debian
    package that holds it (as dpkg says now), a package URL of that version
    and the system's vendor, and a licence, which the binary's licence and
    the package's name too;
  - dependencies: each binary's entry names what it loads, at least its
    row's; every file has an entry; every reference is a bom-ref of the
    document, and no bom-ref is given twice;
  - its serial number derived from the rest of the document;
  - with CycloneDX's own validator (tests/sbom, from npm), strict JSON.
"""
import fnmatch
import functools
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import uuid
from pathlib import Path

from . import shipped
from .base import fail, run, unpack, which

# Debian's names for the runtime's licences (its copyright files), as the
# bills of materials word them.
DEBIAN_LICENCES = {'ZPL-2.1': 'ZPL-2.1', 'public-domain': 'LicenseRef-mingw-w64-public-domain',
                   'Lucent': 'LicenseRef-Lucent-gdtoa', 'David-Gay': 'LicenseRef-David-Gay',
                   'Keith-Marshall': 'LicenseRef-Keith-Marshall'}
GCC = 'GPL-3.0-or-later WITH GCC-exception-3.1'
_glibc_sources = {}
GLIBC_SOURCE = Path('/usr/src/glibc')


@functools.lru_cache(maxsize=None)
def _copyright(deb):
    return Path(f'/usr/share/doc/{deb}/copyright').read_text(errors='replace')


@functools.lru_cache(maxsize=None)
def _paragraphs(deb):
    """The Files patterns and the licence of each paragraph of `deb`'s
    machine-readable copyright file."""
    found = []
    for paragraph in _copyright(deb).split('\n\n'):
        files = re.match(r'Files:((?:[^\n]*\n?)(?:[ \t][^\n]*\n?)*)', paragraph)
        licence = re.search(r'^License: ([^\n]+)', paragraph, re.M)
        if files and licence:
            found.append((files[1].split(), licence[1]))
    return found


def _dep5(deb, source):
    """The licence Debian's machine-readable copyright file of `deb` gives
    `source`: the last paragraph whose Files match it (their '*' takes
    folders too, as fnmatch's does)."""
    found = None
    for patterns, licence in _paragraphs(deb):
        if any(fnmatch.fnmatchcase(source, pattern) for pattern in patterns):
            found = licence
    return DEBIAN_LICENCES.get(found, found)


def _glibc_header(source):
    """The licence in the header of glibc's `source`, from Debian's
    glibc-source: LGPL 2.1 or later, and its permission to link the compiled
    file into any program where the header grants it."""
    if not _glibc_sources:
        tarball = sorted(GLIBC_SOURCE.glob('glibc-*.tar.xz'))[-1]
        with tarfile.open(tarball) as archive:
            for member in archive:
                if re.search(r'/(sysdeps/(x86_64|i386)/[a-z]+\.S|debug/[a-z_]+\.c)$', member.name):
                    _glibc_sources[member.name.split('/', 1)[1]] = \
                        archive.extractfile(member).read(3000).decode(errors='replace')
    header = ' '.join(_glibc_sources.get(source, '').split())
    if 'Lesser General Public License as published by the Free Software Foundation; either ' \
            'version 2.1 of the License, or (at your option) any later version' not in header:
        return f'no LGPL 2.1 or later header in {source}'
    if 'unlimited permission to link the compiled version of this file' in header and \
            'Note that people who make modified versions of this file' in header:
        return 'LGPL-2.1-or-later WITH GCC-exception-2.0-note'
    return 'LGPL-2.1-or-later'


def second_source(linked, deb):
    """The licence of the linked file `linked` (ARCHIVE(MEMBER) or OBJECT),
    from the Debian package `deb` that holds it: read apart from the bills
    of materials' own table, where the sources' licences are written down."""
    if 'GCC RUNTIME LIBRARY EXCEPTION' in _copyright(deb) and re.search(r'libgcc|libstdc|crt(begin|end)|libgcov', linked):
        return GCC
    for pattern, template in shipped.LINKED_SOURCES:
        found = re.search(pattern, linked)
        if found:
            arch = 'i386' if re.search(r'/lib32/|/i386-linux-gnu/', linked) else 'x86_64'
            source = template.format(**found.groupdict(), arch=arch)
            return _dep5(deb, source) if source.startswith('mingw-w64') else _glibc_header(source)
    fail(f'{linked}: where its source lies is not known (tests/check/shipped.py LINKED_SOURCES)')


# The serial number's namespace (RFC 4122's for URLs) and its name's
# prefix, as packaging/sbom.py derives it.
NAMESPACE = uuid.UUID('6ba7b811-9dad-11d1-80b4-00c04fd430c8')


def validator_folder(facts):
    return Path(os.environ.get('VYKOSTRA_SBOM_VALIDATOR', facts.source / 'build/sbom-validator'))


def validator_missing(facts):
    """Why the validator cannot run here, or ''."""
    if os.environ.get('VYKOSTRA_SBOM_VALIDATOR_UNAVAILABLE'):
        return os.environ['VYKOSTRA_SBOM_VALIDATOR_UNAVAILABLE']
    if not which('node'):
        return 'node is not installed'
    folder = validator_folder(facts)
    if not (folder / 'node_modules/@cyclonedx/cyclonedx-library').exists():
        return (f'it is not installed in {folder}: run `PYTHONPATH=tests python3 -m check --install-sbom-validator`'
                ' (.ci/run does), then build again')
    return ''


def install_validator(source):
    """Installs tests/sbom's validator from npm into build/sbom-validator of
    the source tree (or VYKOSTRA_SBOM_VALIDATOR), where every build folder's
    checks find it; .ci/run does it once per run."""
    folder = Path(os.environ.get('VYKOSTRA_SBOM_VALIDATOR', source / 'build/sbom-validator'))
    if not which('node') or not which('npm'):
        fail('node and npm are not installed')
    lock = (source / 'tests/sbom/package-lock.json').read_text()
    needed = max((tuple(map(int, v.split('.'))) for v in re.findall(r'"node": ">=([0-9.]+)"', lock)),
                 default=(0,))
    have = tuple(map(int, run(['node', '--version']).stdout.strip().lstrip('v').split('.')))
    if have < needed:
        fail(f"Node.js {'.'.join(map(str, have))} is older than {'.'.join(map(str, needed))}, "
             'which the validator needs')
    folder.mkdir(parents=True, exist_ok=True)
    for name in ('package.json', 'package-lock.json', 'validate.js'):
        shutil.copyfile(source / 'tests/sbom' / name, folder / name)
    run(['npm', 'ci', '--no-audit', '--no-fund'], cwd=folder)
    print(f'The validator is installed in {folder}')


def _sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def _refs(component, refs):
    """Every bom-ref under `component`, into `refs`, each once."""
    if 'bom-ref' in component:
        if component['bom-ref'] in refs:
            fail(f"the bom-ref {component['bom-ref']} is given twice")
        refs.add(component['bom-ref'])
    for nested in component.get('components', []):
        _refs(nested, refs)


def _licence(component):
    entry = component.get('licenses', [{}])[0]
    return entry.get('expression') or entry.get('license', {}).get('id', '')


@functools.lru_cache(maxsize=None)
def _dpkg_version(package):
    if not which('dpkg-query'):
        return None
    return run(['dpkg-query', '-W', '-f=${Version}', package], check=False).stdout


def _in_map(linked, map_text):
    """Whether the linker's map names the file `linked` as it went in."""
    archive = re.match(r'(.*)\(([^)]+)\)$', linked)
    if not archive:
        return f'/{Path(linked).name}' in map_text or f' {Path(linked).name}\n' in map_text
    return (f'{Path(archive[1]).name}({archive[2]})' in map_text
            or f' {Path(archive[1]).stem}:{archive[2]}' in map_text)


@functools.lru_cache(maxsize=None)  # an archive's members share it
def _owns(deb, path):
    owners = run(['dpkg-query', '-S', path], check=False).stdout + \
        run(['dpkg-query', '-S', os.path.realpath(path)], check=False).stdout
    return re.search(rf'(^|, ){re.escape(deb)}(:[a-z0-9]+)?[,:]', owners, re.M)


def _part(file, part, map_text):
    """A linked part: each of its files is in the binary's map, in the
    Debian package its URL names, and its licence is the one its sources
    grant, as a second source reads them."""
    linked = [p['value'] for p in part.get('properties', []) if p['name'] == 'vykostra:linked-file']
    if not linked:
        fail(f"{part['name']} in {file} names no linked file")
    for path in linked:
        if not _in_map(path, map_text):
            fail(f"{file} holds {part['name']} from {path}, which its link map does not show")
    if 'deb' not in part:
        return
    terms, unread = set(), False
    for path in linked:
        if not _owns(part['deb'], path.split('(')[0]):
            fail(f"{part['name']} in {file}: {part['deb']} does not hold {path.split('(')[0]}")
        if re.search(r'/(crt[^/]*|libc_nonshared\.a\(.*)$', path) and not GLIBC_SOURCE.is_dir():
            unread = True  # reported apart: packages.glibc-source
            continue
        terms |= set(second_source(path, part['deb']).split(' AND '))
    named = {term.strip('()') for term in _licence(part).split(' AND ')}
    if terms != named and not (unread and terms <= named):
        fail(f"{part['name']} in {file} is given {_licence(part)}; its sources grant "
             f"{' AND '.join(sorted(terms))}")


def _binary(name, file, component, loads, package_licence, map_text):
    """A binary's parts and what it loads, against its row."""
    rows = [r for r in shipped.BINARIES if re.search(r[0], name) and re.search(r[1], '/' + file)]
    if not rows:
        fail(f'{name} ships the binary {file}, which has no row in tests/check/shipped.py')
    _, _, wanted_parts, wanted_loads = rows[-1]
    for library in wanted_loads:
        if f'loads:{library}' not in loads:
            fail(f'{file} loads {library}, which its dependencies do not name (they name: {loads})')
    binary_licence = _licence(component)
    parts = {}
    for part in component.get('components', []):
        parts[part['name']] = part
        version, purl = part.get('version'), part.get('purl')
        if not version or not purl:
            if which('dpkg-query'):
                fail(f"{part['name']} in {file} has no version or package URL")
            continue
        found = re.match(r'pkg:deb/([a-z0-9]+)/([^@]+)@([^?]+)\?arch=', purl)
        if not found:
            fail(f"{part['name']} in {file}: {purl} is no Debian package URL")
        vendor, deb_name, purl_version = found.groups()
        if which('dpkg-vendor') and vendor != run(['dpkg-vendor', '--query', 'Vendor']).stdout.strip().lower():
            fail(f"{part['name']} in {file}: {purl} is not under this system's vendor")
        deb = deb_name.replace('%2B', '+')
        purl_version = purl_version.replace('%2B', '+').replace('%3A', ':')
        installed = _dpkg_version(deb)
        if purl_version != version or (installed is not None and installed != version):
            fail(f"{part['name']} in {file} has the version {version}, its package URL "
                 f'{purl_version}, dpkg\'s {deb} {installed}')
        part['deb'] = deb
        _part(file, part, map_text)
        licence = _licence(part)
        if not licence:
            fail(f"{part['name']} in {file} has no licence")
        for term in (t.strip('()') for t in licence.split(' AND ')):
            for holder in (binary_licence, package_licence):
                if term not in holder:
                    fail(f"{file} holds {part['name']} ({licence}), which its licence or the "
                         f"package's does not name: {holder}")
    for wanted in wanted_parts:
        part_name, _, pattern = wanted.partition(':')
        if part_name not in parts:
            fail(f'{file} does not say that {part_name} is linked into it (it says: {list(parts)})')
        if pattern and 'deb' in parts[part_name] and not re.search(pattern, parts[part_name]['deb']):
            fail(f"{file} holds {part_name} from the package {parts[part_name]['deb']}, not from "
                 f'one matching {pattern}')


def check_document(package, sums, root, maps):
    """One package's bill of materials against the package, unpacked in
    `root`."""
    name = package.name
    sbom = package.with_name(name + '.cdx.json')
    if not sbom.exists():
        fail(f'{name} has no bill of materials beside it')
    if not re.search(rf'(^|\n)[0-9a-f]+  {re.escape(name)}\.cdx\.json(\n|$)', sums):
        fail(f'SHA256SUMS does not cover {name}.cdx.json')
    shutil.rmtree(root, ignore_errors=True)
    unpack(package, root)
    regular = sorted(str(p.relative_to(root)) for p in root.rglob('*')
                     if p.is_file() and not p.is_symlink())
    text = sbom.read_text()
    doc = json.loads(text)
    # The serial number: from the document without it, as it was derived.
    rest = {k: v for k, v in doc.items() if k != 'serialNumber'}
    content = hashlib.sha256(json.dumps(rest, sort_keys=True, separators=(',', ':'))
                             .encode()).hexdigest()
    expected = f"urn:uuid:{uuid.uuid5(NAMESPACE, 'vykostra-sbom:' + content)}"
    if doc['serialNumber'] != expected:
        fail(f"{name}.cdx.json has the serial number {doc['serialNumber']}, not the one its "
             f'content gives ({expected})')
    main = doc['metadata']['component']
    if main['hashes'][0]['content'] != _sha256(package):
        fail(f"{name}.cdx.json gives the package the SHA-256 {main['hashes'][0]['content']}, "
             f'not {_sha256(package)}')
    refs = set()
    _refs(main, refs)
    for component in doc['components']:
        if component['type'] == 'file':
            fail(f'{name}.cdx.json lists a file outside the package')
        _refs(component, refs)
    loads = {}
    for entry in doc['dependencies']:
        for ref in (entry['ref'], *entry['dependsOn']):
            if ref not in refs:
                fail(f'{name}.cdx.json: its dependencies name {ref}, no component of it')
        loads[entry['ref']] = entry['dependsOn']
    listed = []
    for component in main['components']:
        file = component['name']
        if component['type'] != 'file':
            fail(f'{name}.cdx.json: the package holds {file}, not a file')
        if not (root / file).exists():
            fail(f'{name}.cdx.json lists {file}, which it does not hold')
        if component['hashes'][0]['content'] != _sha256(root / file):
            fail(f"{name}.cdx.json: {file} has the SHA-256 {_sha256(root / file)}, not "
                 f"{component['hashes'][0]['content']}")
        listed.append(file)
        if component['bom-ref'] not in loads:
            fail(f'{name}.cdx.json: {file} has no entry in the dependencies')
        magic = (root / file).read_bytes()[:4]
        if (magic == b'\x7fELF' or magic[:2] == b'MZ') and not re.search(
                r'(^|/)lib/debug/|\.debug$', file):
            try:
                map_file = maps / f'{Path(file).name}.map'
                _binary(name, file, component, loads[component['bom-ref']], _licence(main),
                        map_file.read_text(errors='replace') if map_file.exists() else '')
            except Exception as error:
                fail(f'{name}.cdx.json: {error}')
    if sorted(listed) != regular:
        fail(f'{name}.cdx.json lists the files\n{sorted(listed)}\nwhere the package holds\n{regular}')


def check(facts, packages, work, cpack_config):
    """Every package in `packages` (made by `cpack_config`) and its bill of
    materials; then that a binary without its link map stops the bill of
    materials; then CycloneDX's validator, where installed."""
    sums = (packages / 'SHA256SUMS').read_text()
    made = sorted(p for p in packages.iterdir()
                  if re.search(r'\.(deb|tar\.gz|zip)$', p.name))
    if not made:
        fail(f'no packages in {packages}')
    for package in made:
        check_document(package, sums, work / 'sbom' / package.name,
                       cpack_config.parent / 'link-maps')
    # A binary whose link map is gone: no bill of materials, and so no package.
    archive = [p for p in made if re.search(r'(\.zip|\.tar\.gz)$', p.name)
               and not p.name.endswith('-symbols.zip')][-1]
    probe = work / 'sbom-without-map'
    shutil.rmtree(probe, ignore_errors=True)
    (probe / 'maps').mkdir(parents=True)
    done = subprocess.run([sys.executable, '-B', facts.source / 'packaging/sbom.py', cpack_config.parent / 'facts.json', probe / 'out',
                           probe / 'work', archive, '--maps', probe / 'maps'],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode == 0 or 'has no link map' not in done.stdout:
        fail(f'with no link maps, the bill of materials of {archive} is still made:\n{done.stdout}')
    if validator_missing(facts):
        return
    folder = validator_folder(facts)
    if _sha256(facts.source / 'tests/sbom/package-lock.json') != _sha256(folder / 'package-lock.json'):
        fail(f"the validator in {folder} is not tests/sbom/package-lock.json's: run "
             '`PYTHONPATH=tests python3 -m check --install-sbom-validator` again')
    run(['node', facts.source / 'tests/sbom/validate.js',
         *(str(p) + '.cdx.json' for p in made)], env={'NODE_PATH': str(folder / 'node_modules')})
