#!/usr/bin/env python3
"""The Linux mosslane as a user meets it: settings file and options, the
one-shot send and receive commands between two real processes on a pty pair,
names on the wire, progress at a terminal and in a pipe, the run log, and the
errors of real devices.

    tests/e2e/mosslane_tool_test.py path/to/mosslane
"""
import fcntl
import hashlib
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

RUN_DEADLINE_S = 60


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class PtyPair:
    """A virtual null-modem cable: two ptys joined by socat."""

    def __init__(self, work):
        self.folder = tempfile.mkdtemp(prefix="pty.", dir=work)

    def __enter__(self):
        a, b = os.path.join(self.folder, "ttyA"), os.path.join(self.folder, "ttyB")
        self.process = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={a}", f"pty,raw,echo=0,link={b}"],
            stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (os.path.exists(a) and os.path.exists(b)):
            check(time.monotonic() < deadline and self.process.poll() is None, "socat made no ptys")
            time.sleep(0.05)
        self.a, self.b = os.path.realpath(a), os.path.realpath(b)
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()


class Tool:
    """Runs mosslane with a settings folder of its own."""

    def __init__(self, binary, work):
        self.binary = binary
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "xdg"), HOME=work,
                        TMPDIR=work)

    def run(self, *args, timeout=RUN_DEADLINE_S, **kw):
        return subprocess.run([self.binary, *args], capture_output=True, timeout=timeout,
                              env=self.env, **kw)

    def start(self, *args, stdout=subprocess.PIPE):
        # No terminal on standard input: a hangup then reopens the log.
        return subprocess.Popen([self.binary, *args], stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=subprocess.PIPE, env=self.env)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def tree(root):
    """relative path (bytes) -> (content digest, mtime) of every file below root."""
    found = {}
    root = os.fsencode(root)
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            found[os.path.relpath(path, root)] = (digest, os.stat(path).st_mtime_ns)
    return found


def contents(root):
    return {k: v[0] for k, v in tree(root).items()}


def finish(process, timeout=RUN_DEADLINE_S):
    out, err = process.communicate(timeout=timeout)
    return process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


# ------------------------------------------------------------------ settings

def test_settings(tool, work):
    """The settings file under XDG_CONFIG_HOME, options over it, --show-settings
    naming where each value came from, a bad entry reported with its line."""
    folder = os.path.join(work, "settings")
    os.makedirs(folder)
    config = os.path.join(work, "xdg", "mosslane", "config")
    write(config, (f"# for the lab PC\nin = {folder}\n\nbaud = 19200\n"
                   "text-extensions = .txt .ini\nline-ends = lf\n").encode())
    run = tool.run("--show-settings", "--baud", "115200", "--device=/dev/ttyUSB7")
    shown = run.stdout.decode()
    check(run.returncode == 0, f"--show-settings exited {run.returncode}: {run.stderr!r}")
    expected = [
        (rf"^# settings file: {re.escape(config)}$", "the file read"),
        (rf"^in = {re.escape(folder)} +# settings file line 2$", "a value from the file"),
        (r"^baud = 115200 +# option --baud$", "an option over the file"),
        (r"^device = /dev/ttyUSB7 +# option --device$", "--key=value"),
        (r"^text-extensions = \.txt \.ini +# settings file line 5$", "a value with spaces"),
        (r"^line-ends = lf +# settings file line 6$", "line ends"),
        (r"^handshake = cts +# default$", "a default"),
        (r"^out = +# not set$", "a value with no default"),
    ]
    for pattern, what in expected:
        check(re.search(pattern, shown, re.M), f"--show-settings, {what}: {shown}")

    other = os.path.join(work, "other.conf")
    write(other, b"device = /dev/ttyS0\n")
    run = tool.run("--config", other, "--show-settings")
    check(b"device = /dev/ttyS0" in run.stdout and b"baud = 57600" in run.stdout,
          f"--config FILE replaces the usual file: {run.stdout!r}")

    bad_lines = [
        (b"in = /tmp\nbaud = 9600\n", 2, "baud must be one of"),
        (b"colour = blue\n", 1, 'unknown setting "colour"'),
        (b"# fine\n\nhandshake\n", 3, "expected KEY = VALUE"),
        (b"wire-names = latin1\n", 1, "wire-names must be one of"),
    ]
    for text, line, reason in bad_lines:
        write(config, text)
        run = tool.run("receive", "--device", "/dev/null")
        err = run.stderr.decode()
        check(run.returncode == 2 and f"{config}:{line}: {reason}" in err,
              f"bad line {text!r}: exit {run.returncode}, {err!r}")
    os.remove(config)
    run = tool.run("--config", os.path.join(work, "missing.conf"), "--show-settings")
    check(run.returncode == 2 and b"missing.conf" in run.stderr, "a named file that is missing")
    run = tool.run("receive", "--in", folder, "--baud", "9600", "--device", "/dev/null")
    check(run.returncode == 2 and b"usage:" in run.stderr, "a bad option value")
    run = tool.run("receive", "--in", folder)
    check(run.returncode == 2 and b"--device is required" in run.stderr, "no device anywhere")
    for args in (["--version"], ["--help"]):
        run = tool.run(*args)
        check(run.returncode == 0 and run.stdout, f"{args} answers on stdout")
    print("ok settings")


