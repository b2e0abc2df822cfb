# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""VYKOSTRA as its users take it in: the stripped install, each package
(unpacked, never installed into the system) with Debian's own checkers,
the sums and the bills of materials beside them, the source tree as a
subproject, and a release signed with throwaway keys."""
import contextlib
import glob
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from . import runner, sbom, shipped
from .base import Skip, fail, run, unpack, which
from .binaries import pdb_reads_export, symbolizer
from .debian import package_of


def _toolchain(facts):
    return [f'-DCMAKE_TOOLCHAIN_FILE={facts.toolchain}'] if facts.toolchain else []


def _run_consumer(facts, consumer, library, out):
    """Runs `consumer`, whose library is `library` (Windows: copied beside it)."""
    env = {}
    if facts.windows:
        shutil.copy(library, Path(consumer).parent)
    else:
        env['LD_LIBRARY_PATH'] = str(Path(library).parent)
    done = runner.run(facts, [consumer, out], env=env)
    if done.returncode != 0:
        fail(f'{consumer} exited {done.returncode}:\n{(done.stdout + done.stderr).decode()}')


def _check_tree(facts, name, prefix, work):
    """The three ways in, against the tree installed under `prefix`: a C
    consumer built with find_package, one built with pkg-config, and the
    installed tool, which finds the installed library by itself."""
    work = work / name
    if not (prefix / 'include/vykostra.h').exists():
        fail(f'{name}: not installed: include/vykostra.h')
    pc_dir = Path(next(iter(glob.glob(f'{prefix}/*/**/vykostra.pc', recursive=True)))).parent
    libdir = pc_dir.parent
    library = prefix / 'bin/VYKOSTRA.dll' if facts.windows else libdir / 'libVYKOSTRA.so.1'
    # Installed stripped: no debug information ships, and on Windows no time
    # stamp came with the stripping (the PE header's, at e_lfanew + 8).
    data = library.read_bytes()
    if b'.debug_' in data:
        fail(f'{name}: {library} carries debug information')
    if facts.windows:
        header = int.from_bytes(data[60:64], 'little')
        if data[header + 8:header + 12] != bytes(4):
            fail(f'{name}: {library} carries a time stamp ({data[header + 8:header + 12].hex()})')
    # find_package (a cross build finds packages in its own root only, so it
    # is told where this one is)
    run(['cmake', '-S', facts.source / 'tests/consumer', '-B', work / 'cmake', '-G',
         facts.generator, f'-DCMAKE_PREFIX_PATH={prefix}',
         f'-DVYKOSTRA_DIR={libdir}/cmake/VYKOSTRA', *_toolchain(facts)])
    run(['cmake', '--build', work / 'cmake'])
    exe = '.exe' if facts.windows else ''
    _run_consumer(facts, work / f'cmake/consumer{exe}', library, work / 'out.txt')
    # pkg-config, with nothing but the installed tree in its search path
    flags = run(['pkg-config', '--cflags', '--libs', 'vykostra'],
                env={'PKG_CONFIG_LIBDIR': str(pc_dir)}).stdout
    flags = shlex.split(flags)
    c_flags = shlex.split(facts.c_flags) + shlex.split(facts.link_flags) + ([f'--target={facts.c_target}'] if facts.c_target else []) \
        + ([f'--sysroot={facts.sysroot}'] if facts.sysroot else []) \
        + (['-static-libgcc'] if facts.windows else [])
    (work / 'pc').mkdir(parents=True, exist_ok=True)
    consumer = work / f'pc/consumer{exe}'
    run([facts.c_compiler, *c_flags, facts.source / 'tests/consumer/consumer.c', *flags,
         '-o', consumer])
    _run_consumer(facts, consumer, library, work / 'out.txt')
    installed = next(iter(glob.glob(f'{prefix}/bin/pgrmsg-collapse*')))
    done = runner.run(facts, [installed, facts.source / 'examples/sample.msg', work / 'sample.txt'])
    if done.returncode != 0:
        fail(f'{name}: the installed tool exited {done.returncode}:\n'
             f'{(done.stdout + done.stderr).decode()}')


def _needs_all(folder, files, what):
    for file in files:
        if not (folder / file).exists():
            fail(f'{what} holds no {file}')


def _debs(facts, packages, root, depends):
    """Each Debian package's Depends and documents; for a release build
    (optimised, not instrumented), Debian's own checkers where installed and
    the stripped binaries read back to our sources through the debug
    packages' files, found by build ID."""
    for deb, pattern in shipped.DEBS.items():
        found = glob.glob(f'{packages}/{deb}_{facts.version}_*.deb')
        if not found:
            fail(f'no {deb} package among: {os.listdir(packages)}')
        field = run(['dpkg-deb', '-f', found[0], 'Depends']).stdout.strip()
        if depends and not re.search(pattern.replace('VERSION', re.escape(facts.version)), field):
            fail(f'{deb}: Depends: {field}')
        unpack(found[0], root)
        _needs_all(root / 'usr/share/doc' / deb, shipped.DEB_DOCUMENTS, deb)
    prefix = root / 'usr'
    if not facts.release:
        return prefix
    from .registry import registered
    gone = [t for t in ('lintian', 'hardening-check', 'gdb')
            if not which(t) and f'packages.{t}' not in registered(facts)]
    if gone:
        fail(f"{', '.join(gone)} went since this build listed its checks: build again")
    lintian = which('lintian')
    if lintian:
        # (in a temporary folder of its own: it leaves files in one)
        scratch = root.parent / 'lintian-tmp'
        scratch.mkdir(exist_ok=True)
        run([lintian, '--fail-on', 'error,warning', *glob.glob(f'{packages}/*.deb')],
            env={'TMPDIR': str(scratch)})
        shutil.rmtree(scratch)
    binaries = [*glob.glob(f'{prefix}/lib/*-linux-gnu/libVYKOSTRA.so.1'), str(prefix / 'bin/pgrmsg-collapse')]
    if which('hardening-check'):
        run(['hardening-check', '--nocfprotection', *binaries])
    gdb = which('gdb')
    for binary in binaries if gdb else []:
        function = 'VYKPgrMsgCollapse' if '.so' in binary else 'main'
        said = run([gdb, '-batch', '-nx', '-iex', f'set debug-file-directory {prefix}/lib/debug',
                    '-ex', f'info line {function}', binary]).stdout
        if not re.search(r'Line [0-9]+ of "\./(src|tools/pgrmsg-collapse)/[a-z_]+\.cpp"', said):
            fail(f'gdb finds no source line in {binary}:\n{said}')
    return prefix


