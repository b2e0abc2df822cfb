# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Bills of materials: beside each package, PACKAGE.cdx.json in CycloneDX
1.6 JSON, made from what the package and its binaries say:

  - the package as the main component (its SHA-256), and what it holds as
    its nested components: every regular file it ships, a `file`
    component with its SHA-256;
  - nested in each binary, what the linker put into it from outside our
    sources (its map, link-maps/NAME.map: a binary without one stops the
    package), one library component per project, with the version of the
    Debian package the linked files came from (dpkg), a package URL under
    the system's vendor (dpkg-vendor), and the licence their own sources
    give them; the binary's licence, and the package's, name theirs
    beside ours;
  - in the dependency graph, what each binary loads (DT_NEEDED entries, or
    the DLLs it imports), each a component of its own outside the package:
    on Debian, the package that provides it, the versions of it that the
    binary accepts (dpkg-shlibdeps) and that package's licence.

No time stamp: the same package gives the same document.  The serial
number is derived from the content (all of it but the serial number), so
that a document that differs in anything is another document.

  python3 packaging/sbom.py FACTS OUT-DIR WORK-DIR PACKAGE... [--maps DIR]
"""
import functools
import hashlib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import uuid
import zipfile
from pathlib import Path

# Python 3.12 on checks what a tar file would write outside its folder.
SAFE = {'filter': 'data'} if hasattr(tarfile, 'data_filter') else {}

# The licences that the linked parts' own sources grant, by the file they
# were linked from (an archive's member as ARCHIVE(MEMBER)), first match:
#   GCC's runtime libraries: GPL 3 or later with the GCC Runtime Library
#     Exception 3.1;
#   glibc's start files and libc_nonshared: LGPL 2.1 or later with the
#     permission to link their compiled form into any program;
#   mingw-w64's runtime (mingw-w64-crt): its start-up code (crt/) is in the
#     public domain; the import libraries (made from .def files) and the
#     rest are ZPL 2.1; gdtoa's number conversions are under Lucent's
#     notice (two of them David M. Gay's), and mingw_pformat's printf family
#     under Keith Marshall's;
#   winpthreads: expat (MIT), its pthread.h 3-clause BSD.
GCC = 'GPL-3.0-or-later WITH GCC-exception-3.1'
GDTOA = ('dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|smisc|'
         'strtodg|strtof|strtopx|strtorx|sum|ulp|strtodnrp|qnan')
PARTS = [
    (r'(^|/)lib(std|sup)c\+\+\.a\(', 'libstdc++', GCC),
    (r'(^|/)libgcov\.a\(', 'libgcov', GCC),
    (r'(^|/)(libgcc(_eh|_s)?\.a\(|crt(begin|end)[ST]?\.o$)', 'libgcc', GCC),
    (r'(^|/)([gSr]?crt1|crti|crtn)\.o$|(^|/)libc_nonshared\.a\(', 'glibc',
     'LGPL-2.1-or-later WITH GCC-exception-2.0-note'),
    (r'(^|/)lib(win)?pthread\.a\(', 'winpthreads', 'MIT AND BSD-3-Clause'),
    (r'(^|/)crt2\.o$|(^|/)dllcrt2\.o$|libmingw32\.a\(', 'mingw-w64-crt',
     'LicenseRef-mingw-w64-public-domain'),
    (r'libmingwex\.a\(lib(32|64)_libmingwex_a-(qnan|strtodnrp)\.o\)', 'mingw-w64-crt',
     'LicenseRef-David-Gay'),
    (rf'libmingwex\.a\(lib(32|64)_libmingwex_a-({GDTOA})\.o\)', 'mingw-w64-crt',
     'LicenseRef-Lucent-gdtoa'),
    (r'libmingwex\.a\(lib(32|64)_libmingwex_a-mingw_(pformat|v?s?n?f?printf)\.o\)',
     'mingw-w64-crt', 'LicenseRef-Keith-Marshall'),
    (r'/usr/[a-z0-9_]+-w64-mingw32/lib/lib[a-z0-9_]+\.a\(', 'mingw-w64-crt', 'ZPL-2.1'),
]
# The packages that provide what a binary loads, and their licences.
PROVIDERS = {'libc6': 'LGPL-2.1-or-later', 'libstdc++6': GCC, 'libgcc-s1': GCC}
NAMESPACE = uuid.UUID('6ba7b811-9dad-11d1-80b4-00c04fd430c8')


def run(*argv, check=True):
    done = subprocess.run([str(a) for a in argv], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
    if check and done.returncode != 0:
        sys.exit(f"{' '.join(map(str, argv))} failed:\n{done.stdout}{done.stderr}")
    return done.stdout


def part_of(path):
    for pattern, name, licence in PARTS:
        if re.search(pattern, path):
            return name, licence
    sys.exit(f'{path} is linked in, and packaging/sbom.py knows neither its project nor its '
             'licence')


def link_dirs(facts, program):
    """Where LLD looked for the archives its map names without their folders:
    the compiler driver's search path (for programs, GCC's win32-model
    folder first, as cmake/shipped.cmake links them)."""
    probe = Path(facts['build']) / 'CMakeFiles/sbom-probe.o'
    probe.touch()
    said = subprocess.run([facts['c_compiler'], f"--target={facts['c_target']}",
                           f"--sysroot={facts['sysroot']}", *shlex.split(facts['c_flags']), *shlex.split(facts['link_flags']), '-static',
                           '-###', '-o', 'probe.exe',
                           probe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    dirs = re.findall(r'"-L([^"]+)"', said.stdout)
    if not dirs:
        sys.exit(f"{facts['c_compiler']} does not say where the linker looks for archives:\n"
                 f'{said.stdout}')
    return ([facts['mingw_gcc_win32']] if program else []) + dirs


def linked_files(facts, maps, name):
    """What the linker put into the binary `name` from outside our sources,
    by its map, as ARCHIVE(MEMBER) or OBJECT paths."""
    map_file = Path(maps) / f'{name}.map'
    if not map_file.exists():
        sys.exit(f'{name} has no link map ({map_file}): its bill of materials could not say '
                 'what is linked into it, so the package is not made. Build it again '
                 '(cmake/shipped.cmake asks the linker for the map).')
    text = map_file.read_text(errors='replace')
    if not facts['windows']:
        # GNU ld's: archive members as /PATH/ARCHIVE(MEMBER), objects by their
        # paths; ours are named relative to the build folder.
        found = re.findall(r'[ \t\n](/[^ \t\n()]+\.a\([^)\n]+\)|/[^ \t\n()]+\.o)(?=[ \t\n])', text)
        return sorted({os.path.normpath(f[:f.index('(')]) + f[f.index('('):] if '(' in f
                       else os.path.normpath(f) for f in found})
    # Microsoft's form: "Lib:Object" for an archive's member, the object alone
    # for an object given to the linker; both found where the linker looks.
    dirs = link_dirs(facts, name.endswith('.exe'))
    found = set()
    for archive, member in re.findall(r' (lib[A-Za-z0-9_+-]+):([A-Za-z0-9_.+-]+\.o)', text):
        where = next((d for d in dirs if os.path.exists(f'{d}/{archive}.a')), None)
        if not where:
            sys.exit(f'{name}.map names {archive}.a, found in none of the linker\'s folders: {dirs}')
        found.add(f'{os.path.normpath(where)}/{archive}.a({member})')
    for obj in re.findall(r' ([A-Za-z0-9_+-]+\.o)\n', text):
        where = next((d for d in dirs if os.path.exists(f'{d}/{obj}')), None)
        if where:
            found.add(f'{os.path.normpath(where)}/{obj}')
    return sorted(found)


@functools.lru_cache(maxsize=None)  # an archive's members share it
def debian_package(path):
    """(package, version, architecture) of the Debian package that holds the
    file `path`, or None where dpkg knows none."""
    for candidate in (path, os.path.realpath(path)):
        owners = subprocess.run(['dpkg-query', '-S', candidate], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        found = re.match(r'([a-z0-9][a-z0-9.+-]*(:[a-z0-9]+)?): ', owners.stdout)
        if owners.returncode == 0 and found:
            fields = run('dpkg-query', '-W', '-f=${Package}|${Version}|${Architecture}',
                         found[1]).split('|')
            return fields[0], fields[1], fields[2]
    return None


def purl(vendor, package, version, arch):
    quoted = version.replace('%', '%25').replace('+', '%2B').replace(':', '%3A')
    name = package.replace('+', '%2B')
    return f'pkg:deb/{vendor}/{name}' + (f'@{quoted}' if version else '') + f'?arch={arch}'


def licence_json(expression):
    return ([{'expression': expression}] if ' ' in expression
            else [{'license': {'id': expression}}])


def combined(licences):
    """Ours (MIT) and, after it, each term of `licences` once."""
    terms = ['MIT']
    for licence in licences:
        for term in ([licence] if re.search(r'[()]| OR ', licence) else licence.split(' AND ')):
            if term not in terms:
                terms.append(term)
    return ' AND '.join(f'({t})' if ' ' in t else t for t in terms)


def parts(ref, files, vendor):
    """The components nested in a binary: one per project its linked files
    belong to, and their licences."""
    projects = {}
    for file in files:
        name, licence = part_of(file)
        projects.setdefault(name, []).append((file, licence))
    components, licences = [], []
    for name, entries in sorted(projects.items()):
        terms = list(dict.fromkeys(licence for _, licence in entries))
        licence = ' AND '.join(f'({t})' if ' WITH ' in t and len(terms) > 1 else t for t in terms)
        component = {'type': 'library', 'bom-ref': f'{ref}#{name}', 'name': name,
                     'scope': 'required'}
        debs = set()
        for file, _ in entries:
            path = file.split('(')[0]
            deb = debian_package(path) if shutil.which('dpkg-query') else None
            if not deb:
                print(f'warning: {path}, linked into {ref}, belongs to no Debian package dpkg '
                      f'knows: its component {name} is given no version', file=sys.stderr)
            debs.add(deb)
        if len(debs) > 1:
            sys.exit(f'{ref}: the files of {name} come from more than one package ({debs}): '
                     'its version is not one')
        deb = debs.pop()
        if deb:
            package = deb[0].split(':')[0]
            component.update(version=deb[1], purl=purl(vendor, package, deb[1], deb[2]))
        component['licenses'] = licence_json(licence)
        component['properties'] = [{'name': 'vykostra:linkage', 'value': 'static'}] + [
            {'name': 'vykostra:linked-file', 'value': file} for file, _ in entries]
        components.append(component)
        licences += terms
    return components, licences


def loaded(facts, file):
    """What the binary `file` loads: its DT_NEEDED entries or imported DLLs."""
    if facts['windows']:
        return sorted(set(re.findall(r'DLL Name: ([^\n]+)', run(facts['objdump'], '-p', file))))
    return sorted(set(re.findall(r'\(NEEDED\)[^\n]*\[([^]\n]+)\]', run(facts['readelf'], '-d', file))))


def providers(facts, binaries):
    """For each library the ELF binaries load, on Debian: the package that
    provides it, the versions the binaries accept (as dpkg-shlibdeps words
    their Depends) and its licence."""
    if facts['windows'] or not binaries or not shutil.which('dpkg-shlibdeps'):
        return {}
    work = Path(facts['build']) / 'sbom-shlibdeps'
    (work / 'debian').mkdir(parents=True, exist_ok=True)
    (work / 'debian/control').write_text('')
    found = {}
    for binary in binaries:
        said = subprocess.run(['dpkg-shlibdeps', '-O', '-v', binary], cwd=work, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        depends = re.search(r'shlibs:Depends=([^\n]*)', said.stdout)
        ranges = dict(re.findall(r'([a-z0-9.+-]+) \(([^)]+)\)', depends[1] if depends else ''))
        for name, arch, library in re.findall(
                r'Using (?:symbols|shlibs) file /var/lib/dpkg/info/([^/:\s]+):?([a-z0-9]*)\.'
                r'(?:symbols|shlibs) for (\S+)', said.stdout + said.stderr):
            found.setdefault(library, (name, ranges.get(name, ''), arch or 'all'))
    return found


def make(facts, out, work, package, maps, vendor):
    name = package.name
    root = work / name
    subprocess.run(['rm', '-rf', '--one-file-system', str(root)])
    root.mkdir(parents=True)
    if name.endswith('.deb'):
        run('dpkg-deb', '-x', package, root)
        kind = 'library' if name.startswith('lib') else 'application'
        component_name = name.split('_')[0]
    else:
        if name.endswith('.zip'):
            zipfile.ZipFile(package).extractall(root)
        else:
            with tarfile.open(package) as archive:
                archive.extractall(root, **SAFE)
        kind, component_name = 'application', re.sub(r'\.(tar\.gz|zip)$', '', name)
    files, dependencies, package_licences, loads = [], [], [], set()
    binaries = {}
    for path in sorted(p for p in root.rglob('*') if p.is_file() and not p.is_symlink()):
        relative = str(path.relative_to(root))
        magic = path.read_bytes()[:4]
        if (magic == b'\x7fELF' or magic[:2] == b'MZ') and not re.search(
                r'(^|/)lib/debug/|\.debug$', relative):
            binaries[relative] = path
    shared = providers(facts, list(binaries.values()))
    for path in sorted(p for p in root.rglob('*') if p.is_file() and not p.is_symlink()):
        relative = str(path.relative_to(root))
        ref = f'file:{relative}'
        component = {'type': 'file', 'bom-ref': ref, 'name': relative,
                     'hashes': [{'alg': 'SHA-256',
                                 'content': hashlib.sha256(path.read_bytes()).hexdigest()}]}
        needs = []
        if relative in binaries:
            nested, licences = parts(ref, linked_files(facts, maps, path.name), vendor)
            component['components'] = nested
            expression = combined(list(dict.fromkeys(licences)))
            package_licences += licences
            for library in loaded(facts, path):
                needs.append(f'loads:{library}')
                loads.add(library)
        elif relative.endswith('THIRD-PARTY-NOTICES.txt'):
            # Not ours: mingw-w64's notices, under its licences.
            expression = ('ZPL-2.1 AND LicenseRef-mingw-w64-public-domain AND '
                          'LicenseRef-Lucent-gdtoa AND LicenseRef-David-Gay AND '
                          'LicenseRef-Keith-Marshall')
        else:
            expression = 'MIT'
        component['licenses'] = licence_json(expression)
        files.append(component)
        dependencies.append({'ref': ref, 'dependsOn': needs})
    outside = []
    for library in sorted(loads):
        component = {'type': 'library', 'bom-ref': f'loads:{library}', 'name': library,
                     'scope': 'required',
                     'properties': [{'name': 'vykostra:linkage', 'value': 'dynamic'}]}
        if library in shared:
            # Not in the package: any version of the provider that its
            # Depends allows, as a version range (vers).
            provider, accepted, arch = shared[library]
            component['purl'] = purl(vendor, provider, '', arch)
            component['licenses'] = licence_json(PROVIDERS.get(provider, 'NOASSERTION'))
            component['properties'] += [
                {'name': 'vykostra:provided-by', 'value': provider},
                {'name': 'vykostra:versions', 'value': 'vers:deb/' + (
                    accepted.replace(' ', '') if accepted else '*')}]
        elif facts['windows']:
            component['description'] = ('part of Windows itself, in every version the binary '
                                        'declares it runs on')
        outside.append(component)
    doc = {
        'bomFormat': 'CycloneDX', 'specVersion': '1.6', 'version': 1,
        'metadata': {
            'tools': {'components': [{'type': 'application', 'name': 'python3',
                                      'version': '.'.join(map(str, sys.version_info[:3])),
                                      'description': 'packaging/sbom.py'}]},
            'component': {'type': kind, 'bom-ref': 'package', 'name': component_name,
                          'version': facts['version'],
                          'licenses': licence_json(combined(list(dict.fromkeys(package_licences)))),
                          'hashes': [{'alg': 'SHA-256', 'content': hashlib.sha256(
                              package.read_bytes()).hexdigest()}],
                          'components': files}},
        'components': outside, 'dependencies': dependencies,
    }
    content = hashlib.sha256(json.dumps(doc, sort_keys=True, separators=(',', ':')).encode())
    doc['serialNumber'] = f"urn:uuid:{uuid.uuid5(NAMESPACE, 'vykostra-sbom:' + content.hexdigest())}"
    (Path(out) / f'{name}.cdx.json').write_text(json.dumps(doc, indent=1, sort_keys=True) + '\n')


def main(argv):
    maps = None
    if '--maps' in argv:
        at = argv.index('--maps')
        maps, argv = argv[at + 1], argv[:at] + argv[at + 2:]
    facts = json.loads(Path(argv[0]).read_text())
    maps = maps or Path(facts['build']) / 'link-maps'
    vendor = (run('dpkg-vendor', '--query', 'Vendor', check=False).strip().lower()
              if shutil.which('dpkg-vendor') else '') or 'debian'
    for package in argv[3:]:
        if re.search(r'\.(deb|tar\.gz|zip)$', package):
            make(facts, Path(argv[1]), Path(argv[2]), Path(package), maps, vendor)


if __name__ == '__main__':
    main(sys.argv[1:])