# ------------------------------------------------------------ send, receive

def sample_tree(root):
    files = {
        "project/readme.txt": b"first\nsecond\n",
        "project/src/main.c": b"int main(void) { return 0; }\n",
        "project/data/empty.bin": b"",
        "project/data/noise.bin": os.urandom(200 * 1024),
        "project/deep/er/still.txt": b"deep\n",
        "notes.txt": b"one line\n",
    }
    for rel, data in files.items():
        write(os.path.join(root, rel), data)
    return [os.path.join(root, "project"), os.path.join(root, "notes.txt")]


def test_send_receive(tool, work):
    """A folder tree and a file go over in one batch with one command on each
    side; the originals stay as they were; both sides exit 0."""
    src = os.path.join(work, "send-src")
    incoming = os.path.join(work, "send-in")
    os.makedirs(incoming)
    paths = sample_tree(src)
    before = tree(src)
    with PtyPair(work) as pty:
        receiver = tool.start("receive", "--in", incoming, "--device", pty.b, "--timeout", "30",
                              "--line-ends", "lf")
        time.sleep(0.3)
        run = tool.run("send", "--device", pty.a, *paths)
        code, out, err = finish(receiver)
    check(run.returncode == 0, f"send exited {run.returncode}: {run.stderr!r}")
    check(code == 0, f"receive exited {code}: {err!r}")
    check(tree(src) == before, "the originals were changed")
    check(contents(incoming) == contents(src), "the tree did not arrive intact")
    check(not [n for n in os.listdir(work) if n.startswith("mosslane-send.")],
          "a staging folder was left behind")
    print("ok send and receive a tree")


def test_cancel_and_silence(tool, work):
    """A batch cancelled part-way fails on both sides with its own exit code and
    leaves no partial file; a peer that never answers is a third code."""
    src = os.path.join(work, "cancel-src")
    incoming = os.path.join(work, "cancel-in")
    os.makedirs(incoming)
    write(os.path.join(src, "big.bin"), os.urandom(16 * 1024 * 1024))
    before = tree(src)
    with PtyPair(work) as pty:
        receiver = tool.start("receive", "--in", incoming, "--device", pty.b, "--timeout", "30")
        time.sleep(0.3)
        sender = tool.start("send", "--device", pty.a, os.path.join(src, "big.bin"))
        deadline = time.monotonic() + 20
        line = b""
        while b"counters" not in line:
            check(time.monotonic() < deadline, "the batch never started")
            line = sender.stdout.readline()
        sender.send_signal(signal.SIGINT)
        send_code, out, err = finish(sender)
        receive_code, _, _ = finish(receiver)
        check(send_code == 3, f"cancelled send exited {send_code}: {err}")
        check("not sent: big.bin" in err, f"the file that did not arrive is named: {err!r}")
        check(receive_code == 3, f"receive of a cancelled batch exited {receive_code}")
        check(os.listdir(incoming) == [], f"a partial file was kept: {os.listdir(incoming)}")
        check(tree(src) == before, "the original was changed by a cancelled send")

        started = time.monotonic()
        run = tool.run("send", "--device", pty.a, "--timeout", "2", os.path.join(src, "big.bin"))
        check(run.returncode == 4 and b"did not answer" in run.stderr,
              f"send to a silent peer: exit {run.returncode}, {run.stderr!r}")
        check(time.monotonic() - started < 10, "send to a silent peer took too long")
        run = tool.run("receive", "--in", incoming, "--device", pty.b, "--timeout", "1")
        check(run.returncode == 4, f"receive with nothing offered: exit {run.returncode}")
    check(tree(src) == before, "the original was changed by a failed send")
    print("ok cancelled batch and silent peer")


