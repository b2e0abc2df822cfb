# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""How a program of this build runs on this machine, in one place.

Machines of one kind differ: some run 32-bit programs and some do not, and
32-bit Wine needs that too.  So the way is found out by running a probe
(tests/runner_probe.c), which prints a word and exits 42, so that a Wine
or an emulator that runs nothing and exits 0 is never taken for one that
runs programs.  The ways, tried in this order:

  natively             a native build, or a 32-bit one where the host runs it
  under qemu-i386      32-bit Linux where the kernel refuses it (qemu-user)
  under Wine           Windows programs: the machine's Wine (the toolchain's
                       loader through cmake/wine-run); for 32-bit ones where
                       it fails, Wine in the i386 root (cmake/make-i386-root)
                       where this host executes i386 code; else Wine in a
                       guest machine (guest.py: QEMU's emulation of an amd64
                       PC booting Debian's kernel on this host's own root,
                       one guest a test run), which runs 32-bit programs
                       where this host's kernel will not (or where asked
                       for: VYKOSTRA_WINDOWS_RUNNER=guest)
  not at all           every check that runs a program is skipped, with why

The `runner.probe` check decides at the start of each test run and leaves
the answer in tests/runner.json (and, for people, test-runner.txt); every
later check reads it.  CPU models (qemu-user -cpu MODEL) are asked for by
name, by the checks that want one.
"""
import fcntl
import json
import os
import re
import signal
import subprocess
from contextlib import contextmanager
from pathlib import Path

from . import guest
from .base import Failure, Skip, fail, run as host_run, which
from .debian import package_of

PROBE_WORD = 'vykostra-probe'
WINE_RUN = Path(__file__).resolve().parent.parent.parent / 'cmake/wine-run'


def verdict(status, out, err):
    """Whether a probe that exited `status` having said `out` and `err`
    ran: (True, '') or (False, what happened instead)."""
    if status == 42 and PROBE_WORD in out:
        return True, ''
    # What it said, less Wine's lines about making the prefix.
    said = '\n'.join('' if re.search(r'configuration (in|directory)|working directory', line)
                     else line for line in f'{err}\n{out}'.split('\n'))
    last = said.strip().split('\n')[-1]
    if status == 0:
        return False, 'exit status 0 without running the program'
    if not last:
        return False, f'exit status {status}, without a word'
    return False, f'exit status {status}: {last}'


def probe(prefix, program, env=None, timeout=300):
    """Whether `program` (the probe) runs under `prefix`."""
    try:
        done = subprocess.run([*prefix, str(program)], env=dict(os.environ, **(env or {})),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              errors='replace', timeout=timeout)
    except OSError as error:
        return False, str(error)
    except subprocess.TimeoutExpired:
        return False, f'no answer in {timeout} s'
    return verdict(done.returncode, done.stdout, done.stderr)


@contextmanager
def _locked(facts):
    facts.tests.mkdir(parents=True, exist_ok=True)
    with open(facts.tests / 'runner.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def _wine(facts):
    prefix = facts.tests / 'wineprefix'
    env = {'VYKOSTRA_WINEPREFIX': str(prefix)}
    program = facts.target('runner_probe')
    forced = os.environ.get('VYKOSTRA_WINDOWS_RUNNER') == 'guest' and facts.bits == 32
    runs, why = (False, 'a guest machine was asked for (VYKOSTRA_WINDOWS_RUNNER=guest)') \
        if forced else probe(facts.emulator, program, env)
    if runs:
        return dict(how="under Wine (the machine's)", prefix=facts.emulator, env=env)
    # CI names what it could not install (32-bit Wine is an i386 package).
    if facts.bits == 32 and os.environ.get('VYKOSTRA_I386_UNAVAILABLE'):
        why = os.environ['VYKOSTRA_I386_UNAVAILABLE']
    if facts.bits == 32:
        # The machine's Wine cannot run 32-bit programs: the i386 root's may,
        # where this host executes i386 code itself (Wine under an emulator
        # does not get as far as making its prefix), else a guest machine's.
        # The server the probe started for the machine's prefix goes with
        # that prefix.
        _stop_server(prefix)
        why = f"the machine's Wine: {why}"
        root, root_why = i386_root()
        if root and not forced:
            subprocess.run(['rm', '-rf', '--one-file-system', str(prefix)])
            in_root = [facts.emulator[0], '--root', root, '--bind', str(facts.source),
                       '--bind', str(facts.build), 'wine']
            runs, root_why = probe(in_root, program, env)
            if runs:
                return dict(how=f"under Wine (the i386 root's, {root})", prefix=in_root, env=env)
        why = f'{why}; the i386 root: {root_why}'
        try:
            runs, guest_why = probe_guest(facts, 'amd64')
        except guest.GuestUnavailable as unavailable:
            runs, guest_why = False, str(unavailable)
        if runs:
            return guest_decision(facts, 'amd64')
        why = f'{why}; a guest machine: {guest_why}'
    return dict(how='not at all (Wine cannot start them)', prefix=[], env=env,
                skip=f'Wine cannot start {facts.processor} Windows programs on this host ({why})')


def i386_root():
    """The complete i386 root, or None and why there is none."""
    if not which('arch-test'):
        return None, ('arch-test is not installed (Debian: arch-test), so whether this host '
                      'executes i386 programs is not known')
    if subprocess.run(['arch-test', '-n', 'i386'], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        return None, ('this host cannot execute i386 programs (arch-test -n i386), '
                      'and Wine is not run under an emulator')
    maker = os.path.join(os.path.dirname(__file__), '..', '..', 'cmake', 'make-i386-root')
    where = subprocess.run([maker, '--where'], stdout=subprocess.PIPE, text=True)
    root = where.stdout.strip()
    if where.returncode != 0:
        return None, os.environ.get('VYKOSTRA_I386_ROOT_UNAVAILABLE',
                                    f'no complete root at {root}: make it with cmake/make-i386-root')
    return root, ''


# The guest machines: the host's root on an amd64 PC, where 32-bit programs
# run whatever the host's kernel says; the i386 root on a Pentium II, the
# oldest CPU the 32-bit builds are for.  Each runs Wine in a prefix of its
# own in the build folder, never the host's (one server a prefix).
GUESTS = {'amd64': 'in a guest machine, an amd64 PC under QEMU',
          'pentium2': 'in a guest machine, a Pentium II under QEMU'}


def guest_decision(facts, kind):
    return dict(how=f'under Wine ({GUESTS[kind]})', guest=kind,
                prefix=[str(facts.source / 'cmake/wine-run'), 'wine'],
                env={'VYKOSTRA_WINEPREFIX': str(facts.tests / f'wineprefix-{kind}')})


def probe_guest(facts, kind):
    """Whether the probe runs under Wine in the `kind` guest; its prefix is
    made first where the host can (64-bit Wine makes one that 32-bit Wine
    uses too), since Wine makes one far more slowly under emulation."""
    decision = guest_decision(facts, kind)
    prefix = decision['env']['VYKOSTRA_WINEPREFIX']
    if kind == 'amd64' and not os.path.exists(prefix) and os.path.exists('/usr/lib/wine/wine64'):
        subprocess.run([decision['prefix'][0], '/usr/lib/wine/wine64', 'wineboot'],
                       env=dict(os.environ, **decision['env']), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        _stop_server(prefix)
    try:
        status, out, err = _guest_run(facts, decision, [facts.target('runner_probe')],
                                      facts.tests, None, {}, 900)
    except subprocess.TimeoutExpired as why:
        return False, str(why)
    return verdict(status, out.decode(errors='replace'), err.decode(errors='replace'))


def _stop_server(prefix):
    """Stops the machine's Wine server of `prefix`, where there is one."""
    if which('wineserver'):
        _stop_wine([WINE_RUN], {'VYKOSTRA_WINEPREFIX': str(prefix)})


