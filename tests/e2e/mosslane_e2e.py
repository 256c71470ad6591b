#!/usr/bin/env python3
"""Two real mosslane processes on the two ends of a pty pair move a batch from
A to B and then another from B to A.

Run it through tests/with-pty-pair, which provides the cable:
    tests/with-pty-pair tests/e2e/mosslane_e2e.py path/to/mosslane
Logs of both processes are kept in the folder named on failure.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TRANSFER_DEADLINE_S = 180
START_DEADLINE_S = 10
STOP_DEADLINE_S = 20


class Failure(Exception):
    pass


def crlf(data):
    """Every line end (CR LF, lone CR, lone LF) as CR LF."""
    return data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").replace(b"\n", b"\r\n")


def make_batch(tag, rng):
    """Files to send: relative path -> (bytes sent, bytes expected, name expected)."""
    big = rng.randbytes(1024 * 1024)
    lf_text = b"first line\nsecond line\n\nlast line without end"
    mixed_text = b"dos\r\nmac\runix\nend\n"
    return {
        f"{tag}-top.txt": (b"hello", b"hello", f"{tag}-top.txt"),
        f"docs/deep/{tag}-lf.txt": (lf_text, crlf(lf_text), f"docs/deep/{tag}-lf.txt"),
        f"docs/{tag}-mixed.txt": (mixed_text, crlf(mixed_text), f"docs/{tag}-mixed.txt"),
        f"{tag}-empty.dat": (b"", b"", f"{tag}-empty.dat"),
        f"bin/{tag}-big.bin": (big, big, f"bin/{tag}-big.bin"),
        # Text-like bytes in a file that is not text: they must not be touched.
        f"bin/{tag}-raw.dat": (b"a\nb\rc\r\n" * 100, b"a\nb\rc\r\n" * 100, f"bin/{tag}-raw.dat"),
        # The receiver already has this name: the new one arrives numbered.
        f"docs/{tag}-clash.txt": (b"new\n", b"new\r\n", f"docs/{tag}-clash1.txt"),
    }


def place_batch(batch, out_dir, in_dir, stage):
    """Readies the clash on the receiving side, then moves the batch into the
    outgoing folder entry by entry, so that no scan sees a half-written file."""
    clash = [p for p in batch if "clash" in p][0]
    os.makedirs(os.path.join(in_dir, os.path.dirname(clash)), exist_ok=True)
    with open(os.path.join(in_dir, clash), "wb") as f:
        f.write(b"already here")
    for rel, (data, _, _) in batch.items():
        path = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for entry in os.listdir(stage):
        os.rename(os.path.join(stage, entry), os.path.join(out_dir, entry))


def files_under(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = path
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Instance:
    def __init__(self, name, work, device, mosslane):
        self.name = name
        self.in_dir = os.path.join(work, name, "in")
        self.out_dir = os.path.join(work, name, "out")
        os.makedirs(self.in_dir)
        os.makedirs(self.out_dir)
        self.log_path = os.path.join(work, name + ".log")
        self.err_path = os.path.join(work, name + ".err")
        with open(self.log_path, "wb") as log, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(
                [mosslane, "--in", self.in_dir, "--out", self.out_dir, "--device", device,
                 "--baud", "115200", "--handshake", "cts", "--text-extensions", ".TXT, .ini"],
                stdout=log, stderr=err)

    def lines(self):
        with open(self.log_path, encoding="latin-1") as f:
            return f.read().splitlines()

    def await_line(self, wanted, deadline):
        self.await_line_after(wanted, 0, deadline)

    def await_line_after(self, wanted, before, deadline):
        while time.monotonic() < deadline:
            if wanted in self.lines()[before:]:
                return
            if self.process.poll() is not None:
                raise Failure(f"{self.name} exited with {self.process.returncode}")
            time.sleep(0.05)
        raise Failure(f"{self.name} never printed {wanted!r}")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=STOP_DEADLINE_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure(f"{self.name} did not stop on SIGTERM")


def batch_arrived(batch, sender, receiver):
    if files_under(sender.out_dir):
        return False
    got = files_under(receiver.in_dir)
    return all(expected in got and os.path.getsize(got[expected]) == len(want)
               for _, want, expected in batch.values())


def transfer(batch, sender, receiver, stage):
    before = len(receiver.lines())
    sender_before = len(sender.lines())
    place_batch(batch, sender.out_dir, receiver.in_dir, stage)
    deadline = time.monotonic() + TRANSFER_DEADLINE_S
    while not batch_arrived(batch, sender, receiver):
        for side in (sender, receiver):
            if side.process.poll() is not None:
                raise Failure(f"{side.name} exited with {side.process.returncode}")
        if time.monotonic() > deadline:
            raise Failure(f"{sender.name}->{receiver.name}: batch not delivered in time; "
                          f"left in {sender.name}/out: {sorted(files_under(sender.out_dir))}")
        time.sleep(0.1)
    # Both sides report the end of the transfer, then return to idle.
    while "idle" not in receiver.lines()[before:] or "idle" not in sender.lines()[sender_before:]:
        if time.monotonic() > deadline:
            raise Failure(f"{sender.name}->{receiver.name}: no idle line after the batch")
        time.sleep(0.1)
    check_delivery(batch, sender, receiver, before)


def check_delivery(batch, sender, receiver, before):
    got = files_under(receiver.in_dir)
    for rel, (_, want, expected) in batch.items():
        if read(got[expected]) != want:
            raise Failure(f"{expected} arrived with different content")
        print(f"ok {sender.name}->{receiver.name} {rel} -> {expected} ({len(want)} bytes)")
    clash = [p for p in batch if "clash" in p][0]
    if read(got[clash]) != b"already here":
        raise Failure(f"{clash}: the file already in the incoming folder was changed")
    if os.path.isdir(os.path.join(sender.out_dir, "!unsent")):
        if files_under(os.path.join(sender.out_dir, "!unsent")):
            raise Failure(f"{sender.name}: files were moved to !unsent")
    lines = receiver.lines()[before:]
    received = [l for l in lines if l.startswith("receiving ")]
    if len(received) != len(batch):
        raise Failure(f"{receiver.name} reported {len(received)} files, expected {len(batch)}")
    if not any(l.startswith("finished files ") for l in lines):
        raise Failure(f"{receiver.name} reported no finished batch")


def check_command_line(mosslane, work):
    """Bad arguments exit 2; a device that is missing exits 5 and one that is no
    serial line exits 1, both with message 5."""
    folder = os.path.join(work, "cli")
    os.makedirs(folder)
    missing = os.path.join(work, "no-such-folder")
    good = ["--in", folder, "--out", folder]
    cases = [
        ("no arguments", [], 2, "usage:"),
        ("no device", good, 2, "usage:"),
        ("unknown speed", good + ["--device", "/dev/null", "--baud", "9600"], 2, "usage:"),
        ("unknown handshake", good + ["--device", "/dev/null", "--handshake", "xon"], 2, "usage:"),
        ("missing folder", ["--in", missing, "--out", folder, "--device", "/dev/null"], 2,
         "not a folder"),
        ("missing device", good + ["--device", os.path.join(work, "no-tty")], 5,
         "The serial port is not available."),
        ("not a serial device", good + ["--device", "/dev/null"], 1,
         "The serial port is not available."),
    ]
    for name, args, code, text in cases:
        run = subprocess.run([mosslane] + args, capture_output=True, timeout=STOP_DEADLINE_S)
        if run.returncode != code or text not in run.stderr.decode("latin-1"):
            raise Failure(f"command line, {name}: exit {run.returncode}, "
                          f"stderr {run.stderr!r}; expected {code} and {text!r}")
    print(f"ok command line: {len(cases)} cases")


def cancel_by_signal(sender, receiver, rng, stage):
    """SIGTERM in the middle of a batch cancels it as the Cancel button would:
    the sender exits 0, keeps the file in !unsent, and the receiver goes idle."""
    data = rng.randbytes(8 * 1024 * 1024)
    before = len(receiver.lines())
    os.makedirs(os.path.join(stage, "bin"))
    with open(os.path.join(stage, "bin", "cancel.bin"), "wb") as f:
        f.write(data)
    os.rename(os.path.join(stage, "bin"), os.path.join(sender.out_dir, "bin"))
    deadline = time.monotonic() + TRANSFER_DEADLINE_S
    while not any(l.startswith("counters ") for l in receiver.lines()[before:]):
        if time.monotonic() > deadline:
            raise Failure("the batch to cancel never started")
        time.sleep(0.02)
    code = sender.stop()
    if code != 0:
        raise Failure(f"{sender.name} exited with {code} on SIGTERM during a transfer")
    if sender.lines()[-1:] != ["idle"]:
        raise Failure(f"{sender.name} did not leave transfer mode before exiting")
    kept = os.path.join(sender.out_dir, "!unsent", "bin", "cancel.bin")
    if not os.path.isfile(kept) or read(kept) != data:
        raise Failure(f"{sender.name}: the cancelled file is not intact in !unsent")
    receiver.await_line_after("idle", before, deadline)
    if any(l.startswith("finished ") for l in receiver.lines()[before:]):
        raise Failure(f"{receiver.name} reported a finished batch that was cancelled")
    print(f"ok {sender.name}: SIGTERM cancelled the batch, file kept in !unsent")


def main():
    if len(sys.argv) != 2:
        print("usage: mosslane_e2e.py path/to/mosslane", file=sys.stderr)
        return 2
    mosslane = os.path.abspath(sys.argv[1])
    port_a = os.environ.get("MOSSLANE_SERIAL_PORT")
    port_b = os.environ.get("MOSSLANE_SERIAL_PEER")
    if not port_a or not port_b:
        print("run through tests/with-pty-pair", file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="mosslane-e2e.")
    # No settings file of the user's may fill in what a case leaves out.
    os.environ["XDG_CONFIG_HOME"] = os.path.join(work, "config")
    rng = random.Random(20261210)
    instances = []
    ok = False
    try:
        check_command_line(mosslane, work)
        b = Instance("B", work, port_b, mosslane)
        instances.append(b)
        b.await_line("ready", time.monotonic() + START_DEADLINE_S)
        a = Instance("A", work, port_a, mosslane)
        instances.append(a)
        a.await_line("ready", time.monotonic() + START_DEADLINE_S)

        transfer(make_batch("ab", rng), a, b, os.path.join(work, "stage-a"))
        transfer(make_batch("ba", rng), b, a, os.path.join(work, "stage-b"))

        cancel_by_signal(a, b, rng, os.path.join(work, "stage-c"))

        for side in instances:
            code = side.stop()
            if code != 0:
                raise Failure(f"{side.name} exited with {code} after SIGTERM")
        ok = True
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        for side in instances:
            print(f"--- {side.name} stdout (last lines)", file=sys.stderr)
            print("\n".join(side.lines()[-30:]), file=sys.stderr)
            print(f"--- {side.name} stderr", file=sys.stderr)
            print(read(side.err_path).decode("latin-1"), file=sys.stderr)
    finally:
        for side in instances:
            if side.process.poll() is None:
                side.process.kill()
                side.process.wait()
        if ok:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"logs and folders kept in {work}", file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
