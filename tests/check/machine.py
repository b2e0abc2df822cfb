# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Building and testing never harm the machine they run on: making the
i386 root (cmake/make-i386-root) with a stand-in for mmdebstrap that
mounts what the real one mounts, killed at its worst moment, twice at
once, over a folder it did not make and under a test that uses the root;
a fuzz run, which writes files as it goes."""
import glob
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

from .base import Skip, fail

# mmdebstrap ... SUITE TARGET SOURCES, as far as the script can tell: a
# root with Wine's loader, made after the mounts the real one makes (here
# a bind of a folder that is not the root's, as of the host's /dev/shm).
STAND_IN = '''#!/bin/sh
eval "target=\\${$(($# - 1))}"
mkdir -p "$target/usr/lib/wine" "$target/dev/shm" && printf '#!/bin/sh\\n' >"$target/usr/lib/wine/wine" &&
  chmod +x "$target/usr/lib/wine/wine" && echo made >>"$STAND_IN_LOG" || exit 1
case $STAND_IN in
hang) mount --bind "$PRECIOUS" "$target/dev/shm" && : >"$STAND_IN_READY" && exec sleep 600 ;;
slow) sleep 1 ;;
esac
'''


def i386_root_making(facts, inside=''):
    """i386-root.making: run in a mount namespace of its own, so that what
    it mounts goes with it."""
    if not inside:
        if os.geteuid() != 0 or subprocess.run(['unshare', '--mount', 'true']).returncode:
            raise Skip('making the i386 root is checked as root with mount namespaces, as CI '
                       'makes it')
        done = subprocess.run(['unshare', '--mount', '--propagation', 'private', '--',
                               sys.executable, '-m', 'check', 'i386-root.making', str(facts.path),
                               'inside'], cwd=Path(__file__).parent.parent)
        if done.returncode != 0:
            fail('making the i386 root harmed the machine or let itself be misused (above)')
        return
    work = facts.tests / 'i386-root-making'
    subprocess.run(['rm', '-rf', '--one-file-system', str(work)])
    (work / 'bin').mkdir(parents=True)
    (work / 'bin/mmdebstrap').write_text(STAND_IN)
    (work / 'bin/mmdebstrap').chmod(0o755)
    precious = work / 'precious'
    precious.mkdir()
    (precious / 'other-process-shm').write_text('not the root\'s')
    maker = facts.source / 'cmake/make-i386-root'

    def env(root, mode=''):
        return dict(os.environ, PATH=f"{work}/bin:{os.environ['PATH']}", VYKOSTRA_I386_ROOT=str(root),
                    VYKOSTRA_I386_MIRROR='http://mirror.invalid/debian',
                    STAND_IN=mode, STAND_IN_LOG=str(work / 'log'), PRECIOUS=str(precious),
                    STAND_IN_READY=str(work / 'ready'))

    def make(root, mode=''):
        return subprocess.run([maker], env=env(root, mode), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)

    def intact(when):
        if sorted(os.listdir(precious)) != ['other-process-shm']:
            fail(f'{when}: a folder mounted in the root was emptied: {os.listdir(precious)}')

    def mounts_under(folder):
        return [line.split()[4] for line in open('/proc/self/mountinfo')
                if line.split()[4].startswith(str(folder))]

    # Killed with the stand-in's mount made, then made again.
    root = work / 'killed/i386-root'
    root.parent.mkdir()
    maker_process = subprocess.Popen([maker], env=env(root, 'hang'), start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(300):
        if (work / 'ready').exists():
            break
        time.sleep(0.1)
    else:
        os.killpg(maker_process.pid, signal.SIGKILL)
        fail('the stand-in for mmdebstrap never mounted its folder')
    os.killpg(maker_process.pid, signal.SIGKILL)
    maker_process.wait()
    time.sleep(0.2)
    if mounts_under(root.parent):
        fail(f'a killed make-i386-root left mounts: {mounts_under(root.parent)}')
    again = make(root)
    intact('made again after a kill')
    if again.returncode != 0 or subprocess.run([maker, '--where'], env=env(root),
                                               stdout=subprocess.DEVNULL).returncode != 0:
        fail(f'made again after a kill: {again.stdout}')

    # A half-made root with a mount still in it (as an older maker left).
    root = work / 'stray/i386-root'
    (root.parent / 'i386-root.new/tree/dev/shm').mkdir(parents=True)
    (root.parent / 'i386-root.new/.made-by-make-i386-root').touch()
    subprocess.run(['mount', '--bind', precious, root.parent / 'i386-root.new/tree/dev/shm'],
                   check=True)
    stray = make(root)
    intact('a stray mount in the half-made root')
    if stray.returncode == 0 or 'mounted in it' not in stray.stdout:
        fail(f'a half-made root with a mount in it was not refused: {stray.stdout}')
    subprocess.run(['umount', root.parent / 'i386-root.new/tree/dev/shm'], check=True)

    # A folder the script did not make.
    foreign = work / 'foreign'
    foreign.mkdir()
    (foreign / 'my-own-chroot-file').touch()
    refused = make(foreign)
    if refused.returncode == 0 or 'not made by make-i386-root' not in refused.stdout or \
            os.listdir(foreign) != ['my-own-chroot-file']:
        fail(f'a folder it did not make was not refused: {refused.stdout} {os.listdir(foreign)}')

    # Two at once make one root; a root in use waits for its users.
    root = work / 'together/i386-root'
    root.parent.mkdir()
    (work / 'log').unlink()
    (root.parent / 'i386-root.lock').touch()
    user = subprocess.Popen(['flock', '-s', root.parent / 'i386-root.lock', 'sleep', '2'])
    time.sleep(0.3)
    started = time.monotonic()
    both = [subprocess.Popen([maker], env=env(root, 'slow'), stdout=subprocess.DEVNULL)
            for _ in range(2)]
    if any(p.wait() != 0 for p in both) or user.wait() != 0:
        fail('two makers at once did not both end well')
    if (work / 'log').read_text() != 'made\n':
        fail(f"two makers at once made the root {(work / 'log').read_text().count('made')} times")
    if time.monotonic() - started < 1.5:
        fail('the root was made again while a test held it')
    print('killed, stray mount, foreign folder, two at once, in use: the machine unharmed')


def fuzz_leaves_nothing(facts):
    """fuzz.leaves-nothing: the library's fuzz target, run on its seeds
    (each of which writes a file), leaves nothing in its temporary folder
    ($TMPDIR) nor, by its process's name, in /tmp (a target that ignored
    $TMPDIR)."""
    folder, corpus = facts.tests / 'fuzz-tmp', facts.tests / 'fuzz-tmp-corpus'
    for made in (folder, corpus):
        shutil.rmtree(made, ignore_errors=True)
        made.mkdir(parents=True)
    # (New inputs go to the first corpus folder: not the seeds.)
    fuzzer = subprocess.Popen([facts.target('collapse_fuzz'), '-runs=1000',
                               f'-artifact_prefix={facts.tests}/', corpus, facts.build / 'fuzz/seeds'],
                              env=dict(os.environ, TMPDIR=str(folder)), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True)
    try:
        said = fuzzer.communicate(timeout=120)[1]
    finally:
        fuzzer.kill()
        fuzzer.wait()
    shutil.rmtree(corpus)
    if fuzzer.returncode != 0:
        fail(f'the fuzz run exited {fuzzer.returncode}:\n{said[-2000:]}')
    left = [str(p) for p in folder.iterdir()] + glob.glob(f'/tmp/vykostra-fuzz.{fuzzer.pid}*')
    if left:
        fail(f'the fuzz run left {left}')
    print(f'{said.strip().splitlines()[-1]}; nothing left behind')
