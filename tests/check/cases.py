# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""The tool on the golden cases (tests/cases), its own contract, and the
comparison of two libraries (tests/compare), each run as this machine runs
the build's programs (runner)."""
import shlex
import shutil
from dataclasses import dataclass

from . import runner
from .base import fail


def case_names(facts, valid_only=False):
    names = sorted(p.stem for p in (facts.source / 'tests' / 'cases').glob('*.msg'))
    return [n for n in names if not (valid_only and n.startswith('bad-'))]


def _text(data, facts):
    """Output as the expected files hold it: Windows' text streams end
    lines in CR LF."""
    return data.replace(b'\r\n', b'\n') if facts.windows else data


def _expected(path, default=b''):
    return path.read_bytes() if path.exists() else default


def golden(facts, case, cpu=None, guest_kind=None):
    """One golden case through the tool:
      NAME.msg     the message description (input)
      NAME.out     the bytes the output file must hold; absent: no file made
      NAME.err     the standard error expected (absent: none)
      NAME.stdout  the tool's report, with --show-texts (absent: not checked)
      NAME.pre     bytes the output file holds before the call (optional)
      NAME.dir     present: the output path is a folder
      NAME.status  the expected exit status (absent: 0)"""
    cases = facts.source / 'tests' / 'cases'
    base = cases / case
    model = cpu[0] if cpu else guest_kind
    work = facts.tests / (f'golden-{model}' if model else 'golden')
    output = work / f'{case}.actual'
    shutil.rmtree(output, ignore_errors=True)
    output.unlink(missing_ok=True)
    work.mkdir(parents=True, exist_ok=True)
    if base.with_suffix('.pre').exists():
        shutil.copyfile(base.with_suffix('.pre'), output)
    if base.with_suffix('.dir').exists():
        output.mkdir()
    done = runner.run(facts, [facts.target('tool'), '--library', facts.target('library'),
                              '--show-texts', f'{case}.msg', output], cwd=cases, cpu=cpu,
                      guest_kind=guest_kind)
    failures = []
    status = int(_expected(base.with_suffix('.status'), b'0').split()[0])
    if done.returncode != status:
        failures.append(f'exit status {done.returncode}, expected {status}')
    for what, actual, suffix in (('standard error', done.stderr, '.err'),
                                 ('standard output', done.stdout, '.stdout')):
        expected = base.with_suffix(suffix)
        if (suffix == '.err' or expected.exists()) and _text(actual, facts) != _expected(expected):
            failures.append(f'{what} differs.\n--- expected:\n{_expected(expected).decode(errors="replace")}'
                            f'\n--- actual:\n{actual.decode(errors="replace")}')
    if base.with_suffix('.out').exists():
        if not output.is_file():
            failures.append('no output file was written')
        elif output.read_bytes() != base.with_suffix('.out').read_bytes():
            failures.append(f'output file differs.\n--- expected (hex):\n'
                            f'{base.with_suffix(".out").read_bytes().hex()}\n--- actual (hex):\n'
                            f'{output.read_bytes().hex()}')
    elif base.with_suffix('.pre').exists():
        if output.read_bytes() != base.with_suffix('.pre').read_bytes():
            failures.append('the existing output file was changed')
    elif not base.with_suffix('.dir').exists() and output.exists():
        failures.append('an output file was created')
    if failures:
        fail(f'case {case}:\n' + '\n'.join(failures))


def tool(facts, name):
    """The tool's own contract: tool.help, .version, .no-operands,
    .missing-library, .sample."""
    tool_path, examples = facts.target('tool'), facts.source / 'examples' / 'sample.msg'
    argv, pattern = {
        'help': ([], None),
        'version': (['--version'], f'pgrmsg-collapse (VYKOSTRA) {facts.version}\n'),
        'no-operands': ([], 'expected MESSAGE-FILE and OUTPUT-FILE'),
        'missing-library': (['--library', facts.tests / 'no-such-library', examples,
                             facts.tests / 'unwritten.txt'], 'pgrmsg-collapse: cannot load '),
        'sample': ([examples, facts.tests / 'sample.txt'], None),
    }[name]
    if name == 'help':
        argv = ['--help']
    done = runner.run(facts, [tool_path, *argv])
    said = _text(done.stdout + done.stderr, facts).decode(errors='replace')
    if pattern is None and done.returncode != 0:
        fail(f'exit status {done.returncode}:\n{said}')
    if name == 'version' and _text(done.stdout, facts).decode() != pattern:
        fail(f'--version printed {said!r}')
    if pattern and name != 'version' and pattern not in said:
        fail(f'expected {pattern!r} in:\n{said}')


@dataclass
class Row:
    """A comparison: its name, library B (a target of this build, or a
    path in the build's tests folder), the message files (default: the
    sample and every valid golden case), a shell command that starts the
    tool as "$@" (to close or redirect a descriptor, or change its
    environment), the tool's arguments in place of the comparison's, the
    environment the tool alone is given, whether it runs only on POSIX
    systems, and the expected outputs' name where they are another row's."""
    name: str
    library: str = 'VYKOSTRA'
    messages: tuple = ()
    wrap: str = ''
    args: tuple = ()
    env: tuple = ()
    posix: bool = False
    expect: str = ''


RUN = 'exec "$@"'
# A pipe whose reader has gone before the tool starts: a FIFO opened at
# both ends, then its reading end closed (Wine hands the pipe on as it is).
READER_GONE = ('rm -f "$F" && mkfifo "$F" && exec 3<>"$F" 4>"$F" 3<&- && rm "$F" && '
               'exec "$@" >&4 4>&-')
