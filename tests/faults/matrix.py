#!/usr/bin/env python3
"""The fault matrix: two real mosslane processes on a paced line, one fault per
row, and after each the question whether any file was lost or half-delivered.

    tests/faults/matrix.py path/to/mosslane [--rows NAME,...] [--jobs 3] [--keep]

Every row moves a first batch from A to B while its fault strikes (bit errors,
dropped bytes, the cable cut for 3 s, either process killed with SIGKILL and
started again, the incoming folder full or made read-only). Then it checks:
every file is, exactly once and intact, in B's incoming folder (a numbered name
counts, and is reported) or still in A's outgoing folder or its "!unsent"; no
file under a final name in B's incoming folder differs from what was sent; and
both processes still serve: a second batch goes from A to B and a third from B
to A. The rows run side by side, each in its own process with its own line;
the table is printed at the end. Rows that need root (a tmpfs, another user)
are skipped with a message when that is refused.
"""
import argparse
import json
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import types

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "..", "..", "tools", "line-emulator")
BAUD = 115200
SETTLE_DEADLINE_S = 150
BATCH_DEADLINE_S = 90
QUIET_S = 2.5
FAULT_AFTER_S = 2.0        # into the big file, once the receiver has started it
UNPRIVILEGED = 65534       # nobody, for the read-only row when run as root
FILLER = "filler.dat"      # what fills the small file system before the batch

ROWS = [
    ("clean line", {}),
    ("bit errors 1e-5", {"bit_errors": 1e-5}),
    ("bit errors 1e-4", {"bit_errors": 1e-4}),
    ("dropped bytes 2e-4", {"drops": 2e-4}),
    ("cable cut 3 s mid-file", {"fault": "cut"}),
    ("receiver killed mid-file", {"fault": "kill-receiver"}),
    ("sender killed mid-file", {"fault": "kill-sender"}),
    ("incoming on a full tmpfs", {"fault": "tmpfs"}),
    ("incoming read-only mid-batch", {"fault": "readonly"}),
]


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def load_emulator():
    """tools/line-emulator as a module (it is a script without a suffix)."""
    module = types.ModuleType("line_emulator")
    with open(EMULATOR) as f:
        exec(compile(f.read(), EMULATOR, "exec"), module.__dict__)
    return module


class Cable(threading.Thread):
    """The paced line of tools/line-emulator, run here so that the row can cut
    it: while cut, whatever either side writes is lost."""

    def __init__(self, link_a, link_b, bit_errors=0.0, drops=0.0, seed=1):
        super().__init__(daemon=True)
        em = load_emulator()
        self.ends = [em.open_end(link_a, BAUD), em.open_end(link_b, BAUD)]
        faulty = bit_errors > 0 or drops > 0

        def faults(offset):
            return em.Faults(random.Random(seed * 2 + offset), bit_errors, drops) if faulty else None

        (ma, _), (mb, _) = self.ends
        self.lines = [em.Direction("a_to_b", ma, mb, BAUD, 4096, faults(0)),
                      em.Direction("b_to_a", mb, ma, BAUD, 4096, faults(1))]
        self.cut_until = 0.0
        self.stopping = False
        self.lost_in_cut = 0

    def device(self, index):
        return os.ttyname(self.ends[index][1])

    def cut(self, seconds):
        self.cut_until = time.monotonic() + seconds

    def run(self):
        while not self.stopping:
            now = time.monotonic()
            if now < self.cut_until:
                for line in self.lines:
                    self.lost_in_cut += len(line.buffer)
                    line.buffer.clear()
                    try:
                        self.lost_in_cut += len(os.read(line.source, 65536))
                    except OSError:
                        pass
                time.sleep(0.002)
                continue
            dues = [d for d in (line.next_due(now) for line in self.lines) if d is not None]
            timeout = min(0.05, max(0.0, min(dues) - now)) if dues else 0.05
            readers = [line.source for line in self.lines if line.wants_input()]
            try:
                readable, _, _ = select.select(readers, [], [], timeout)
            except InterruptedError:
                continue
            now = time.monotonic()
            for line in self.lines:
                if line.source in readable:
                    line.take(now)
                line.deliver(now)

    def injected(self):
        """Bit errors, dropped bytes and bytes lost in cuts, both ways."""
        return sum(line.counts["bit_errors"] + line.counts["dropped"] for line in self.lines) + \
            self.lost_in_cut

    def stop(self):
        self.stopping = True
        self.join(timeout=5)
        for master, slave in self.ends:
            os.close(master)
            os.close(slave)


