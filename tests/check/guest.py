# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Commands run in a guest machine that QEMU emulates (TCG; KVM is not
asked for), where the host's kernel will not execute 32-bit programs, or on
the oldest CPU the 32-bit DLL must run on:

  amd64     the host's own root on Debian's amd64 kernel, 2 CPUs, 3 GiB
  pentium2  the i386 root (cmake/make-i386-root) on Debian's 686 kernel,
            on a Pentium II

cmake/make-guest makes each one's kernel and initramfs, whose init
(cmake/guest-init) runs this file as the agent.  The root is read-only
under a tmpfs overlay; the build folder is shared read-write at its own
path, so what a command writes lands where the host looks for it (and, in
the i386 root, the source folder, read-only).  The guest caches what it
has read of the shares for as long as it runs: after the host changes a
file the guest has seen (a rebuild), stop() it.

`python3 -m check.guest selftest BUILD_DIR [KIND]` tries it by hand.

One broker process per build folder and kind owns the QEMU process and
serves every client: run() starts it when none answers, binding its
abstract socket being what makes one starter win.  A client that goes away
has its command's process group killed in the guest; the broker stops the
guest when asked (stop()), after VYKOSTRA_GUEST_IDLE seconds (120) without
a client, and, by QEMU's parent-death signal, when it is killed itself.

