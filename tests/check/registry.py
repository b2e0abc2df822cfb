# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Which checks a build has, each by its name and the function that runs
it, and the list CTest reads (tests/checks.cmake, written at build time
from the build's facts, as GoogleTest's discovery writes its own)."""
import re
import sys

from . import binaries, cases, delivery, machine, repository, runner


def checks(facts):
    """(name, function, properties) for each check of this build, in the
    order CTest starts them.  A check that runs a program of this build
    needs the test run's runner (the fixture `runner`)."""
    f = facts
    runs = {'FIXTURES_REQUIRED': 'runner'}
    yield 'runner.probe', runner.check_probe, {'FIXTURES_SETUP': 'runner'}
    for case in cases.case_names(f):
        yield f'golden.{case}', lambda f, c=case: cases.golden(f, c), runs
    if f.bits == 32 and (f.linux or f.windows):
        # The oldest CPU the 32-bit builds are for: a Pentium II, without SSE
        # (qemu raises SIGILL for any SSE instruction): qemu-user's model for
        # Linux programs, a guest machine running Windows' under Wine.
        how = {'cpu': ('pentium2',)} if f.linux else {'guest_kind': 'pentium2'}
        for case in cases.case_names(f):
            yield (f'golden-pentium2.{case}', lambda f, c=case: cases.golden(f, c, **how),
                   {} if f.linux else runs)
    for name in ('help', 'version', 'no-operands', 'missing-library', 'sample'):
        yield f'tool.{name}', lambda f, n=name: cases.tool(f, n), runs
    for row in cases.rows(f):
        yield f'compare.{row.name}', lambda f, n=row.name: cases.compare(f, n), runs
    if f.linux and f.x86 and not f.instrumented:
        for way in ('glibc', 'cpuid'):
            for model in ('native', *binaries.cpu_models(f)):
                yield (f'scrub.cpu.{way}.{model}',
                       lambda f, w=way, m=model: binaries.scrub_cpu(f, w, m), runs)
    if 'scrub_probe_windows' in f.targets:
        for row in binaries.WINDOWS_ROWS:
            yield f'scrub.windows.{row}', lambda f, r=row: binaries.scrub_windows(f, r), runs
    stand_ins = delivery.placeholders(f)
    for name in stand_ins:
        if name == 'llvm-symbolizer':
            yield f'packages.{name}', lambda f, n=name: delivery.placeholder(f, n), {}
    if f.x86 and f.bits == 32 and not f.instrumented:
        yield 'toolchain.floor', binaries.toolchain_floor, {}
    if f.windows:
        yield 'library.dll-tables', binaries.library_dll_tables, {}
    else:
        yield 'library.exports', binaries.library_exports, {}
        yield 'library.abi', binaries.library_abi, {}
    if f.windows:
        yield 'msvc-host.link', binaries.msvc_host_link, {'FIXTURES_SETUP': 'msvc-host'}
        if f.msvc_import_library:
            yield ('msvc-host.run', lambda f: binaries.program(
                f, None, binaries._msvc_work(f) / 'msvc-host.exe', cwd=binaries._msvc_work(f)),
                {'FIXTURES_REQUIRED': 'msvc-host;runner'})
    if not f.sanitize:
        for name in stand_ins:
            if name != 'llvm-symbolizer':
                yield f'packages.{name}', lambda f, n=name: delivery.placeholder(f, n), {}
        yield 'install.consumers', delivery.install_consumers, runs
    if f.release and (f.windows or f.bits == 64):
        yield 'packages.signed', delivery.packages_signed, {'TIMEOUT': '900', **runs}
        yield 'packages.signed.killed', delivery.packages_signed_killed, {}
    if not f.windows:
        yield 'man.lint', repository.man_lint, {}
    if f.linux and not f.crosscompiling and not f.instrumented:
        yield 'i386-root.making', machine.i386_root_making, {}
    if 'collapse_fuzz' in f.targets:
        yield 'fuzz.leaves-nothing', machine.fuzz_leaves_nothing, {'FIXTURES_REQUIRED': 'fuzz-seeds'}
    yield 'reuse.lint', lambda f: repository.reuse_lint(f, True), {}
    yield 'reuse.lint.without-git', lambda f: repository.reuse_lint(f, False), {}
    if f.bits == 32 or f.windows:
        yield ('library.layout', lambda f: binaries.program(
            f, 'layout_test', 'layout.out', 'layout-closed.out', 'layout.err'), runs)
    if 'portable_tests' in f.targets:
        if f.windows:
            yield 'portable', lambda f: binaries.program(f, 'portable_tests'), runs
        elif not f.crosscompiling and not f.instrumented:
            yield 'scrub.memcheck', binaries.scrub_memcheck, {}
    if f.windows and f.bits == 32:
        yield 'runner.guest', runner.check_guest, {'FIXTURES_REQUIRED': 'runner'}
    if f.windows:
        yield 'runner.stop', runner.stop, {'FIXTURES_CLEANUP': 'runner'}


def find(facts, name):
    for check_name, function, _ in checks(facts):
        if check_name == name:
            return function
    # A stand-in listed when a tool was missing, which is there now.
    if name.startswith('packages.') and name in registered(facts):
        return lambda f: delivery.placeholder(f, name[9:])
    return None


def registered(facts):
    """The checks this build listed for CTest, by name."""
    listed = facts.tests / 'checks.cmake'
    return re.findall(r'^add_test\(\[==\[([^]]+)\]==\]', listed.read_text(), re.M) \
        if listed.exists() else []


def _quoted(text):
    return '[==[' + str(text) + ']==]'


def register(facts, out):
    """Writes the add_test and set_tests_properties lines of every check."""
    lines = []
    environment = f'PYTHONPATH={facts.source}/tests;PYTHONDONTWRITEBYTECODE=1'
    for name, _, properties in checks(facts):
        lines.append(f'add_test({_quoted(name)} {_quoted(sys.executable)} -m check '
                     f'{_quoted(name)} {_quoted(facts.path)})')
        properties = {'SKIP_RETURN_CODE': '77', 'ENVIRONMENT': environment,
                      'WORKING_DIRECTORY': facts.tests, **properties}
        lines.append(f'set_tests_properties({_quoted(name)} PROPERTIES '
                     + ' '.join(f'{k} {_quoted(v)}' for k, v in properties.items()) + ')')
    out.write_text('\n'.join(lines) + '\n')
