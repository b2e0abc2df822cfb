# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""After each CPack generator (packaging/post-build.cmake runs this):
beside each package its bill of materials (sbom.py), then SHA256SUMS over
them all, in the form `sha256sum -c SHA256SUMS` checks in the packages
folder, and, given the releaser's GnuPG key, SHA256SUMS.asc, a detached
armoured signature of it.

CPack runs this before it copies the generator's packages into the folder,
so their sums are taken where they were made, and merged with the sums of
the packages already there (other generators').

  python3 packaging/release.py FACTS PACKAGES-DIR WORK-DIR GPG-KEY PACKAGE...
"""
import hashlib
import re
import subprocess
import sys
from pathlib import Path

import sbom


def main(argv):
    facts, folder, work, key, packages = argv[0], Path(argv[1]), Path(argv[2]), argv[3], argv[4:]
    packages = [Path(p) for p in packages if re.search(r'\.(deb|tar\.gz|zip)$', p)]
    sbom.main([facts, str(folder), str(work / 'sbom'), *map(str, packages)])
    sums_file = folder / 'SHA256SUMS'
    sums = {}
    if sums_file.exists():
        for line in sums_file.read_text().splitlines():
            digest, name = line.split('  ', 1)
            if (folder / name).exists():
                sums[name] = digest
    for package in packages:
        sums[package.name] = hashlib.sha256(package.read_bytes()).hexdigest()
        document = folder / f'{package.name}.cdx.json'
        sums[document.name] = hashlib.sha256(document.read_bytes()).hexdigest()
    sums_file.write_text(''.join(f'{sums[name]}  {name}\n' for name in sorted(sums)))
    if key:
        done = subprocess.run(['gpg', '--batch', '--yes', '--armor', '--detach-sign',
                               '--local-user', key, '--output', f'{sums_file}.asc', sums_file],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            sys.exit(f'gpg could not sign {sums_file} with {key}:\n{done.stdout}')


if __name__ == '__main__':
    main(sys.argv[1:])