# -------------------------------------------------------------------- names

NAMES = {"café.txt": b"caf\xe9.txt", "Ölpreis 2026.csv": b"\xd6lpreis 2026.csv",
         "€ und “Zitat”.txt": b"\x80 und \x93Zitat\x94.txt", "日本.txt": b"__.txt"}


def test_names(tool, work):
    """UTF-8 names travel in code page 1252 and are stored as UTF-8 again; a
    character with no code page form becomes '_' and the sender says so."""
    src = os.path.join(work, "names-src")
    for name in NAMES:
        write(os.path.join(src, "Ordner é", name), name.encode())
    with PtyPair(work) as pty:
        for mode, expected in (
                ("cp1252", {os.fsencode(os.path.join("Ordner é", n if "日" not in n else "__.txt"))
                            for n in NAMES}),
                # A receiver that keeps the bytes shows what was on the wire.
                ("bytes", {b"Ordner \xe9/" + w for w in NAMES.values()})):
            incoming = os.path.join(work, f"names-in-{mode}")
            os.makedirs(incoming)
            receiver = tool.start("receive", "--in", incoming, "--device", pty.b, "--timeout", "30",
                                  "--wire-names", mode)
            time.sleep(0.3)
            run = tool.run("send", "--device", pty.a, os.path.join(src, "Ordner é"))
            code, out, _ = finish(receiver)
            check(run.returncode == 0 and code == 0, f"{mode}: send {run.returncode}, receive {code}")
            got = set(tree(incoming))
            check(got == expected, f"{mode}: stored {sorted(got)}, expected {sorted(expected)}")
            sent = run.stdout.decode()
            check("renamed Ordner é\\日本.txt as Ordner é\\__.txt" in sent,
                  f"the sender did not say it renamed: {sent}")
    print("ok names")


# ----------------------------------------------------------------- progress

EVENT_LINE = re.compile(r"^(ready|opening|idle|renamed .+ as .+|(sending|receiving) .+ size \d+|"
                        r"counters left \d+ errors \d+ total \d+|finished files \d+ total \d+)$")


