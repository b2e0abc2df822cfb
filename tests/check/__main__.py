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
"""
import sys
import traceback
from pathlib import Path

from . import debian, registry, repository, runner, sbom
from .base import SKIPPED, Facts, Failure, Skip

SOURCE = Path(__file__).resolve().parent.parent.parent


def main(argv):
    if len(argv) >= 2 and argv[0] == '--debian-packages':
        return debian.main(argv[1])
    if argv[:1] == ['--install-sbom-validator']:
        return _guarded(lambda: sbom.install_validator(SOURCE))
    if len(argv) >= 3 and argv[0] == '--reproducible':
        return _guarded(lambda: repository.reproducible(SOURCE, Path(argv[1]).resolve(), argv[2:]))
    if len(argv) == 3 and argv[0] == '--register':
        registry.register(Facts(argv[1]), Path(argv[2]))
        return 0
    if len(argv) >= 4 and argv[0] in ('run', '--bench') and argv[2] == '--':
        runner.exec_program(_facts(argv[1]), argv[3:], bench=argv[0] == '--bench')
    if len(argv) < 2 or argv[0].startswith('-') or argv[0] == 'run':
        print(__doc__, file=sys.stderr)
        return 2
    facts = _facts(argv[1])
    function = registry.find(facts, argv[0])
    return _guarded(lambda: function(facts, *argv[2:]))


def _facts(path):
    try:
        return Facts(path)
    except (OSError, ValueError) as why:
        raise SystemExit(f'check: no facts of a build in {path}: {why}')


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