class Instance:
    def __init__(self, name, root, device, mosslane, user=None):
        self.name = name
        self.root = root
        self.in_dir = os.path.join(root, name, "in")
        self.out_dir = os.path.join(root, name, "out")
        self.device = device
        self.mosslane = mosslane
        self.user = user
        self.runs = 0
        self.process = None
        os.makedirs(self.in_dir, exist_ok=True)
        os.makedirs(self.out_dir, exist_ok=True)

    def start(self):
        self.runs += 1
        self.log_path = os.path.join(self.root, f"{self.name}{self.runs}.log")
        command = [self.mosslane, "--in", self.in_dir, "--out", self.out_dir, "--device",
                   self.device, "--baud", str(BAUD), "--handshake", "none"]
        if self.user is not None:
            command = ["setpriv", f"--reuid={self.user}", f"--regid={self.user}",
                       "--clear-groups"] + command
        # A settings file of the user running the test must not fill in a row; nor may
        # an unreadable home stop the unprivileged instance from starting.
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, f"{self.name}-config"))
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=env)
        deadline = time.monotonic() + 10
        while "ready" not in self.lines():
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise Failure(f"{self.name} did not start: {self.lines()[-3:]}")
            time.sleep(0.05)

    def lines(self):
        try:
            with open(self.log_path, encoding="latin-1") as f:
                return f.read().splitlines()
        except OSError:
            return []

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def idle(self):
        lines = self.lines()
        return bool(lines) and lines[-1] in ("idle", "ready")

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()

    def stop(self):
        if not self.alive():
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


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


def place(out_dir, files, stage):
    """Files into an outgoing folder as a user would drop them: whole, written
    a while ago, appearing at once."""
    shutil.rmtree(stage, ignore_errors=True)
    for rel, data in files.items():
        path = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        old = time.time() - 60
        os.utime(path, (old, old))
    for entry in os.listdir(stage):
        target = os.path.join(out_dir, entry)
        if os.path.isdir(target):
            for folder, _, names in os.walk(os.path.join(stage, entry)):
                rel = os.path.relpath(folder, stage)
                os.makedirs(os.path.join(out_dir, rel), exist_ok=True)
                for name in names:
                    os.rename(os.path.join(folder, name), os.path.join(out_dir, rel, name))
        else:
            os.rename(os.path.join(stage, entry), target)


def name_pattern(rel):
    """The name a file may arrive under: its own, or numbered before the first dot."""
    folder, base = os.path.split(rel)
    stem, dot, suffix = base.partition(".")
    name = re.escape(stem) + r"(\d*)" + (re.escape(dot + suffix) if dot else "")
    return re.compile((re.escape(folder + os.sep) if folder else "") + name + "$")


def is_partial(name):
    return re.fullmatch(r"!partial\.\d{1,9}", os.path.basename(name), re.IGNORECASE) is not None


def outgoing_files(instance):
    """Files still waiting in the outgoing folder, "!unsent" aside."""
    return [rel for rel in files_under(instance.out_dir)
            if not rel.split(os.sep)[0].lower() == "!unsent"]


def await_quiet(a, b, deadline, what):
    """Both ends idle for a while with nothing left to send (what is in
    "!unsent" stays there by design)."""
    quiet_since = None
    while time.monotonic() < deadline:
        for side in (a, b):
            if not side.alive():
                raise Failure(f"{side.name} exited during {what}")
        settled = a.idle() and b.idle() and not outgoing_files(a)
        if settled:
            quiet_since = quiet_since or time.monotonic()
            if time.monotonic() - quiet_since >= QUIET_S:
                return
        else:
            quiet_since = None
        time.sleep(0.1)
    raise Failure(f"{what}: not settled in time; waiting in A: {outgoing_files(a)}")


def classify(sent, a, b):
    """Where each sent file is now, and what in B's incoming folder is wrong."""
    incoming = files_under(b.in_dir)
    report = {"delivered": 0, "kept": 0, "lost": [], "duplicates": [], "numbered": [],
              "bad": [], "partial": []}
    matched = set()
    for rel, data in sent.items():
        pattern = name_pattern(rel)
        arrived = [p for p in incoming if pattern.match(p) and read(incoming[p]) == data]
        matched.update(arrived)
        kept = [p for p in (os.path.join(a.out_dir, rel), os.path.join(a.out_dir, "!unsent", rel))
                if os.path.isfile(p) and read(p) == data]
        if arrived:
            report["delivered"] += 1
        if kept:
            report["kept"] += 1
        if not arrived and not kept:
            report["lost"].append(rel)
        if len(arrived) + len(kept) > 1:
            report["duplicates"].append(rel)
        report["numbered"] += [p for p in arrived if p != rel]
    for p in incoming:
        if p == FILLER:
            continue
        if is_partial(p):
            report["partial"].append(p)
        elif p not in matched:
            report["bad"].append(p)  # under a final name, but not what was sent
    return report