def _archive(facts, packages, kind, root):
    found = [p for p in glob.glob(f'{packages}/*.{kind}') if not p.endswith('-symbols.zip')]
    if len(found) != 1:
        fail(f'expected one .{kind} package, found: {found}')
    prefix = next(unpack(found[0], root).iterdir())
    if facts.windows:
        # Beside the Windows .zip, its symbols: unpacked over it, they put the
        # PDB beside the DLL, where a debugger looks, and the export's address
        # reads back to its function and a source line of ours.
        symbols = glob.glob(f'{packages}/*-symbols.zip')
        if len(symbols) != 1:
            fail(f'expected one -symbols.zip beside {found[0]}, found: {symbols}')
        unpack(symbols[0], root)
        _needs_all(prefix, shipped.WINDOWS_SYMBOLS, 'the -symbols.zip')
        if symbolizer():
            pdb_reads_export(facts, prefix / 'bin/VYKOSTRA.dll')
        _needs_all(prefix, shipped.WINDOWS_FILES, 'the .zip')
        notices = (prefix / 'THIRD-PARTY-NOTICES.txt').read_text()
        for licence in shipped.WINDOWS_NOTICES:
            if f'\nLicense: {licence}\n' not in notices:
                fail(f'THIRD-PARTY-NOTICES.txt in the .zip gives no {licence} notice')
    else:
        _needs_all(prefix / shipped.LINUX_DOCUMENTS, shipped.DOCUMENTS, f'the .{kind}')
    return prefix