COLLAPSE = ('--library', '@VYKOSTRA', 'two-lists.msg', '@report-lost.txt')
ROWS = [
    Row('same'), Row('walk', 'variant_walk'), Row('diagnostic', 'variant_diagnostic'),
    Row('scrub', 'variant_scrub'), Row('quiet', 'variant_quiet'),
    # A description error (status 2), a folder with no message (2), a
    # library that cannot be loaded (3).
    Row('bad-description', messages=('bad-escape.msg',)),
    Row('no-messages', messages=('../compare',)),
    Row('missing-library', '@variants/none/VYKOSTRA'),
    # Started as daemons and schedulers start programs, and with a report
    # that cannot be written: into the full device, on a closed standard
    # output, a standard output whose close fails, and into a pipe whose
    # reader has gone.  (POSIX shells only, but for the pipe: Wine gives a
    # Windows program descriptors of its own, and has no full device.)
    Row('closed-streams', messages=('empty-items.msg',), wrap=f'{RUN} 0<&- 2>&-', posix=True),
    Row('report-lost', messages=('empty-items.msg',), wrap=f'{RUN} >/dev/full', posix=True),
    Row('report-lost.closed', messages=('empty-items.msg',), wrap=f'{RUN} >&-', posix=True,
        expect='report-lost'),
    Row('no-temporary-folder', messages=('empty-items.msg',), wrap=f'TMPDIR=@none {RUN}',
        posix=True),
    Row('collapse-report-lost', args=COLLAPSE, wrap=f'{RUN} >/dev/full', posix=True),
    Row('report-lost.collapse-closed', args=COLLAPSE, wrap=f'{RUN} >&-', posix=True,
        expect='report-lost'),
    Row('report-lost.collapse-close-fails', args=COLLAPSE, wrap=f'{RUN} >/dev/null',
        env=(('LD_PRELOAD', '@@name:close_fails'), ('LD_LIBRARY_PATH', '@@dir:close_fails')),
        posix=True, expect='report-lost'),
    Row('report-lost.help-closed', args=('--help',), wrap=f'{RUN} >&-', posix=True,
        expect='report-lost'),
    Row('report-lost.version-closed', args=('--version',), wrap=f'{RUN} >&-', posix=True,
        expect='report-lost'),
    Row('report-lost.reader-gone', messages=('empty-items.msg',), wrap=READER_GONE,
        expect='report-lost'),
    Row('report-lost.collapse-reader-gone', args=COLLAPSE, wrap=READER_GONE,
        expect='report-lost'),
    Row('report-lost.help-reader-gone', args=('--help',), wrap=READER_GONE,
        expect='report-lost'),
    Row('report-lost.version-reader-gone', args=('--version',), wrap=READER_GONE,
        expect='report-lost'),
]


def rows(facts):
    return [row for row in ROWS if not (row.posix and facts.windows)]


def compare(facts, name):
    """compare.NAME: pgrmsg-collapse --compare LIBRARY-A LIBRARY-B MESSAGES
    (or the row's own arguments), and what it left against the expected
    outputs tests/compare/EXPECTED.{stdout,err,status}: the report (absent:
    none), how standard error begins, LIBRARY-B standing for @LIBRARY_B@
    (absent: nothing printed there), the exit status (absent: 0)."""
    row = next(row for row in rows(facts) if row.name == name)

    def resolve(word):  # @@[name:|dir:]TARGET, @NAME in the tests folder, VYKOSTRA...
        if word.startswith('@@'):
            # (LD_PRELOAD takes a name its loader finds: a path with a blank
            # would be two words to it.)
            part, _, target = word[2:].rpartition(':')
            path = facts.target(target)
            return {'': str(path), 'name': path.name, 'dir': str(path.parent)}[part]
        if word.startswith('@') and word[1:] in ('VYKOSTRA',):
            return str(facts.target('library'))
        return str(facts.tests / word[1:]) if word.startswith('@') else word

    library_b = (resolve(row.library) if row.library.startswith('@')
                 else str(facts.target(f'{row.library}_loaded')))
    cases = facts.source / 'tests' / 'cases'
    messages = row.messages or ['../../examples/sample.msg', *(
        f'{c}.msg' for c in case_names(facts, valid_only=True))]
    argv = [resolve(a) for a in row.args] or [
        '--compare', facts.target('VYKOSTRA_loaded'), library_b, *messages]
    # (The FIFO in /tmp: a guest machine's share of the build folder takes none.)
    wrap = row.wrap.replace('@none', shlex.quote(str(facts.tests / 'none'))).replace(
        '$F', '/tmp/vykostra-reader-gone.$$')
    done = runner.run(facts, [facts.target('tool'), *argv], cwd=cases, wrap=wrap,
                      program_env={k: resolve(v) for k, v in row.env})
    expected = facts.source / 'tests' / 'compare' / (row.expect or name)
    failures = []
    status = int(_expected(expected.with_suffix('.status'), b'0').strip() or 0)
    if done.returncode != status:
        failures.append(f'exit status {done.returncode}, expected {status}')
    out, err = _text(done.stdout, facts), _text(done.stderr, facts)
    if out != _expected(expected.with_suffix('.stdout')):
        failures.append(f'report:\n{out.decode(errors="replace")}--- expected ---\n'
                        f'{_expected(expected.with_suffix(".stdout")).decode()}')
    begins = _expected(expected.with_suffix('.err')).replace(
        b'@LIBRARY_B@', library_b.encode()).strip()
    if not err.startswith(begins) or (not begins and err):
        failures.append(f'standard error:\n{err.decode(errors="replace")}'
                        f'--- expected to begin with ---\n{begins.decode()}')
    if failures:
        fail('\n'.join(failures))