def judge(result, report, sides):
    """The row's verdict once both sides have served again: nothing lost, nothing
    wrong under a final name, no partial file left on either side."""
    leftovers = [p for side in sides for p in files_under(side.in_dir) if is_partial(p)]
    result["partial"] = leftovers
    problems = []
    if report["lost"]:
        problems.append(f"lost {report['lost']}")
    if report["bad"]:
        problems.append(f"wrong under a final name {report['bad']}")
    if leftovers:
        problems.append(f"partial files left {leftovers}")
    result["verdict"] = "FAIL" if problems else "PASS"
    result["detail"] = "; ".join(problems)


def move(sender, receiver, files, stage, what):
    place(sender.out_dir, files, stage)
    deadline = time.monotonic() + BATCH_DEADLINE_S
    while time.monotonic() < deadline:
        got = files_under(receiver.in_dir)
        if all(rel in got and read(got[rel]) == data for rel, data in files.items()) and \
                not any(rel in outgoing_files(sender) for rel in files):
            return
        for side in (sender, receiver):
            if not side.alive():
                raise Failure(f"{side.name} exited during {what}")
        time.sleep(0.1)
    raise Failure(f"{what} did not arrive")


def make_unprivileged(b, cable):
    """B runs as another user, for whom a folder's permissions count."""
    if shutil.which("setpriv") is None:
        raise Skip("setpriv is not installed")
    os.chmod(b.root, 0o755)
    for folder in (os.path.join(b.root, "B"), b.in_dir, b.out_dir):
        os.chown(folder, UNPRIVILEGED, UNPRIVILEGED)
    os.chmod(cable.device(1), 0o666)
    b.user = UNPRIVILEGED


def set_writable(folder, writable):
    for path, _, _ in os.walk(folder):
        mode = os.stat(path).st_mode
        os.chmod(path, (mode | 0o222) if writable else (mode & ~0o222))


def fill_tmpfs(folder, free_left):
    usage = os.statvfs(folder)
    free = usage.f_bavail * usage.f_frsize
    with open(os.path.join(folder, FILLER), "wb") as f:
        f.write(b"\0" * max(0, free - free_left))


def run_row(index, mosslane, keep):
    name, setup = ROWS[index]
    fault = setup.get("fault")
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="mosslane-faults-")
    mounted = None
    a = b = cable = None
    result = {"row": name, "verdict": "FAIL", "detail": "", "serves": "no"}
    try:
        cable = Cable(os.path.join(root, "ttyA"), os.path.join(root, "ttyB"),
                      setup.get("bit_errors", 0.0), setup.get("drops", 0.0), seed=index + 1)
        cable.start()
        a = Instance("A", root, os.path.join(root, "ttyA"), mosslane)
        b = Instance("B", root, os.path.join(root, "ttyB"), mosslane)
        rng = random.Random(index)
        sent = {"big.bin": rng.randbytes(80000), "docs/b.bin": rng.randbytes(6000),
                "c.bin": rng.randbytes(3000), "empty.bin": b""}
        if fault == "tmpfs":
            if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", b.in_dir],
                              capture_output=True).returncode != 0:
                raise Skip("mounting a tmpfs was refused (needs root)")
            mounted = b.in_dir
            fill_tmpfs(b.in_dir, 40 * 1024)  # room for the small files, not the big one
        if fault == "readonly" and os.geteuid() == 0:
            make_unprivileged(b, cable)
        a.start()
        b.start()
        place(a.out_dir, sent, os.path.join(root, "stage"))

        if fault in ("cut", "kill-receiver", "kill-sender", "readonly"):
            deadline = time.monotonic() + 60
            while not any(l.startswith("receiving big.bin") for l in b.lines()):
                if time.monotonic() > deadline:
                    raise Failure("the big file never started")
                time.sleep(0.05)
            time.sleep(FAULT_AFTER_S)
            if fault == "cut":
                cable.cut(3.0)
            elif fault == "kill-receiver":
                b.kill()
                time.sleep(0.5)
                left = files_under(b.in_dir)
                if "big.bin" in left:
                    raise Failure("the half file is under its final name after the kill")
                result["after kill"] = sorted(left)
                b.start()
                if any(is_partial(p) for p in files_under(b.in_dir)):
                    raise Failure("the restart left the partial file")
            elif fault == "kill-sender":
                a.kill()
                time.sleep(0.5)
                a.start()
            elif fault == "readonly":
                set_writable(b.in_dir, False)
        await_quiet(a, b, time.monotonic() + SETTLE_DEADLINE_S, "the first batch")
        if fault == "readonly":
            set_writable(b.in_dir, True)
        report = classify(sent, a, b)
        result.update({k: v for k, v in report.items()})

        stage = os.path.join(root, "stage")
        move(a, b, {"second/x.bin": rng.randbytes(4000), "y.bin": rng.randbytes(1000)},
             stage, "a second batch from A to B")
        move(b, a, {"back.bin": rng.randbytes(3000)}, stage, "a batch from B to A")
        result["serves"] = "yes"
        judge(result, report, (a, b))
    except Skip as skip:
        result["verdict"] = "SKIP"
        result["detail"] = str(skip)
    except Failure as failure:
        result["detail"] = str(failure)
    finally:
        for side in (a, b):
            if side is not None:
                side.stop()
        if cable is not None:
            result["line faults"] = cable.injected()
            cable.stop()
        if mounted:
            subprocess.run(["umount", mounted], capture_output=True)
        if b is not None and os.path.isdir(b.in_dir):
            set_writable(b.in_dir, True)
        result["seconds"] = round(time.monotonic() - started)
        if result["verdict"] == "FAIL" or keep:
            result["logs"] = root
        else:
            shutil.rmtree(root, ignore_errors=True)
    return result