def install_consumers(facts):
    """install.consumers: each installed tree (a stripped install; then each
    package CPack makes) serves the consumers, the packages hold what they
    should, their sums and bills of materials hold; then the source tree
    serves one as a subproject, which builds the library and nothing else."""
    work = facts.tests / 'install'
    shutil.rmtree(work, ignore_errors=True)
    run(['cmake', '--install', facts.build, '--prefix', work / 'prefix', '--strip'])
    _check_tree(facts, 'install', work / 'prefix', work)
    packages = work / 'packages'
    run(['cpack', '--config', facts.build / 'CPackConfig.cmake', '-B', packages])
    kinds = ['zip'] if facts.windows else ['deb', 'tar.gz'] if facts.debs else ['tar.gz']
    for kind in kinds:
        root = work / f'unpacked-{kind}'
        if kind == 'deb':
            depends = not (facts.library_architecture == 'i386-linux-gnu' and not _has_i386_libstdcxx())
            prefix = _debs(facts, packages, root, depends)
        else:
            prefix = _archive(facts, packages, kind, root)
        if not facts.windows:
            _needs_all(prefix, shipped.LINUX_FILES, f'the .{kind}')
        _check_tree(facts, kind, prefix, work)
    run(['sha256sum', '-c', 'SHA256SUMS'], cwd=packages)
    sbom.check(facts, packages, work, facts.build / 'CPackConfig.cmake')
    # A subproject: the library, and nothing else built.
    sub = work / 'subproject'
    run(['cmake', '-S', facts.source / 'tests/consumer', '-B', sub, '-G', facts.generator,
         f'-DVYKOSTRA_SOURCE={facts.source}', *_toolchain(facts)])
    run(['cmake', '--build', sub])
    extra = [p for pattern in ('*pgrmsg-collapse*', '*gtest*', '*_tests*')
             for p in glob.glob(f'{sub}/**/{pattern}', recursive=True)]
    if extra:
        fail(f'the subproject built more than its library: {extra}')
    exe = '.exe' if facts.windows else ''
    library = sub / 'vykostra' / ('VYKOSTRA.dll' if facts.windows else 'libVYKOSTRA.so.1')
    _run_consumer(facts, sub / f'consumer{exe}', library, work / 'out.txt')


