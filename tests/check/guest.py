# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""Commands run in a guest machine QEMU emulates (TCG), where the host's
kernel will not execute 32-bit programs ("amd64": the host's own root on
Debian's amd64 kernel), or on the oldest CPU the 32-bit DLL must run on
("pentium2": the i386 root on Debian's 686 kernel).  cmake/make-guest makes
their kernels; their init, cmake/guest-init, runs this file as the agent.
The guest sees the build folder at its own path and caches what it has read
of it while it runs: after a rebuild, stop() it.

One broker process a build folder and kind owns QEMU and serves every
client.  A client gone has its command's process group killed; the guest
stops on stop(), after VYKOSTRA_GUEST_IDLE seconds (120) without a client,
and with its broker.  A message is a type byte, a request number and a
length (little-endian 32-bit), then that many bytes: a client sends one RUN
(or STOP) and gets OUT and ERR chunks, then EXIT with the status, or FAIL.
"""
import contextlib
import hashlib
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import threading
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


def run(kind, build_dir, argv, cwd, env=None, wrap=None, timeout=None):
    """Runs ARGV (as `sh -c WRAP sh ARGV...` if WRAP is given) in the KIND
    guest of BUILD_DIR, in CWD, with ENV (else this process's); returns
    (status, stdout, stderr), the status -N for signal N.  Raises
    GuestUnavailable, or subprocess.TimeoutExpired, the command killed."""
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
    """Stops the KIND guest of BUILD_DIR, if one runs, and waits for QEMU to end."""
    sock = connect(kind, build_dir, start=False)
    if sock:
        with sock:
            sock.sendall(frame(STOP, 0))
            while sock.recv(1 << 16):
                pass


def log_path(kind, build_dir):
    return os.path.join(build_dir, f"guest-{kind}.log")


def address(kind, build_dir):
    # Abstract: nothing stays behind when the broker dies, binding it is
    # what makes one starter's broker win, and no path length limit.
    key = hashlib.sha256(os.path.realpath(build_dir).encode(errors="surrogateescape"))
    return f"\0vykostra-guest-{kind}-{os.getuid()}-{key.hexdigest()[:24]}"


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
            # setsid -f: the broker outlives this process, which need not reap it.
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
    # Imported here, as ctypes in broker(): the i386 root's minimal Python,
    # which runs the agent, has neither.
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
        # Not made again while this guest boots on it (its makers wait).
        import fcntl
        global _root_lock
        _root_lock = os.open(root + ".lock", os.O_RDONLY | os.O_CREAT, 0o644)
        fcntl.flock(_root_lock, fcntl.LOCK_SH)
        shares.append(("ro", SOURCE))
    shares.sort(key=lambda share: share[1])  # the init mounts a folder before those in it
    line = ["console=ttyS0", "quiet", "panic=-1", f"vyk_user={os.getuid()}:{os.getgid()}",
            f"vyk_agent={os.path.abspath(__file__)}",
            *(f"vyk_s{n}={mode}:{path}" for n, (mode, path) in enumerate(shares))]
    if any(c in word for word in line for c in ' "\n'):
        raise GuestUnavailable(f"the guest's kernel command line cannot hold a blank or quote: {line}")
    command = [qemu, *model, "-accel", "tcg", "-machine", "pc", "-nodefaults", "-no-reboot",
               "-display", "none", "-nic", "none", "-serial", "stdio",
               "-kernel", f"{guest}/kernel", "-initrd", f"{guest}/initrd", "-append", " ".join(line),
               "-device", "virtio-serial-pci", "-chardev", f"socket,id=agent,fd={agent_fd}",
               "-device", "virtserialport,chardev=agent,name=vykostra"]
    for tag, mode, path in [("root", "ro", root), *((f"s{n}", *s) for n, s in enumerate(shares))]:
        command += ["-virtfs", f"local,path={path.replace(',', ',,')},mount_tag={tag},"
                    f"readonly={'on' if mode == 'ro' else 'off'},"
                    "security_model=passthrough,multidevs=remap"]
    return command


def broker(kind, build_dir):
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        listener.bind(address(kind, build_dir))
    except OSError:
        return  # another starter's broker serves
    listener.listen(64)
    os.chdir("/")  # keeps no folder busy
    log = os.open(log_path(kind, build_dir), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    for fd in 1, 2:
        os.dup2(log, fd)
    idle = float(os.environ.get("VYKOSTRA_GUEST_IDLE", "120"))
    import ctypes
    prctl, parent = ctypes.CDLL(None, use_errno=True).prctl, os.getpid()

    def die_with_broker():  # PR_SET_PDEATHSIG, SIGKILL: QEMU never outlives its broker
        prctl(1, 9)
        if os.getppid() != parent:
            os._exit(1)

    agent, qemu_end = socket.socketpair()
    failure, ready, started = None, False, time.monotonic()
    try:
        qemu = subprocess.Popen(qemu_command(kind, build_dir, qemu_end.fileno()),
                                stdin=subprocess.DEVNULL, pass_fds=[qemu_end.fileno()],
                                preexec_fn=die_with_broker)
    except (GuestUnavailable, OSError) as error:
        failure, qemu = str(error), None
    qemu_end.close()
    clients = {}  # socket: (its request numbers, what it sent so far)
    waiting = {}  # request number: (its client's socket, its RUN's payload)
    last, counter, from_agent, stopper = time.monotonic(), 0, bytearray(), None

    def send(sock, *args):
        try:
            sock.sendall(frame(*args))
        except OSError:
            if sock is not agent:  # else QEMU has ended, as its socket says next
                drop(sock)

    def drop(client):
        for number in clients.pop(client, ((),))[0]:
            if waiting.pop(number, None) is not None and ready and failure is None:
                send(agent, KILL, number)
        client.close()

    def finish(number, *args):
        client = waiting.pop(number)[0]
        send(client, *args)
        drop(client)

    def fail(reason):  # with the end of QEMU's output
        nonlocal failure
        with open(log_path(kind, build_dir), "rb") as f:
            lines = f.read()[-4096:].decode(errors="replace").splitlines()
        failure = failure or f"{reason}: " + " | ".join(filter(None, map(str.strip, lines[-3:])))
        for number in list(waiting):
            finish(number, FAIL, number, failure.encode())

    while stopper is None:
        readable = [listener, *clients] + ([agent] if qemu and failure is None else [])
        for sock in select.select(readable, [], [], 1.0)[0]:
            if sock is listener:
                client = listener.accept()[0]
                credentials = client.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12)
                if struct.unpack("3i", credentials)[1] in (0, os.getuid()):
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
                fail(f"the {kind} guest ended (QEMU's status {qemu.wait()})")
            elif sock is agent:
                from_agent += data
                for type_, number, payload in frames(from_agent):
                    if type_ == READY:
                        ready = True
                        print(f"broker: agent ready after {time.monotonic() - started:.1f} s "
                              f"({payload.decode()})", flush=True)
                        for number, (_, payload) in waiting.items():
                            send(agent, RUN, number, payload)
                    elif type_ == EXIT and number in waiting:
                        finish(number, EXIT, 0, payload)
                    elif number in waiting:
                        send(waiting[number][0], type_, 0, payload)
            elif not data:
                drop(sock)
            else:
                numbers, buffer = clients[sock]
                buffer += data
                for type_, _, payload in frames(buffer):
                    if type_ == STOP:
                        stopper = sock
                    elif failure is not None:
                        send(sock, FAIL, 0, failure.encode())
                        drop(sock)
                    else:
                        counter += 1
                        numbers.add(counter)
                        waiting[counter] = (sock, payload)
                        if ready:
                            send(agent, RUN, counter, payload)
        now = time.monotonic()
        last = now if clients else last
        if now - last > idle:
            break
        if qemu and not ready and failure is None and now - started > BOOT_TIMEOUT:
            qemu.kill()
            fail(f"the {kind} guest's agent did not start in {BOOT_TIMEOUT} s")
    listener.close()  # a client from now on starts another guest
    if qemu:
        if ready and qemu.poll() is None:
            send(agent, STOP, 0)
            with contextlib.suppress(subprocess.TimeoutExpired):
                qemu.wait(20)
        qemu.kill()
        qemu.wait()
    print("broker: stopped", "on request" if stopper else "when idle", flush=True)
    for client in list(clients):  # the stopper last: stop() returns when it closes
        if client is not stopper:
            send(client, FAIL, 0, f"the {kind} guest was stopped".encode())
            drop(client)
    if stopper:
        stopper.close()


def agent():
    uid, gid = map(int, os.environ.get("vyk_user", "0:0").split(":"))
    ports = "/sys/class/virtio-ports"
    port = next(name for name in os.listdir(ports)
                if open(f"{ports}/{name}/name").read().strip() == "vykostra")
    fd = os.open(f"/dev/{port}", os.O_RDWR)
    jobs, lock, buffer = {}, threading.Lock(), bytearray()  # jobs: request number: process

    def send(*args):
        data = frame(*args)
        with lock:
            while data:
                data = data[os.write(fd, data):]

    def pump(number, type_, pipe):
        while data := pipe.read(1 << 16):
            send(type_, number, data)

    def finish(number, process):
        with process:  # closes its pipes, and waits for it
            errors = threading.Thread(target=pump, args=(number, ERR, process.stderr), daemon=True)
            errors.start()
            pump(number, OUT, process.stdout)
            errors.join()
        os.sync()  # the shares cache what is written: the host reads it next
        send(EXIT, number, b"%d" % process.returncode)
        del jobs[number]

    send(READY, 0, os.uname().release.encode())
    while data := os.read(fd, 1 << 16):
        buffer += data
        for type_, number, payload in frames(buffer):
            if type_ == RUN:
                cwd, wrap, count, *rest = payload.split(b"\0")
                argv, env = rest[:int(count)], rest[int(count):]
                if wrap != b"-":
                    argv = [b"/bin/sh", b"-c", wrap[1:], b"sh", *argv]
                try:  # in a process group of its own, for KILL; SIGPIPE as on the host
                    jobs[number] = subprocess.Popen(
                        argv, cwd=cwd, env=dict(item.split(b"=", 1) for item in env), bufsize=0,
                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                        preexec_fn=os.setpgrp, user=uid or None, group=gid if uid else None,
                        extra_groups=[] if uid else None)
                except Exception as error:
                    send(ERR, number, b"guest: cannot run %s: %s\n" % (argv[0], str(error).encode()))
                    send(EXIT, number, b"127")
                    continue
                threading.Thread(target=finish, args=(number, jobs[number]), daemon=True).start()
            for job_number, process in list(jobs.items()):
                if type_ == STOP or type_ == KILL and job_number == number:
                    with contextlib.suppress(ProcessLookupError):
                        os.killpg(process.pid, signal.SIGKILL)
            if type_ == STOP:
                return


if __name__ == "__main__":
    if sys.argv[1:2] == ["agent"]:
        agent()
    elif sys.argv[1:2] == ["broker"]:
        broker(sys.argv[2], sys.argv[3])