def _stop_wine(wine_run, env):
    """wine-run --stop for the prefix `env` names; fails where it does, or
    if the folder the server kept is left, where Wine chose it (read here
    apart from the script): /run/user/UID/wine where the user has that
    runtime folder, else $TMPDIR/NAME, NAME as the prefix's file
    `wineserver` holds it."""
    prefix = env['VYKOSTRA_WINEPREFIX']
    runtime = f'/run/user/{os.getuid()}'
    try:
        where = os.stat(prefix)
        folder = Path(runtime, 'wine') if os.access(runtime, os.R_OK | os.X_OK) else Path(
            os.environ.get('TMPDIR') or '/tmp', (Path(prefix) / 'wineserver').read_text().strip())
        folder /= f'server-{where.st_dev:x}-{where.st_ino:x}'
    except OSError:
        folder = None
    stopped = subprocess.run([*wine_run, '--stop'], env=dict(os.environ, **env),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if stopped.returncode != 0:
        fail(f'wine-run --stop exited {stopped.returncode}: {stopped.stdout.strip()}')
    if folder and folder.exists():
        fail(f'the stopped Wine server left its folder {folder}')


def _guest_run(facts, decision, argv, cwd, wrap, env, timeout):
    return guest.run(decision['guest'], str(facts.build), [*decision['prefix'], *map(str, argv)],
                     str(cwd), env=dict(os.environ, **decision['env'], **env), wrap=wrap,
                     timeout=timeout)


def _decide(facts):
    if not facts.crosscompiling:
        return dict(how='natively', prefix=[])
    if facts.windows:
        return _wine(facts)
    program = facts.target('runner_probe')
    runs, why = probe([], program)
    if runs:
        return dict(how='natively', prefix=[])
    qemu = which('qemu-i386')
    if qemu and probe([qemu], program)[0]:
        return dict(how='under qemu-i386', prefix=[qemu])
    fail(f'This host cannot run {facts.processor} programs ({why}): install qemu-i386 '
         '(Debian package qemu-user) to run the tests under emulation')


def decide(facts, fresh=False):
    """How this build's programs run here: the test run's answer, found out
    anew where `fresh` (the runner.probe check) or where there is none."""
    answer = facts.tests / 'runner.json'
    with _locked(facts):
        if not fresh and answer.exists():
            return json.loads(answer.read_text())
        decision = _decide(facts)
        answer.write_text(json.dumps(decision))
        (facts.build / 'test-runner.txt').write_text(
            f"{decision['how']}\n{decision.get('skip', '')}\n")
        return decision


def cpu_model(facts, model, oldest='0'):
    """The command prefix that runs this build's Linux programs on the CPU
    model `model` (qemu-user answers cpuid as the model says); Skip where
    qemu-user is missing or older than `oldest`, the first version that runs
    the model's instructions in software (its cpuid hides the rest, and a
    check would blame the library)."""
    qemu = 'qemu-i386' if facts.bits == 32 else 'qemu-x86_64'
    path = which(qemu)
    if not path:
        raise Skip(f'{qemu} is not installed (Debian: {package_of(qemu)}): '
                   'no CPU model to run the scrub on')
    said = host_run([path, '--version'], check=False).stdout
    found = re.search(r'version ([0-9]+\.[0-9]+(\.[0-9]+)?)', said)
    if not found:
        raise Skip(f'{qemu} --version gives no version: which instructions it runs is not known')
    have = tuple(int(part) for part in found.group(1).split('.'))
    if have < tuple(int(part) for part in oldest.split('.')):
        raise Skip(f"qemu-user {found.group(1)} cannot run {model}'s loop "
                   f'({oldest} and later can)')
    return [path, '-cpu', model]


def command(facts, argv, cpu=None, program_env=None):
    """The whole command that runs `argv` (a program of this build, then
    its arguments) here, and the environment it needs; Skip where no way
    runs it.  `program_env` is for the program alone (an emulator would
    take it for itself)."""
    if cpu:
        prefix, env = cpu_model(facts, *cpu), {}
    else:
        decision = decide(facts)
        if decision.get('skip') or decision.get('guest'):
            raise Skip(decision.get('skip') or f"this build's programs run {decision['how']}")
        prefix, env = decision['prefix'], dict(decision.get('env', {}))
    for name, value in (program_env or {}).items():
        if prefix and os.path.basename(prefix[0]).startswith('qemu-'):
            prefix = [prefix[0], '-E', f'{name}={value}', *prefix[1:]]
        else:
            prefix = ['env', f'{name}={value}', *prefix]
    return [*prefix, *map(str, argv)], env


def run(facts, argv, *, cwd=None, wrap=None, cpu=None, guest_kind=None, env=None,
        program_env=None, timeout=None):
    """Runs a program of this build as `command` says (or under Wine in the
    guest `guest_kind`), in `cwd`, its output as bytes; `wrap`, a shell
    command that starts it as "$@" (to close or redirect a descriptor
    first)."""
    decision = guest_decision(facts, guest_kind) if guest_kind else decide(facts)
    if decision.get('guest') and not cpu:
        if decision.get('skip'):
            raise Skip(decision['skip'])
        try:  # (Wine hands its environment to the program)
            status, out, err = _guest_run(facts, decision, argv, cwd or facts.tests, wrap or None,
                                          {**(env or {}), **(program_env or {})}, timeout)
        except guest.GuestUnavailable as why:
            raise Skip(f'the guest machine cannot run it: {why}')
        return subprocess.CompletedProcess(argv, status, out, err)
    full, extra = command(facts, argv, cpu, program_env)
    if wrap:
        full = ['/bin/sh', '-c', wrap, 'sh', *full]
    return subprocess.run(full, cwd=cwd, env=dict(os.environ, **extra, **(env or {})),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)


def stop(facts):
    """runner.stop: ends what the test run left running: the Wine server of
    its prefix, and the guest machines (which would otherwise stop on their
    own once idle)."""
    decision = decide(facts)
    if decision.get('prefix') and not decision.get('guest'):
        _stop_wine(decision['prefix'][:-1], decision['env'])
    for kind in GUESTS:
        guest.stop(kind, str(facts.build))


def exec_program(facts, argv, bench=False):
    """`python3 -m check run FACTS -- PROGRAM ARG...`: replaces itself with
    the program as this machine runs it (the build's emulator for CMake);
    for a benchmark, only where it runs on the CPU itself, else it says why
    and ends."""
    try:
        full, extra = command(facts, argv)
    except (Skip, Failure) as why:
        if bench:
            print(f'The benchmark does not run here: {why}')
            raise SystemExit(0)
        raise SystemExit(f'check run: {why}')
    decision = decide(facts)
    how = decision['how']
    if bench and not (how == 'natively' or how.startswith('under Wine (the')):
        print(f'This host runs {facts.processor} programs {how}, and timings there mean '
              'nothing: the benchmarks need a host that runs them on the CPU itself')
        raise SystemExit(0)
    # As the program would have found them: Python ignores both.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
    if bench and how.startswith('under Wine'):
        # (and the Wine server stopped afterwards, as runner.stop does)
        status = subprocess.run(full, env=dict(os.environ, **extra)).returncode
        try:
            _stop_wine(decision['prefix'][:-1], decision['env'])
        except Failure as why:
            raise SystemExit(f'check --bench: {why}')
        if status < 0:  # killed: as the program was
            signal.signal(-status, signal.SIG_DFL)
            os.kill(os.getpid(), -status)
        raise SystemExit(status)
    try:
        os.execvpe(full[0], full, dict(os.environ, **extra))
    except OSError as why:
        raise SystemExit(f'check run: cannot run {full[0]}: {why}')


# The probe's own verdicts on runners that only seem to run it: a shell
# command standing in for the runner (the probe's path its $0), whether it
# runs, and why not.
PROBE_ROWS = [
    # A Wine without its 32-bit part, as one new user met it: a word about
    # rundll32.exe, nothing run, exit status 0.
    ("echo 'wine: failed to open rundll32.exe' >&2 && exit 0", False,
     'exit status 0 without running the program'),
    ('echo vykostra-probe && exit 0', False, 'exit status 0 without running the program'),
    ('exit 42', False, 'exit status 42, without a word'),
    ("echo 'wine: configuration in L\"x\" has been updated.' >&2 && "
     "echo 'no 32-bit loader' >&2 && exit 1", False, 'exit status 1: no 32-bit loader'),
    ('echo vykostra-probe && exit 42', True, ''),
]


def check_probe(facts):
    """runner.probe: the probe tells the runners above apart, then decides
    how this test run's programs run."""
    wrong = []
    for stand_in, runs, why in PROBE_ROWS:
        verdict = probe(['sh', '-c', stand_in], 'probe')
        if verdict != (runs, why):
            wrong.append(f'{stand_in}: {verdict}, expected {(runs, why)}')
    if wrong:
        fail("The probe's verdicts:\n  " + '\n  '.join(wrong))
    # A guest left from an earlier run keeps what it read of the build
    # folder: this run's starts afresh.
    for kind in GUESTS if facts.windows else ():
        guest.stop(kind, str(facts.build))
    decision = decide(facts, fresh=True)
    print(f"this build's programs run {decision['how']}")


def check_guest(facts):
    """runner.guest: the guest machine boots and runs the probe under Wine,
    on every machine, so that the way 32-bit Windows programs run where the
    host's kernel refuses them cannot rot where it is not needed."""
    if subprocess.run(['dpkg', '-s', 'wine32:i386'], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        raise Skip('the guest runs the host\'s own 32-bit Wine, and ' + os.environ.get(
            'VYKOSTRA_I386_UNAVAILABLE', 'wine32:i386 is not installed (Debian: wine32:i386)'))
    try:
        runs, why = probe_guest(facts, 'amd64')
    except guest.GuestUnavailable as unavailable:
        raise Skip(f'no guest machine here: {unavailable}')
    finally:
        if not decide(facts).get('guest'):
            guest.stop('amd64', str(facts.build))
    if not runs:
        fail(f'the guest machine does not run the probe: {why}')
    print(f'the probe ran under Wine {GUESTS["amd64"]}')