def _has_i386_libstdcxx():
    return subprocess.run(['dpkg', '-s', 'libstdc++6:i386'], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def placeholder(facts, name):
    """A part of install.consumers that cannot run here, reported apart:
    packages.lintian, .hardening-check, .gdb, .depends, .sbom-validator,
    .llvm-symbolizer, .glibc-source."""
    if name not in placeholders(facts):
        raise Skip(f'{name} has come since this build listed its checks: install.consumers '
                   'does that part now (build again to drop this stand-in)')
    if name == 'depends':
        why = os.environ.get('VYKOSTRA_I386_UNAVAILABLE', 'libstdc++6:i386 is not installed')
        raise Skip(f"{why}: the i386 packages' Depends cannot be read from i386 libraries")
    if name == 'sbom-validator':
        raise Skip(f'the bills of materials are not validated: {sbom.validator_missing(facts)}')
    if name == 'glibc-source':
        raise Skip("glibc-source is not installed (Debian: glibc-source): the licence the "
                   "bills of materials give glibc's start files is not read from their sources")
    if name == 'llvm-symbolizer':
        raise Skip('llvm-symbolizer is not installed (Debian: llvm): the DLL is not read back '
                   'through its PDB')
    raise Skip(f'{name} is not installed (Debian: {package_of(name)})')


def placeholders(facts):
    """The parts of install.consumers that cannot run here, by name."""
    names = []
    if facts.debs and facts.release:
        names += [t for t in ('lintian', 'hardening-check', 'gdb') if not which(t)]
        if facts.library_architecture == 'i386-linux-gnu' and not _has_i386_libstdcxx():
            names.append('depends')
    if not facts.sanitize and sbom.validator_missing(facts):
        names.append('sbom-validator')
    if facts.windows and not symbolizer():
        names.append('llvm-symbolizer')
    if not facts.windows and not facts.sanitize and not sbom.GLIBC_SOURCE.is_dir():
        names.append('glibc-source')
    return names


# Signing: a GnuPG home of its own under /tmp, whatever the build folder's
# path (where /run/user/UID is missing, gpg-agent makes its sockets in the
# home, and a socket's path must fit in 108 bytes).
SIGNING_TOOLS = ['gpg', 'gpgconf', 'openssl', 'osslsigncode']


def _signing_tools(facts):
    wanted = SIGNING_TOOLS if facts.windows else SIGNING_TOOLS[:2]
    missing = [f'{t} (Debian: {package_of(t)})' for t in wanted if not which(t)]
    if missing:
        raise Skip('not installed: ' + ', '.join(missing))


def _clean_gnupg(home):
    subprocess.run(['gpgconf', '--homedir', home, '--kill', 'all'],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(['gpgconf', '--homedir', home, '--remove-socketdir'],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(home, ignore_errors=True)


def _gnupg_home():
    """A GnuPG home, and a watcher in a session of its own that stops its
    agent and removes it once this process is gone, however it ends (a
    time limit's SIGKILL included): the watcher reads a pipe whose only
    writer is this process.  Returns the home and the pipe's writing end."""
    home = tempfile.mkdtemp(prefix='vykostra-gnupg.', dir='/tmp')
    reading, writing = os.pipe()
    if os.fork() == 0:
        try:
            os.setsid()
            null = os.open(os.devnull, os.O_RDWR)
            for fd in (0, 1, 2):  # CTest waits for the test's output to close
                os.dup2(null, fd)
            os.closerange(3, reading)
            os.closerange(reading + 1, 65536)
            os.read(reading, 1)
            _clean_gnupg(home)
        finally:
            os._exit(0)
    os.close(reading)
    return home, writing


def packages_signed(facts, work=None):
    """packages.signed: a release signed with keys of the test's own (a
    throwaway GnuPG key and, on Windows, a throwaway code-signing
    certificate): the library and the tool built afresh with them (tests
    off) and packed; then `gpg --verify SHA256SUMS.asc SHA256SUMS` and
    `sha256sum -c SHA256SUMS` hold, the bills of materials still match, and
    on Windows `osslsigncode verify` accepts both binaries, the DLL's PDB
    still reads its export back to our source, and (where Wine runs) the
    signed tool runs the sample on the signed DLL."""
    _signing_tools(facts)
    work = Path(work or facts.tests / 'signed')
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    home, watcher = _gnupg_home()
    print(f'GnuPG home: {home}', flush=True)
    try:
        _signed(facts, work, {'GNUPGHOME': home})
    finally:
        _clean_gnupg(home)
        os.close(watcher)


def _signed(facts, work, env):
    run(['gpg', '--batch', '--passphrase', '', '--quick-generate-key',
         'VYKOSTRA test <test@example.org>', 'ed25519', 'sign', '1d'], env=env)
    key = re.search(r'\nfpr:+([0-9A-F]+):',
                    run(['gpg', '--batch', '--with-colons', '--list-secret-keys'], env=env).stdout)[1]
    signing = [f'-DVYKOSTRA_SIGN_GPG_KEY={key}']
    pki = work / 'pki'
    if facts.windows:
        pki.mkdir()
        (pki / 'password').write_text('throwaway\n')
        run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj',
             '/CN=VYKOSTRA test', '-addext', 'keyUsage=critical,digitalSignature', '-addext',
             'extendedKeyUsage=codeSigning', '-keyout', pki / 'key.pem', '-out', pki / 'cert.pem'])
        run(['openssl', 'pkcs12', '-export', '-inkey', pki / 'key.pem', '-in', pki / 'cert.pem',
             '-passout', f'file:{pki}/password', '-out', pki / 'signing.p12'])
        signing += [f'-DVYKOSTRA_SIGN_PKCS12={pki}/signing.p12',
                    f'-DVYKOSTRA_SIGN_PKCS12_PASSWORD_FILE={pki}/password']
    run(['cmake', '-S', facts.source, '-B', work / 'build', '-G', facts.generator,
         *_toolchain(facts), '-DCMAKE_BUILD_TYPE=RelWithDebInfo', '-DBUILD_TESTING=OFF', *signing],
        env=env)
    run(['cmake', '--build', work / 'build'], env=env)
    packages = work / 'packages'
    run(['cpack', '--config', work / 'build/CPackConfig.cmake', '-B', packages], env=env)
    run(['gpg', '--batch', '--verify', packages / 'SHA256SUMS.asc', packages / 'SHA256SUMS'], env=env)
    run(['sha256sum', '-c', 'SHA256SUMS'], cwd=packages)
    sbom.check(facts, packages, work, work / 'build/CPackConfig.cmake')
    if not facts.windows:
        return
    root = work / 'unpacked'
    for zip_file in glob.glob(f'{packages}/*.zip'):
        unpack(zip_file, root)
    prefix = next(root.iterdir())
    for binary in ('VYKOSTRA.dll', 'pgrmsg-collapse.exe'):
        said = run(['osslsigncode', 'verify', '-CAfile', pki / 'cert.pem', '-in',
                    prefix / 'bin' / binary]).stdout
        if 'Signature verification: ok' not in said:
            fail(f'osslsigncode does not verify {binary}:\n{said}')
    if symbolizer():
        pdb_reads_export(facts, prefix / 'bin/VYKOSTRA.dll')
    try:
        done = runner.run(facts, [prefix / 'bin/pgrmsg-collapse.exe',
                                  facts.source / 'examples/sample.msg', work / 'sample.txt'])
    except Skip:
        return
    if b'result 0x00000000' not in done.stdout:
        fail(f'the signed tool and DLL gave:\n{(done.stdout + done.stderr).decode()}')


def packages_signed_killed(facts):
    """packages.signed.killed: packages.signed killed (SIGKILL, as a time
    limit kills) once its GnuPG agent runs leaves no agent and no home."""
    _signing_tools(facts)
    work = facts.tests / 'signed-killed'
    # Its compilers' temporary files, cut short, in a folder of the check's.
    scratch = facts.tests / 'signed-killed-tmp'
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir()
    test = subprocess.Popen([sys.executable, '-m', 'check', 'packages.signed', str(facts.path),
                             str(work)], stdout=subprocess.PIPE, text=True,
                            start_new_session=True, cwd=Path(__file__).parent.parent,
                            env=dict(os.environ, PYTHONDONTWRITEBYTECODE='1', TMPDIR=str(scratch)))
    try:
        _kill_signing(test)
    finally:  # the whole signed build, whatever happened here
        with contextlib.suppress(ProcessLookupError):
            os.killpg(test.pid, signal.SIGKILL)
        test.wait()
        shutil.rmtree(scratch, ignore_errors=True)


def _kill_signing(test):
    line = test.stdout.readline()
    home = line.split(': ', 1)[1].strip() if line.startswith('GnuPG home: ') else ''
    if not home:
        fail(f'packages.signed began with {line!r}, not its GnuPG home')

    def agents():
        found = []
        for entry in glob.glob('/proc/[0-9]*/cmdline'):
            try:
                words = Path(entry).read_bytes()
            except OSError:  # gone meanwhile
                continue
            if b'gpg-agent' in words and home.encode() in words:
                found.append(entry)
        return found
    for _ in range(600):
        if agents():
            break
        time.sleep(0.1)
    else:
        fail(f'no gpg-agent ran for {home} within a minute')
    os.killpg(test.pid, signal.SIGKILL)
    test.wait()
    for _ in range(100):
        if not agents() and not os.path.exists(home):
            print(f'killed with its agent running: {home} and its agent are gone')
            return
        time.sleep(0.1)
    fail(f'after packages.signed was killed: agents {agents()}, home there: {os.path.exists(home)}')