def table(results):
    head = ["row", "line faults", "delivered", "kept", "lost", "numbered", "bad", "partial",
            "serves", "s", "result"]
    rows = []
    for r in results:
        rows.append([r["row"], str(r.get("line faults", "-")), str(r.get("delivered", "-")), str(r.get("kept", "-")),
                     str(len(r.get("lost", []))) if "lost" in r else "-",
                     str(len(r.get("numbered", []))) if "numbered" in r else "-",
                     str(len(r.get("bad", []))) if "bad" in r else "-",
                     str(len(r.get("partial", []))) if "partial" in r else "-",
                     r["serves"], str(r["seconds"]), r["verdict"]])
    widths = [max(len(x[i]) for x in rows + [head]) for i in range(len(head))]
    out = ["  ".join(h.ljust(w) for h, w in zip(head, widths))]
    out.append("  ".join("-" * w for w in widths))
    out += ["  ".join(c.ljust(w) for c, w in zip(row, widths)) for row in rows]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mosslane")
    parser.add_argument("--rows", help="comma-separated row names (default: all)")
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--keep", action="store_true", help="keep every row's folders and logs")
    parser.add_argument("--one", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--json", help=argparse.SUPPRESS)
    args = parser.parse_args()
    mosslane = os.path.abspath(args.mosslane)

    if args.one is not None:
        with open(args.json, "w") as f:
            json.dump(run_row(args.one, mosslane, args.keep), f)
        return 0

    wanted = [i for i, (name, _) in enumerate(ROWS)
              if not args.rows or name in args.rows.split(",")]
    work = tempfile.mkdtemp(prefix="mosslane-matrix-")
    running, results = [], {}
    queue = list(wanted)
    while queue or running:
        while queue and len(running) < args.jobs:
            i = queue.pop(0)
            out = os.path.join(work, f"{i}.json")
            command = [sys.executable, os.path.abspath(__file__), mosslane, "--one", str(i),
                       "--json", out] + (["--keep"] if args.keep else [])
            running.append((i, out, subprocess.Popen(command)))
        for item in list(running):
            i, out, process = item
            if process.poll() is None:
                continue
            running.remove(item)
            try:
                with open(out) as f:
                    results[i] = json.load(f)
            except (OSError, ValueError):
                results[i] = {"row": ROWS[i][0], "verdict": "FAIL", "serves": "?",
                              "seconds": 0, "detail": f"the row's process ended with {process.returncode}"}
        time.sleep(0.2)
    shutil.rmtree(work, ignore_errors=True)

    ordered = [results[i] for i in wanted]
    print(table(ordered))
    print("delivered: intact in B's incoming folder; kept: intact in A's outgoing folder or its"
          " \"!unsent\"; bad: a file under a final name that differs from what was sent;"
          " partial: partial files left after the last batch")
    for r in ordered:
        notes = []
        if r.get("detail"):
            notes.append(r["detail"])
        if "after kill" in r:
            notes.append(f"incoming folder right after the kill: {r['after kill']}")
        if r.get("numbered"):
            notes.append(f"resent under a numbered name: {r['numbered']}")
        if r.get("duplicates"):
            notes.append(f"in two places: {r['duplicates']}")
        if r.get("logs"):
            notes.append(f"logs in {r['logs']}")
        if notes:
            print(f"{r['row']}: " + "; ".join(notes))
    return 0 if all(r["verdict"] in ("PASS", "SKIP") for r in ordered) else 1


if __name__ == "__main__":
    sys.exit(main())
