# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""python3 -m check (with tests/ on PYTHONPATH, as CTest runs it):
  NAME FACTS [ARG...]          runs one check of the build whose facts.json
                               is FACTS; exit 0 passed, 1 failed, 77 skipped
  --register FACTS OUT         writes the build's list of checks for CTest
  run FACTS -- PROGRAM ARG...  runs a program of the build as this machine
                               runs it (the build's emulator for CMake)
  --bench FACTS -- PROGRAM ARG...
                               the same for a benchmark, where the program
                               runs on the CPU itself (natively or under
                               Wine: timings under an emulator mean nothing);
                               else says why, and ends
  --debian-packages GROUP      the Debian packages of GROUP (main, i386)
  --install-sbom-validator     installs the bills of materials' validator
  --reproducible WORK PRESET... two copies of the tree build the same bytes
  --help                       this text
A command line it cannot read: one line on standard error, exit 2.
"""
import inspect
import sys
import traceback
from pathlib import Path

from . import debian, registry, repository, runner, sbom
from .base import SKIPPED, Facts, Failure, Skip

SOURCE = Path(__file__).resolve().parent.parent.parent


def main(argv):
    if len(argv) == 2 and argv[0] == '--debian-packages':
        if argv[1] not in debian.PACKAGES:
            _usage(f"no group {argv[1]} (groups: {', '.join(debian.PACKAGES)})")
        return debian.main(argv[1])
    if argv[:1] == ['--install-sbom-validator']:
        return _guarded(lambda: sbom.install_validator(SOURCE))
    if len(argv) >= 3 and argv[0] == '--reproducible':
        return _guarded(lambda: repository.reproducible(SOURCE, Path(argv[1]).resolve(), argv[2:]))
    if len(argv) == 3 and argv[0] == '--register':
        registry.register(_facts(argv[1]), Path(argv[2]))
        return 0
    if len(argv) >= 4 and argv[0] in ('run', '--bench') and argv[2] == '--':
        runner.exec_program(_facts(argv[1]), argv[3:], bench=argv[0] == '--bench')
    if argv[:1] in (['-h'], ['--help']):
        print(__doc__)
        return 0
    if len(argv) < 2 or argv[0].startswith('-') or argv[0] == 'run':
        _usage(f"cannot read {' '.join(argv)}" if argv else 'no command')
    facts = _facts(argv[1])
    function = registry.find(facts, argv[0])
    if not function:
        _usage(f'this build has no check named {argv[0]}')
    try:
        inspect.signature(function).bind(facts, *argv[2:])
    except TypeError:
        _usage(f'{argv[0]} does not take the words {argv[2:]}')
    return _guarded(lambda: function(facts, *argv[2:]))


def _usage(message):
    """A command line this module cannot read: one line, exit 2 (a check
    that fails exits 1)."""
    print(f'check: {message}; see python3 -m check --help', file=sys.stderr)
    raise SystemExit(2)


def _facts(path):
    try:
        return Facts(path)
    except (OSError, ValueError, TypeError, AttributeError) as why:
        _usage(f'no facts of a build in {path}: {why!r}')


def _guarded(function):
    try:
        function()
    except Skip as why:
        print(f'skipped: {why}', flush=True)
        return SKIPPED
    except Failure as error:
        print(f'FAILED: {error}', file=sys.stderr, flush=True)
        return 1
    except Exception:  # a fault of the check itself is a failure too
        traceback.print_exc()
        return 1
    return 0


sys.exit(main(sys.argv[1:]))
