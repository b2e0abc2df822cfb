# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""What every check shares: the build's facts, failing, skipping, running
a command of the host's and reading what it said."""
import json
import os
import shutil
import subprocess
import tarfile
import zipfile
from pathlib import Path

# CTest's SKIP_RETURN_CODE for every check: a check that cannot run here
# is reported skipped, never passed.
SKIPPED = 77


class Failure(Exception):
    """The check found a fault: its message says which."""


class Skip(Exception):
    """The check cannot run on this machine: its message says why."""


def fail(message):
    raise Failure(message)


class Facts:
    """facts.json of a build folder (cmake/facts.cmake), as attributes."""

    def __init__(self, path):
        self.path = Path(path).resolve()
        self.__dict__.update(json.loads(self.path.read_text()))
        self.source = Path(self.source)
        self.build = Path(self.build)
        self.tests = self.build / 'tests'

    def target(self, name):
        """A built target's file; Failure if this build has none."""
        path = self.targets.get(name)
        if not path:
            fail(f'this build has no {name}')
        return Path(path)

    @property
    def linux(self):
        return self.system == 'Linux'

    @property
    def x86(self):
        return self.processor in ('x86_64', 'AMD64', 'i386', 'i486', 'i586', 'i686')

    @property
    def instrumented(self):
        return bool(self.sanitize) or self.coverage

    @property
    def release(self):
        """Optimised and not instrumented, as packages are made."""
        return not self.instrumented and self.build_type != 'Debug'


def run(argv, *, cwd=None, env=None, check=True, input=None, timeout=None):
    """Runs a command of the host's; with `check`, fails the check with
    everything it printed unless it exits 0.  Returns the completed
    process, its output as text."""
    argv = [str(a) for a in argv]
    merged = dict(os.environ, **env) if env else None
    done = subprocess.run(argv, cwd=cwd, env=merged, input=input, timeout=timeout,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, errors='replace')
    if check and done.returncode != 0:
        said = (done.stdout + done.stderr).strip().replace('\n', '\n  ')
        fail(f"{' '.join(argv)} exited {done.returncode}:\n  {said}")
    return done


def unpack(package, into):
    """Unpacks a .deb, .zip or .tar.gz into `into` (over what it holds)."""
    into.mkdir(parents=True, exist_ok=True)
    if str(package).endswith('.deb'):
        run(['dpkg-deb', '-x', package, into])
    elif str(package).endswith('.zip'):
        zipfile.ZipFile(package).extractall(into)
    else:  # (Python 3.12 on checks what a tar file would write outside its folder)
        with tarfile.open(package) as archive:
            archive.extractall(into, **({'filter': 'data'} if hasattr(tarfile, 'data_filter')
                                        else {}))
    return into


def which(program, *names):
    """The path of `program` (or the first of `names` found), or None."""
    for name in (program, *names):
        found = shutil.which(name)
        if found:
            return found
    return None