def test_progress(tool, work):
    """At a terminal a status line with the file and percent, redrawn in place,
    and a summary per file and batch; in a pipe only the event lines."""
    src = os.path.join(work, "progress-src")
    write(os.path.join(src, "report.bin"), os.urandom(3 * 1024 * 1024))
    incoming = os.path.join(work, "progress-in")
    os.makedirs(incoming)
    typescript = os.path.join(work, "send.typescript")
    with PtyPair(work) as pty:
        receiver = tool.start("receive", "--in", incoming, "--device", pty.b, "--timeout", "30")
        time.sleep(0.3)
        command = f"{tool.binary} send --device {pty.a} {os.path.join(src, 'report.bin')}"
        run = subprocess.run(["script", "-qfec", command, typescript], capture_output=True,
                             timeout=RUN_DEADLINE_S, env=tool.env)
        code, out, _ = finish(receiver)
    check(run.returncode == 0 and code == 0, f"send {run.returncode}, receive {code}")
    screen = open(typescript, "rb").read().decode("utf-8", "replace")
    redraws = re.findall(r"\r\x1b\[KSending report\.bin +(\d+)%  [\d.]+ \w+ of 3\.0 MiB", screen)
    check(len(redraws) >= 2, f"no status line redrawn with file and percent: {screen[-800:]!r}")
    check(len(set(redraws)) >= 2, f"the percent did not move: {redraws}")
    check(re.search(r"sent +report\.bin +3\.0 MiB in \d+:\d\d", screen), "no summary of the file")
    check(re.search(r"Finished: 1 file, 3\.0 MiB in", screen), "no summary of the batch")
    lines = out.splitlines()
    check(lines and all(EVENT_LINE.match(l) for l in lines), f"piped output: {lines}")
    check(lines[:3] == ["ready", "opening", "receiving report.bin size 3145728"] and
          lines[-2:] == ["finished files 1 total 3145728", "idle"], f"piped output: {lines}")
    print("ok progress")


# ---------------------------------------------------------------- run log

def test_log(tool, work):
    """The standing cycle logs each file and batch; after SIGHUP it writes to a
    new file of the same name, so a rotated log is let go."""
    a_out, b_in = os.path.join(work, "log-a-out"), os.path.join(work, "log-b-in")
    a_in, b_out = os.path.join(work, "log-a-in"), os.path.join(work, "log-b-out")
    for d in (a_out, b_in, a_in, b_out):
        os.makedirs(d)
    log = os.path.join(work, "b.log")
    with PtyPair(work) as pty:
        b = tool.start("--in", b_in, "--out", b_out, "--device", pty.b, "--log", log,
                       stdout=subprocess.DEVNULL)
        a = tool.start("--in", a_in, "--out", a_out, "--device", pty.a, stdout=subprocess.DEVNULL)
        try:
            for round_, name in enumerate(("first.txt", "second.txt")):
                write(os.path.join(work, "stage", name), b"x\n")
                os.rename(os.path.join(work, "stage", name), os.path.join(a_out, name))
                deadline = time.monotonic() + 40
                while not (os.path.exists(log) and f"batch received files 1" in open(log).read()):
                    check(time.monotonic() < deadline, f"round {round_}: nothing logged")
                    time.sleep(0.2)
                if round_ == 0:
                    os.rename(log, log + ".1")
                    b.send_signal(signal.SIGHUP)
        finally:
            for p in (a, b):
                p.send_signal(signal.SIGTERM)
                p.wait(timeout=20)
    rotated, current = open(log + ".1").read(), open(log).read()
    stamp = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"
    check(re.search(rf"^{stamp} received first\.txt 2 ok$", rotated, re.M), f"log: {rotated!r}")
    check(re.search(rf"^{stamp} batch received files 1 bytes 2 finished$", rotated, re.M), rotated)
    check("second" not in rotated and re.search(rf"^{stamp} received second\.txt 2 ok$", current,
                                                 re.M), f"after SIGHUP: {current!r}")
    print("ok log")


# ------------------------------------------------------------------ devices

