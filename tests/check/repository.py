# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""The repository itself: every file's copyright and licence, the manual
pages, and builds that give the same bytes from any folder."""
import fnmatch
import hashlib
import os
import shutil

from .base import fail, run, which
from .debian import tool


def _gitignored(patterns, path):
    """Whether .gitignore's `patterns` name `path` (or a folder above it):
    a trailing '/' for a folder, a '/' before the end anchors the pattern
    at the top; '!' patterns are not used here."""
    parts = path.split('/')
    for pattern in patterns:
        folder_only = pattern.endswith('/')
        pattern = pattern.rstrip('/')
        anchored = '/' in pattern
        pattern = pattern.lstrip('/')
        for depth in range(len(parts)):
            if folder_only and depth == len(parts) - 1:
                break
            candidates = ['/'.join(parts[:depth + 1])] if anchored else [parts[depth]]
            if any(fnmatch.fnmatchcase(c, pattern) for c in candidates):
                return True
    return False


def _sources(source, use_git):
    """The files of the source tree, and how they were found: those git
    lists (tracked, and new ones it does not ignore) where git answers;
    elsewhere (a source archive, a clone git refuses as owned by another
    user) every file but those of .git, of build folders (any folder with a
    CMakeCache.txt) and what .gitignore names (build/: CI's logs too)."""
    how = 'git is not used' if use_git is False else 'git is not installed'
    if use_git and which('git'):
        done = run(['git', '-C', source, '-c', 'core.quotePath=off', 'ls-files', '--cached',
                    '--others', '--exclude-standard'], check=False)
        files = done.stdout.splitlines()
        if done.returncode != 0:
            how = f'git does not answer for {source} ({done.stderr.splitlines()[0]})'
        elif 'CMakeLists.txt' not in files:
            how = f'git lists none of the sources in {source}'
        else:
            return files, 'the files git lists'
    ignore = source / '.gitignore'
    patterns = [line.strip() for line in (ignore.read_text().splitlines() if ignore.exists() else [])
                if line.strip() and not line.startswith(('#', '!'))]
    files = []
    for folder, subfolders, names in os.walk(source):
        relative = os.path.relpath(folder, source)
        relative = '' if relative == '.' else relative + '/'
        if '.git' in subfolders:
            subfolders.remove('.git')
        if relative and 'CMakeCache.txt' in names:
            subfolders.clear()
            continue
        files += [relative + name for name in names if not _gitignored(patterns, relative + name)
                  and name != '.git']
    return files, f'{how}: every file of the tree but .git, build folders and what .gitignore names'


def reuse_lint(facts, use_git):
    """reuse.lint (and .without-git): `reuse lint` on a copy of the
    sources, as git lists them or as a source archive gives them; `reuse`
    tells sources from build output only through git, so it is never
    pointed at the tree itself."""
    reuse = tool('reuse')
    files, how = _sources(facts.source, use_git)
    print(f'reuse lint on a copy of {facts.source}: {how}')
    work = facts.tests / ('reuse.lint' + ('' if use_git else '.without-git'))
    shutil.rmtree(work, ignore_errors=True)
    for file in files:
        origin = facts.source / file
        if origin.exists() or origin.is_symlink():
            (work / 'sources' / file).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(origin, work / 'sources' / file, follow_symlinks=False)
    # The copy lies in the build folder, which may lie in a git work tree
    # that ignores it: `reuse` must not find that one.
    done = run([reuse, '--root', work / 'sources', 'lint'], check=False,
               env={'GIT_CEILING_DIRECTORIES': str(work)})
    print(done.stdout + done.stderr)
    if done.returncode != 0:
        fail(f'reuse lint failed on the sources ({how})')


def man_lint(facts):
    mandoc = tool('mandoc')
    run([mandoc, '-Tlint', '-W', 'warning', facts.source / 'man/pgrmsg-collapse.1',
         facts.source / 'man/VYKPgrMsgCollapse.3'])


def reproducible(source, work, presets):
    """Two copies of the source tree in different folders, each configured
    with the same preset, built and installed stripped with their debug
    information apart, give byte-identical libraries (.so, .dll, .lib,
    .dll.a) and debug information (.debug, .pdb): no time stamps, no build
    paths.  Run by .ci/run:
      python3 -m check --reproducible WORK PRESET..."""
    marker = work / '.made-by-check-reproducible'
    if work.exists() and any(work.iterdir()) and not marker.exists():
        fail(f'{work} holds what this check did not make: name an empty or new folder')
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    marker.touch()
    trees = [work / 'one/VYKOSTRA', work / 'two/elsewhere/vykostra-src']
    for tree in trees:
        shutil.copytree(source, tree, symlinks=True, ignore=shutil.ignore_patterns('.git', 'build'))
    failures = []
    for preset in presets:
        sums = []
        for tree in trees:
            run(['cmake', '--preset', preset, '-DBUILD_TESTING=OFF'], cwd=tree)
            run(['cmake', '--build', tree / 'build' / preset])
            prefix = tree / f'prefix-{preset}'
            run(['cmake', '--install', tree / 'build' / preset, '--prefix', prefix, '--strip'])
            run(['cmake', '--install', tree / 'build' / preset, '--prefix', prefix,
                 '--component', 'debug'])
            sums.append(''.join(
                f'{p.relative_to(prefix)} {hashlib.sha256(p.read_bytes()).hexdigest()}\n'
                for p in sorted(prefix.rglob('*')) if not p.is_symlink() and p.is_file() and any(
                    fnmatch.fnmatch(p.name, g) for g in
                    ('*.so.*', '*.dll', '*.lib', '*.dll.a', '*.debug', '*.pdb'))))
        if not sums[0]:
            failures.append(f'{preset}: no library installed')
        elif sums[0] != sums[1]:
            failures.append(f'{preset} differs:\n{sums[0]}--- against ---\n{sums[1]}')
        else:
            print(f'{preset}: reproducible\n{sums[0]}')
    if failures:
        fail('\n'.join(failures))