Every message, both ways, is a frame: a type byte, a request number and a
length (little-endian 32-bit), then that many bytes.  A client sends one
RUN (or STOP) and gets OUT and ERR chunks, then EXIT with the status, or
FAIL with why the guest cannot run it.
"""
import hashlib
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import time

# Without SMAP: QEMU 7.2's TCG faults a user-mode IRET under it, and the
# guest's kernel oopses on every Wine program.
KINDS = {
    "amd64": ("qemu-system-x86_64", "-cpu", "max,smap=off", "-smp", "2", "-m", "3G"),
    "pentium2": ("qemu-system-i386", "-cpu", "pentium2", "-m", "2G"),
}
HEADER = struct.Struct("<cII")
RUN, OUT, ERR, EXIT, KILL, STOP, READY, FAIL = (bytes([c]) for c in b"ROEXKSYF")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOOT_TIMEOUT = 180


class GuestUnavailable(Exception):
    """The guest cannot run commands here: the message says why."""


def frame(kind, number, payload=b""):
    return HEADER.pack(kind, number, len(payload)) + payload


def frames(buffer):
    """Takes the whole frames off the front of BUFFER (a bytearray)."""
    while len(buffer) >= HEADER.size:
        kind, number, size = HEADER.unpack_from(buffer)
        if len(buffer) < HEADER.size + size:
            return
        payload = bytes(buffer[HEADER.size:HEADER.size + size])
        del buffer[:HEADER.size + size]
        yield kind, number, payload


# The client side.

def run(kind, build_dir, argv, cwd, env=None, wrap=None, timeout=None):
    """Runs ARGV in the KIND guest of BUILD_DIR, in CWD, with ENV (this
    process's environment if None), as `sh -c WRAP sh ARGV...` if WRAP is
    given; returns (status, stdout, stderr), the status as subprocess
    gives it (-N for signal N).  Raises GuestUnavailable, and
    subprocess.TimeoutExpired after TIMEOUT seconds (the command is then
    killed)."""
    env = os.environb if env is None else env
    fields = [os.fsencode(cwd), b"-" if wrap is None else b"w" + os.fsencode(wrap),
              b"%d" % len(argv), *map(os.fsencode, argv),
              *(os.fsencode(k) + b"=" + os.fsencode(v) for k, v in env.items())]
    out, err, buffer = [], [], bytearray()
    deadline = None if timeout is None else time.monotonic() + timeout
    with connect(kind, build_dir) as sock:
        sock.sendall(frame(RUN, 0, b"\0".join(fields)))
        while True:
            if deadline is not None:
                sock.settimeout(max(deadline - time.monotonic(), 0.001))
            try:
                data = sock.recv(1 << 16)
            except socket.timeout:
                raise subprocess.TimeoutExpired(argv, timeout, b"".join(out), b"".join(err))
            if not data:
                raise GuestUnavailable(f"the {kind} guest ended while running {argv[0]} "
                                       f"(see {log_path(kind, build_dir)})")
            buffer += data
            for type_, _, payload in frames(buffer):
                if type_ == EXIT:
                    return int(payload), b"".join(out), b"".join(err)
                if type_ == FAIL:
                    raise GuestUnavailable(payload.decode(errors="replace"))
                (out if type_ == OUT else err).append(payload)


def stop(kind, build_dir):
    """Stops the KIND guest of BUILD_DIR, if one runs, and returns once
    QEMU has ended."""
    sock = connect(kind, build_dir, start=False)
    if sock:
        with sock:
            sock.sendall(frame(STOP, 0))
            while sock.recv(1 << 16):
                pass


def address(kind, build_dir):
    # Abstract: nothing stays behind when the broker dies, and no path
    # length limit.
    key = hashlib.sha256(os.path.realpath(build_dir).encode(errors="surrogateescape"))
    return f"\0vykostra-guest-{kind}-{os.getuid()}-{key.hexdigest()[:24]}"


def log_path(kind, build_dir):
    return os.path.join(build_dir, f"guest-{kind}.log")


def connect(kind, build_dir, start=True):
    started = None
    while True:
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            sock.connect(address(kind, build_dir))
            return sock
        except OSError:
            sock.close()
        if not start:
            return None
        if started is None:
            qemu_command(kind, build_dir, 0)  # raises what keeps it from starting
            # setsid -f: the broker outlives this process, which need not
            # reap it.
            subprocess.run(["setsid", "-f", sys.executable, os.path.abspath(__file__),
                            "broker", kind, os.path.realpath(build_dir)],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True)
            started = time.monotonic()
        elif time.monotonic() - started > 30:
            raise GuestUnavailable(f"the {kind} guest's broker did not start "
                                   f"(see {log_path(kind, build_dir)})")
        time.sleep(0.05)


def qemu_command(kind, build_dir, agent_fd):
    import shutil
    qemu, *model = KINDS[kind]
    if not shutil.which(qemu):
        raise GuestUnavailable(f"{qemu} is not installed (Debian: qemu-system-x86)")

    def where(what, script, *args):
        result = subprocess.run([os.path.join(SOURCE, "cmake", script), "--where", *args],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if result.returncode != 0:
            raise GuestUnavailable(f"no complete {what} at {result.stdout.strip()}: make it "
                                   f"with {' '.join(['cmake/' + script, *args])}")
        return result.stdout.strip()

    guest = where(f"{kind} guest", "make-guest", kind)
    root, shares = "/", [("rw", os.path.realpath(build_dir))]
    if kind == "pentium2":
        root = where("i386 root", "make-i386-root")
        shares.append(("ro", SOURCE))
    shares.sort(key=lambda share: share[1])
    line = ["console=ttyS0", "quiet", "panic=-1", f"vyk_user={os.getuid()}:{os.getgid()}",
            f"vyk_agent={os.path.abspath(__file__)}"]
    virtfs = [("root", "ro", root)]
    for n, (mode, path) in enumerate(shares):
        line.append(f"vyk_s{n}={mode}:{path}")
        virtfs.append((f"s{n}", mode, path))
    if any(c in word for word in line for c in ' "\n'):
        raise GuestUnavailable(f"the guest's kernel command line cannot hold a blank or quote: {line}")
    command = [qemu, *model, "-accel", "tcg", "-machine", "pc", "-nodefaults", "-no-reboot",
               "-display", "none", "-nic", "none", "-serial", "stdio",
               "-kernel", f"{guest}/kernel", "-initrd", f"{guest}/initrd", "-append", " ".join(line),
               "-device", "virtio-serial-pci", "-chardev", f"socket,id=agent,fd={agent_fd}",
               "-device", "virtserialport,chardev=agent,name=vykostra"]
    for tag, mode, path in virtfs:
        command += ["-virtfs", f"local,path={path.replace(',', ',,')},mount_tag={tag},"
                    f"readonly={'on' if mode == 'ro' else 'off'},"
                    "security_model=passthrough,multidevs=remap"]
    return command


# The broker, on the host.

def broker(kind, build_dir):
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        listener.bind(address(kind, build_dir))
    except OSError:
        return  # another starter's broker serves
    listener.listen(64)
    os.chdir("/")  # keeps no folder busy
    log = os.open(log_path(kind, build_dir), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    os.dup2(log, 1)
    os.dup2(log, 2)
    idle = float(os.environ.get("VYKOSTRA_GUEST_IDLE", "120"))

    agent, qemu_end = socket.socketpair()
    failure = None
    try:
        import ctypes
        prctl = ctypes.CDLL(None, use_errno=True).prctl
        parent = os.getpid()

        def die_with_broker():
            prctl(1, 9)  # PR_SET_PDEATHSIG, SIGKILL
            if os.getppid() != parent:
                os._exit(1)

        started = time.monotonic()
        qemu = subprocess.Popen(qemu_command(kind, build_dir, qemu_end.fileno()),
                                stdin=subprocess.DEVNULL, pass_fds=[qemu_end.fileno()],
                                preexec_fn=die_with_broker)
    except (GuestUnavailable, OSError) as error:
        failure, qemu = str(error), None
    qemu_end.close()

    ready = False
    clients = {}  # socket: (its request numbers, what it sent so far)
    waiting = {}  # request number: its client's socket
    queue = []    # (number, RUN frame) until the agent is ready
    last = time.monotonic()
    counter = 0
    from_agent = bytearray()

    def fail(reason):
        nonlocal failure
        failure = failure or reason
        for number in list(waiting):
            finish(number, frame(FAIL, number, failure.encode()))

    def finish(number, last_frame):
        client = waiting.pop(number)
        send(client, last_frame)
        drop(client)

    def send(client, data):
        try:
            client.sendall(data)
        except OSError:
            drop(client)

    def drop(client):
        for number in clients.pop(client, ((),))[0]:
            if waiting.pop(number, None) is not None and ready and failure is None:
                to_agent(frame(KILL, number))
        client.close()

    def to_agent(data):
        try:
            agent.sendall(data)
        except OSError:
            pass  # QEMU has ended: its socket's end says so next

    def tail():
        with open(log_path(kind, build_dir), "rb") as f:
            lines = f.read()[-4096:].decode(errors="replace").splitlines()
        return " | ".join(line.strip() for line in lines[-3:] if line.strip())

    def shut_down():
        if qemu and qemu.poll() is None:
            if ready:
                to_agent(frame(STOP, 0))
                agent.settimeout(20)
                try:
                    while agent.recv(1 << 16):
                        pass
                except OSError:
                    pass
            qemu.kill()
            qemu.wait()

    stopper = None
    while stopper is None:
        readable = [listener, *clients] + ([agent] if qemu and failure is None else [])
        for sock in select.select(readable, [], [], 1.0)[0]:
            if sock is listener:
                client, _ = listener.accept()
                uid = struct.unpack("3i", client.getsockopt(
                    socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[1]
                if uid in (0, os.getuid()):
                    clients[client] = (set(), bytearray())
                else:
                    client.close()
                continue
            if sock not in clients and sock is not agent:
                continue  # dropped while this round was handled
            try:
                data = sock.recv(1 << 16)
            except OSError:
                data = b""
            if sock is agent and not data:
                fail(f"the {kind} guest ended (QEMU's status {qemu.wait()}): {tail()}")
            elif sock is agent:
                from_agent += data
                for type_, number, payload in frames(from_agent):
                    if type_ == READY:
                        ready = True
                        print(f"broker: agent ready after {time.monotonic() - started:.1f} s "
                              f"({payload.decode()})", flush=True)
                        for number, run_frame in queue:
                            if number in waiting:
                                to_agent(run_frame)
                        queue = []
                    elif type_ == EXIT and number in waiting:
                        finish(number, frame(EXIT, 0, payload))
                    elif number in waiting:
                        send(waiting[number], frame(type_, 0, payload))
            elif not data:
                drop(sock)
            else:
                numbers, buffer = clients[sock]
                buffer += data
                for type_, _, payload in frames(buffer):
                    if type_ == STOP:
                        stopper = sock
                    elif failure is not None:
                        send(sock, frame(FAIL, 0, failure.encode()))
                        drop(sock)
                    else:
                        counter += 1
                        numbers.add(counter)
                        waiting[counter] = sock
                        if ready:
                            to_agent(frame(RUN, counter, payload))
                        else:
                            queue.append((counter, frame(RUN, counter, payload)))
        now = time.monotonic()
        if clients:
            last = now
        elif now - last > idle:
            break
        if qemu and not ready and failure is None and now - started > BOOT_TIMEOUT:
            qemu.kill()
            fail(f"the {kind} guest's agent did not start in {BOOT_TIMEOUT} s: {tail()}")
    listener.close()  # a client from now on starts another guest
    shut_down()
    for client in list(clients):
        if client is not stopper:
            for number in clients[client][0]:
                waiting.pop(number, None)
            send(client, frame(FAIL, 0, f"the {kind} guest was stopped".encode()))
            drop(client)
    print("broker: stopped", "on request" if stopper else "when idle", flush=True)
    if stopper:
        stopper.close()


# The agent, in the guest.

def agent():
    uid, gid = map(int, os.environ.get("vyk_user", "0:0").split(":"))
    ports = "/sys/class/virtio-ports"
    port = next(name for name in os.listdir(ports)
                if open(f"{ports}/{name}/name").read().strip() == "vykostra")
    fd = os.open(f"/dev/{port}", os.O_RDWR)
    null = os.open(os.devnull, os.O_RDONLY)
    wake_r, wake_w = os.pipe()
    os.set_blocking(wake_w, False)
    signal.set_wakeup_fd(wake_w)
    signal.signal(signal.SIGCHLD, lambda *_: None)
    poll = select.poll()
    poll.register(fd, select.POLLIN)
    poll.register(wake_r, select.POLLIN)
    jobs = {}   # request number: [pid, status or None, its open pipes]
    pipes = {}  # pipe: (request number, OUT or ERR)
    buffer = bytearray()

    def send(*args):
        data = frame(*args)
        while data:
            data = data[os.write(fd, data):]

    def done(number):
        _, status, open_pipes = jobs[number]
        if status is not None and not open_pipes:
            os.sync()  # the shares cache what is written: the host reads it next
            send(EXIT, number, b"%d" % status)
            del jobs[number]

    def start(number, payload):
        cwd, wrap, count, *rest = payload.split(b"\0")
        argv, env = rest[:int(count)], rest[int(count):]
        if wrap != b"-":
            argv = [b"/bin/sh", b"-c", wrap[1:], b"sh", *argv]
        env = dict(item.split(b"=", 1) for item in env)
        out_r, out_w = os.pipe()
        err_r, err_w = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.setpgid(0, 0)
                signal.signal(signal.SIGPIPE, signal.SIG_DFL)
                os.dup2(null, 0)
                os.dup2(out_w, 1)
                os.dup2(err_w, 2)
                if uid:
                    os.setgroups([])
                    os.setgid(gid)
                    os.setuid(uid)
                os.chdir(cwd)
                os.execvpe(argv[0], argv, env)
            except BaseException as error:
                os.write(2, b"guest: cannot run %s: %s\n" % (argv[0], str(error).encode()))
            os._exit(127)
        try:
            os.setpgid(pid, pid)  # as the child does: a KILL may come first
        except OSError:
            pass  # it has run its program, in its own group
        os.close(out_w)
        os.close(err_w)
        jobs[number] = [pid, None, {out_r, err_r}]
        for pipe, type_ in ((out_r, OUT), (err_r, ERR)):
            pipes[pipe] = (number, type_)
            poll.register(pipe, select.POLLIN)

    send(READY, 0, os.uname().release.encode())
    while True:
        for ready_fd, _ in poll.poll():
            if ready_fd == wake_r:
                os.read(wake_r, 4096)
                while True:
                    try:
                        pid, status = os.waitpid(-1, os.WNOHANG)
                    except ChildProcessError:
                        break
                    if pid == 0:
                        break
                    for number, job in list(jobs.items()):
                        if job[0] == pid:
                            job[1] = os.waitstatus_to_exitcode(status)
                            done(number)
            elif ready_fd == fd:
                data = os.read(fd, 1 << 16)
                if not data:
                    return
                buffer += data
                for type_, number, payload in frames(buffer):
                    if type_ == RUN:
                        start(number, payload)
                    elif type_ in (KILL, STOP):
                        for job_number, job in jobs.items():
                            if type_ == STOP or job_number == number:
                                try:
                                    os.killpg(job[0], signal.SIGKILL)
                                except ProcessLookupError:
                                    pass
                        if type_ == STOP:
                            return
            else:
                number, type_ = pipes[ready_fd]
                data = os.read(ready_fd, 1 << 16)
                if data:
                    send(type_, number, data)
                else:
                    poll.unregister(ready_fd)
                    os.close(ready_fd)
                    del pipes[ready_fd]
                    jobs[number][2].discard(ready_fd)
                    done(number)


def selftest(build_dir, kind="amd64"):
    """Boots the KIND guest of BUILD_DIR and tries each way a request can
    go, with timings; exit status 0 if all went as expected, 77 if the
    guest cannot run here."""
    import threading
    failed = 0

    def check(what, got, want, started):
        nonlocal failed
        failed += got != want
        print(f"{'ok' if got == want else 'FAILED'} {time.monotonic() - started:6.2f} s  {what}"
              + ("" if got == want else f": {got!r}, expected {want!r}"), flush=True)

    def guest(argv, **options):
        return run(kind, build_dir, argv, options.pop("cwd", build_dir), **options)

    stop(kind, build_dir)
    started = time.monotonic()
    try:
        check("boot, echo", guest(["echo", "hello"]), (0, b"hello\n", b""), started)
    except GuestUnavailable as error:
        print(f"skipped: {error}")
        return 77
    started = time.monotonic()
    check("exit 3", guest(["sh", "-c", "exit 3"]), (3, b"", b""), started)
    started = time.monotonic()
    check("killed by SIGKILL", guest(["sh", "-c", "kill -9 $$"]), (-9, b"", b""), started)
    started = time.monotonic()
    check("bytes, stdout and stderr apart",
          guest(["sh", "-c", r"printf '\000\377\r\n'; printf 'e\000\200' >&2"]),
          (0, b"\0\377\r\n", b"e\0\200"), started)
    started = time.monotonic()
    check("cwd, environment, wrap",
          guest(["sh", "-c", 'echo "$PWD $X" >&2'], cwd="/", env={"X": "\xe9\udcff"},
                wrap='exec "$@" 2>&1'), (0, b"/ \xc3\xa9\xff\n", b""), started)
    started = time.monotonic()
    check("SIGPIPE as on the host", guest(["sh", "-c", "yes | head -n 1"]), (0, b"y\n", b""), started)
    started = time.monotonic()
    written = os.path.join(build_dir, "guest-selftest.txt")
    guest(["sh", "-c", f"echo written > {written}"])
    with open(written, "rb") as f:
        check("a file the guest wrote, on the host at once", f.read(), b"written\n", started)
    os.remove(written)
    started = time.monotonic()
    check("no such program", guest(["no-such-program"])[0], 127, started)
    started = time.monotonic()
    check("seq 300000, as on the host", guest(["seq", "300000"]),
          (0, subprocess.run(["seq", "300000"], stdout=subprocess.PIPE).stdout, b""), started)
    started = time.monotonic()
    results = [None, None]

    def sleeper(n):
        results[n] = guest(["sh", "-c", f"sleep 2; echo {n}"])

    threads = [threading.Thread(target=sleeper, args=(n,)) for n in (0, 1)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    check("two at once, 2 s each, in under 3.5 s",
          (results, time.monotonic() - started < 3.5),
          ([(0, b"0\n", b""), (0, b"1\n", b"")], True), started)
    started = time.monotonic()
    try:
        guest(["sh", "-c", "echo $$ >/tmp/selftest.pid; exec sleep 60"], timeout=2)
    except subprocess.TimeoutExpired:
        pass
    check("a client gone (timeout 2 s), its command killed",
          guest(["sh", "-c", "sleep 0.5; kill -0 $(cat /tmp/selftest.pid) 2>/dev/null || echo gone"])[1],
          b"gone\n", started)
    started = time.monotonic()
    stop(kind, build_dir)
    check("stopped", connect(kind, build_dir, start=False), None, started)
    return 1 if failed else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["selftest"]:
        sys.exit(selftest(*sys.argv[2:]))
    elif sys.argv[1:2] == ["agent"]:
        agent()
    elif sys.argv[1:2] == ["broker"]:
        broker(sys.argv[2], sys.argv[3])