def test_devices(tool, work):
    """Missing, busy and forbidden devices each have their own message and code."""
    folder = os.path.join(work, "devices")
    os.makedirs(folder)
    with PtyPair(work) as pty:
        cases = [("missing", os.path.join(work, "ttyUSB9"), 5, "no such device"),
                 ("not a serial line", "/dev/null", 1, "not a serial device")]
        for name, device, code, text in cases:
            run = tool.run("receive", "--in", folder, "--device", device, "--timeout", "1")
            err = run.stderr.decode()
            check(run.returncode == code and text in err and "serial port is not available" in err,
                  f"{name}: exit {run.returncode}, {err!r}")

        # A stable name such as /dev/serial/by-id/... is a link to the device.
        by_id = os.path.join(work, "usb-FTDI_FT232R_USB_UART_A1-if00-port0")
        os.symlink(pty.b, by_id)
        run = tool.run("receive", "--in", folder, "--device", by_id, "--timeout", "1")
        check(run.returncode == 4 and b"no batch came" in run.stderr,
              f"a device by its link: exit {run.returncode}, {run.stderr!r}")

        holder = tool.start("receive", "--in", folder, "--device", pty.a, "--timeout", "30",
                            stdout=subprocess.PIPE)
        check(holder.stdout.readline() == b"ready\n", "the first holder did not start")
        run = tool.run("receive", "--in", folder, "--device", pty.a, "--timeout", "1")
        holder.send_signal(signal.SIGTERM)
        finish(holder)
        check(run.returncode == 6 and b"busy" in run.stderr,
              f"busy: exit {run.returncode}, {run.stderr!r}")
        with open(pty.a, "rb") as held:  # another program's lock, not ours
            fcntl.flock(held, fcntl.LOCK_EX)
            run = tool.run("receive", "--in", folder, "--device", pty.a, "--timeout", "1")
        check(run.returncode == 6, f"busy by another program: exit {run.returncode}")
        # Terminal programs that keep a lock file instead, as minicom does.
        lock = os.path.join("/run/lock", "LCK.." + os.path.basename(pty.a))
        if os.access("/run/lock", os.W_OK):
            sleeper = subprocess.Popen(["sleep", "30"])
            try:
                with open(lock, "w") as f:
                    f.write(f"{sleeper.pid:10d}\n")
                run = tool.run("receive", "--in", folder, "--device", pty.a, "--timeout", "1")
                err = run.stderr.decode()
                check(run.returncode == 6 and f"sleep, process {sleeper.pid}" in err,
                      f"busy by a lock file: exit {run.returncode}, {err!r}")
                sleeper.kill()
                sleeper.wait()
                run = tool.run("receive", "--in", folder, "--device", pty.a, "--timeout", "1")
                check(run.returncode == 4, f"a stale lock file: exit {run.returncode}, {run.stderr!r}")
            finally:
                sleeper.kill()
                sleeper.wait()
                os.remove(lock)
        else:
            print("skip lock file: /run/lock is not writable")

        if os.geteuid() != 0:
            print("skip no permission: needs root to run as a user without access")
        else:
            test_no_permission(tool, work, pty.b)
    print("ok devices")


def test_no_permission(tool, work, device):
    """As nobody, who may not open the pty: its own code and the group hint."""
    box = tempfile.mkdtemp(prefix="nobody.", dir="/tmp")
    try:
        os.chmod(box, 0o755)
        binary = os.path.join(box, "mosslane")
        shutil.copy(tool.binary, binary)
        os.chmod(binary, 0o755)
        incoming = os.path.join(box, "in")
        os.makedirs(incoming)
        os.chmod(incoming, 0o777)
        os.chmod(device, stat.S_IRUSR | stat.S_IWUSR)
        run = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                              binary, "receive", "--in", incoming, "--device", device, "--timeout", "1"],
                             capture_output=True, timeout=RUN_DEADLINE_S,
                             env=dict(tool.env, HOME=box, XDG_CONFIG_HOME=incoming))
        err = run.stderr.decode()
        check(run.returncode == 7 and "permission denied" in err and "join the group" in err,
              f"no permission: exit {run.returncode}, {err!r}")
    finally:
        shutil.rmtree(box, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print("usage: mosslane_tool_test.py path/to/mosslane", file=sys.stderr)
        return 2
    binary = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="mosslane-tool.")
    tool = Tool(binary, work)
    tests = [test_settings, test_send_receive, test_cancel_and_silence, test_names,
             test_progress, test_log, test_devices]
    only = os.environ.get("MOSSLANE_TOOL_ONLY")
    failed = ran = 0
    for test in tests:
        if only and only not in test.__name__:
            continue
        ran += 1
        try:
            test(tool, work)
        except (Failure, subprocess.TimeoutExpired, OSError) as error:
            failed += 1
            print(f"FAIL {test.__name__}: {error}")
    if failed:
        print(f"work folder kept: {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{ran - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
