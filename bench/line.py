#!/usr/bin/env python3
"""Moves workloads over the paced line emulator and prints what they cost.

For each speed and workload it runs two Linux mosslane instances and, where
the lrzsz tools are installed, YMODEM-1K (sb -k / rb) and ZMODEM (sz / rz)
over the same emulator, and prints side by side:

  efficiency   payload / what the line could carry in the batch's time
  cpu A, B     processor time of the sending and the receiving end, as a
               share of one core over the batch (and seconds)
  idle A, B    mosslane's share of a core while both ends sit idle
  start        from the files landing in the outgoing folder to the link
               opening (mosslane only; the peers are started by hand)

With --impls wine it first prints what an idle stock Wine program (Notepad)
costs with its server, the floor under the idle figures of MossLane.exe.

Run through tools/bench-line, which builds mosslane first.
"""
import argparse
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "..", "tools", "line-emulator")

WORKLOADS = {
    "big": ("1 MiB file", lambda: [("big.bin", 1024 * 1024)]),
    "medium": ("50 x 10 KiB", lambda: [(f"m{i:02d}.bin", 10 * 1024) for i in range(50)]),
    "small": ("1000 x 100 B, 20 folders",
              lambda: [(f"d{i % 20:02d}/s{i:04d}.bin", 100) for i in range(1000)]),
    # Scale: best on an unpaced line (--speeds 0).
    "many": ("10000 x 100 B, 100 folders",
             lambda: [(f"f{i % 100:03d}/n{i:05d}.bin", 100) for i in range(10000)]),
    "huge": ("500 MiB file", lambda: [("huge.bin", 500 * 1024 * 1024)]),
    "8mib": ("8 MiB file", lambda: [("eight.bin", 8 * 1024 * 1024)]),
}
BATCH_DEADLINE_S = 3 * 3600
POLL_S = 0.005


class Failure(Exception):
    pass


def cpu_seconds(pid):
    """Processor time of a live process, all its threads, to the nanosecond
    where the kernel keeps it."""
    try:
        total = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        return total / 1e9
    except OSError:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


CHUNK = 1 << 20


def make_files(root, workload, seed):
    rnd = __import__("random").Random(seed)
    digests = {}
    for rel, size in workload:
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path) or root, exist_ok=True)
        digest = hashlib.sha256()
        with open(path, "wb") as f:
            for at in range(0, size, CHUNK):
                data = rnd.randbytes(min(CHUNK, size - at))
                digest.update(data)
                f.write(data)
        digests[rel] = digest.hexdigest()
    return digests


def digest_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for data in iter(lambda: f.read(CHUNK), b""):
            digest.update(data)
    return digest.hexdigest()


def check_files(root, digests):
    """Number of files that arrived intact under root."""
    return sum(os.path.isfile(os.path.join(root, rel)) and digest_of(os.path.join(root, rel)) == d
               for rel, d in digests.items())


def line_priority():
    """The line stands for hardware: it must not queue behind the programs it
    carries on a loaded machine. Real-time where allowed, else a high priority."""
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    except (OSError, AttributeError):
        try:
            os.nice(-10)
        except OSError:
            pass


class Emulator:
    def __init__(self, work, baud, args):
        self.link_a = os.path.join(work, "ttyA")
        self.link_b = os.path.join(work, "ttyB")
        self.stats_path = os.path.join(work, "line.json")
        command = [sys.executable, EMULATOR, "--baud", str(baud), "--link-a", self.link_a,
                   "--link-b", self.link_b, "--seed", str(args.seed), "--stats", self.stats_path,
                   "--bit-errors", str(args.bit_errors), "--drops", str(args.drops)]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True,
                                        preexec_fn=line_priority)
        if self.process.stdout.readline().strip() != "ready":
            raise Failure("the line emulator did not start")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)
        try:
            with open(self.stats_path) as f:
                return json.load(f)
        except OSError:
            return {}


class Mosslane:
    def __init__(self, name, work, device, binary, baud):
        self.in_dir = os.path.join(work, name, "in")
        self.out_dir = os.path.join(work, name, "out")
        os.makedirs(self.in_dir)
        os.makedirs(self.out_dir)
        self.log_path = os.path.join(work, name + ".log")
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                [binary, "--in", self.in_dir, "--out", self.out_dir, "--device", device,
                 "--baud", str(baud or 115200), "--handshake", "none"],
                stdout=log, stderr=subprocess.STDOUT)
        self.seen = 0

    def lines(self):
        with open(self.log_path, encoding="latin-1") as f:
            return f.read().splitlines()

    def await_line(self, test, deadline):
        """Time at which a line passing test first appears after the last one found."""
        while time.monotonic() < deadline:
            lines = self.lines()
            for i in range(self.seen, len(lines)):
                if test(lines[i]):
                    self.seen = i + 1
                    return time.monotonic()
            if self.process.poll() is not None:
                raise Failure(f"mosslane exited with {self.process.returncode}")
            time.sleep(POLL_S)
        raise Failure("mosslane printed no expected line in time")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)


def run_mosslane(work, baud, files, args):
    line = Emulator(work, baud, args)
    sides = []
    try:
        b = Mosslane("B", work, line.link_b, args.mosslane, baud)
        sides.append(b)
        a = Mosslane("A", work, line.link_a, args.mosslane, baud)
        sides.append(a)
        for side in sides:
            side.await_line(lambda l: l == "ready", time.monotonic() + 10)
        # Both idle: what sitting and waiting costs.
        idle_before = [cpu_seconds(s.process.pid) for s in sides]
        time.sleep(args.idle)
        idle = [(cpu_seconds(s.process.pid) - c) / args.idle for s, c in zip(sides, idle_before)]

        stage = os.path.join(work, "stage")
        digests = make_files(stage, files, args.seed)
        landed = time.monotonic()
        for entry in os.listdir(stage):
            os.rename(os.path.join(stage, entry), os.path.join(a.out_dir, entry))
        opened = a.await_line(lambda l: l == "opening", landed + 30)
        cpu_before = [cpu_seconds(s.process.pid) for s in (a, b)]
        finished = b.await_line(lambda l: l.startswith("finished"), opened + BATCH_DEADLINE_S)
        cpu = [cpu_seconds(s.process.pid) - c for s, c in zip((a, b), cpu_before)]
        rss = [peak_rss_kib(s.process.pid) for s in (a, b)]
        return {"seconds": finished - opened, "cpu": cpu, "idle": idle,
                "start": opened - landed, "intact": check_files(b.in_dir, digests),
                "rss": rss}
    finally:
        for side in sides:
            side.stop()
        stats = line.stop()
        if args.verbose:
            print("   line:", stats, file=sys.stderr)


WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SETTINGS_KEY = r"HKCU\Software\Vantree\MossLane"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def padded_hex(text, size):
    data = text.encode("latin-1")
    return (data + bytes(size - len(data))).hex()


class Display:
    """An X server of its own for the Windows programs' windows."""

    def __init__(self):
        number = next(n for n in range(150, 250) if not os.path.exists(f"/tmp/.X{n}-lock"))
        self.name = f":{number}"
        self.process = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1024x768x16",
                                         "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{number}") and time.monotonic() < deadline:
            time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class WineSide:
    """MossLane.exe in a Wine prefix of its own, COM1 mapped to one end of the line."""

    def __init__(self, name, work, device, exe, baud, template, display):
        self.prefix = os.path.join(work, name + "-prefix")
        self.in_dir = os.path.join(work, name, "in")
        self.out_dir = os.path.join(work, name, "out")
        os.makedirs(self.in_dir)
        os.makedirs(self.out_dir)
        subprocess.run(["cp", "-a", template, self.prefix], check=True)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=display)
        self.log = open(os.path.join(work, name + ".log"), "wb")
        self.server = None
        self.start_server()
        self.reg("HKLM\\Software\\Wine\\Ports", "COM1", "REG_SZ", os.path.realpath(device))
        for value, data in (("InDirectory", padded_hex(windows_path(self.in_dir), 260)),
                            ("OutDirectory", padded_hex(windows_path(self.out_dir), 260)),
                            ("SerialPort", "01"), ("HandShake", "02"),
                            ("BaudRate", baud.to_bytes(4, "little").hex())):
            self.reg(SETTINGS_KEY, value, "REG_BINARY", data)
        # The port mapping is read when the server starts.
        self.stop_server()
        self.start_server()
        self.process = subprocess.Popen([WINE, exe], env=self.env, stdout=self.log,
                                        stderr=self.log)

    def reg(self, key, value, kind, data):
        subprocess.run([WINE, "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f"],
                       env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)

    def start_server(self):
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env)
        time.sleep(0.3)

    def stop_server(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL)
        if self.server:
            self.server.wait(timeout=20)

    def cpu(self):
        """The program's processor time, and its Wine server's."""
        return cpu_seconds(self.process.pid), cpu_seconds(self.server.pid)

    def stop(self):
        self.stop_server()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.log.close()


def prefix_process(prefix, name):
    """The process of a prefix whose command line names name (Wine's loader
    may hand a program on to a process of its own)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if name.encode() in f.read().lower():
                    return int(pid)
        except OSError:
            continue
    return None


def wine_floor(args):
    """What an idle Wine program costs on its own: Wine's stock Notepad in a
    fresh prefix, measured like MossLane.exe at rest (the program and its
    prefix's server), for the idle figures of the wine rows to be read against."""
    template = subprocess.run([os.path.join(HERE, "..", "cmake", "wine-template")],
                              capture_output=True, text=True, check=True).stdout.strip()
    work = tempfile.mkdtemp(prefix="mosslane-floor.")
    display = Display()
    prefix = os.path.join(work, "prefix")
    server = program = None
    try:
        subprocess.run(["cp", "-a", template, prefix], check=True)
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display.name)
        server = subprocess.Popen([WINESERVER, "-f", "-p"], env=env)
        time.sleep(0.3)
        program = subprocess.Popen([WINE, "notepad"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        time.sleep(5)
        notepad = prefix_process(prefix, "notepad") or program.pid
        before = cpu_seconds(notepad), cpu_seconds(server.pid)
        time.sleep(args.idle)
        after = cpu_seconds(notepad), cpu_seconds(server.pid)
        return [(a - b) / args.idle for a, b in zip(after, before)]
    finally:
        if server is not None:
            subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
            server.wait(timeout=20)
        if program is not None:
            try:
                program.wait(timeout=20)
            except subprocess.TimeoutExpired:
                program.kill()
        display.stop()
        shutil.rmtree(work, ignore_errors=True)


def arrived_whole(folder, files):
    for rel, size in files:
        path = os.path.join(folder, rel)
        if not os.path.isfile(path) or os.path.getsize(path) != size:
            return False
    return True


def any_file_under(folder):
    return any(names for _, _, names in os.walk(folder))


def run_wine(work, baud, files, args):
    template = subprocess.run([os.path.join(HERE, "..", "cmake", "wine-template")],
                              capture_output=True, text=True, check=True).stdout.strip()
    display = Display()
    line = Emulator(work, baud, args)
    sides = []
    try:
        b = WineSide("B", work, line.link_b, args.exe, baud, template, display.name)
        sides.append(b)
        a = WineSide("A", work, line.link_a, args.exe, baud, template, display.name)
        sides.append(a)
        time.sleep(5)  # both started and polling
        idle_before = [sum(s.cpu()) for s in sides]
        time.sleep(args.idle)
        idle = [(sum(s.cpu()) - c) / args.idle for s, c in zip(sides, idle_before)]

        stage = os.path.join(work, "stage")
        digests = make_files(stage, files, args.seed)
        cpu_before = [s.cpu() for s in (a, b)]
        landed = time.monotonic()
        for entry in os.listdir(stage):
            os.rename(os.path.join(stage, entry), os.path.join(a.out_dir, entry))
        deadline = landed + 3 * line_seconds(files, baud) + 60
        while not (arrived_whole(b.in_dir, files) and not any_file_under(a.out_dir)):
            if time.monotonic() > deadline:
                raise Failure("the batch did not complete")
            time.sleep(0.1)
        time.sleep(2)  # the last acknowledgements
        cpu_after = [s.cpu() for s in (a, b)]
        intact = check_files(b.in_dir, digests)
    finally:
        for side in sides:
            side.stop()
        stats = line.stop()
        display.stop()
    there, back = stats["a_to_b"], stats["b_to_a"]
    opened = there["first_at"]
    ended = max(t for t in (there["last_at"], back["last_at"]) if t is not None)
    seconds = ended - opened
    # The programs' time before the link opened is idle time: take it off.
    waited = opened - landed
    cpu = []
    for (program0, server0), (program1, server1), idle_rate in zip(cpu_before, cpu_after, idle):
        cpu.append(max(0.0, program1 - program0 + server1 - server0 - idle_rate * waited))
    if args.verbose:
        print("   line:", stats, file=sys.stderr)
        print("   wine servers:", [round(a1[1] - a0[1], 3) for a0, a1 in zip(cpu_before, cpu_after)],
              file=sys.stderr)
    return {"seconds": seconds, "cpu": cpu, "idle": idle, "start": waited, "intact": intact,
            "rss": [0, 0]}


PEERS = {
    # name: (sender, receiver)
    "ymodem-1k": (["sb", "-k", "-f", "-q"], ["rb", "-q", "-y"]),
    "zmodem": (["sz", "-f", "-q"], ["rz", "-q", "-y"]),
}


def run_peer(work, baud, files, args, peer):
    send_command, receive_command = PEERS[peer]
    line = Emulator(work, baud, args)
    try:
        stage = os.path.join(work, "stage")
        incoming = os.path.join(work, "in")
        os.makedirs(incoming)
        digests = make_files(stage, files, args.seed)
        names = sorted(digests)
        # lrzsz talks on its standard input and output.
        end_b = os.open(line.link_b, os.O_RDWR | os.O_NOCTTY)
        end_a = os.open(line.link_a, os.O_RDWR | os.O_NOCTTY)
        log = open(os.path.join(work, peer + ".log"), "wb")
        receiver = subprocess.Popen(receive_command, stdin=end_b, stdout=end_b, stderr=log,
                                    cwd=incoming)
        started = time.monotonic()
        sender = subprocess.Popen(send_command + names, stdin=end_a, stdout=end_a, stderr=log,
                                  cwd=stage)
        os.close(end_a)
        os.close(end_b)
        hung = False
        usage = {}
        # A peer that hangs at the end of a batch is ended after a generous time.
        deadline = started + 3 * line_seconds(files, baud) + 60
        while len(usage) < 2:
            for child in (sender, receiver):
                if child.pid in usage:
                    continue
                pid, status, rusage = os.wait4(child.pid, os.WNOHANG)
                if pid == child.pid:
                    child.returncode = status
                    usage[pid] = rusage
                    ended = time.monotonic()
            if time.monotonic() > deadline:
                for child in (sender, receiver):
                    if child.pid not in usage:
                        child.kill()
                        _, _, usage[child.pid] = os.wait4(child.pid, 0)
                ended = time.monotonic()
                hung = True
            time.sleep(POLL_S)
        cpu = [usage[p].ru_utime + usage[p].ru_stime for p in (sender.pid, receiver.pid)]
        rss = [usage[p].ru_maxrss for p in (sender.pid, receiver.pid)]
        log.close()
        return {"seconds": ended - started, "cpu": cpu, "idle": None, "start": None,
                "intact": check_files(incoming, digests), "rss": rss, "hung": hung}
    finally:
        stats = line.stop()
        if args.verbose:
            print("   line:", stats, file=sys.stderr)


def line_seconds(files, baud):
    return payload_of(files) * 10 / baud if baud else 3600


def payload_of(files):
    return sum(size for _, size in files)


def report(speed, label, impl, files, result):
    seconds = result["seconds"]
    capacity = seconds * speed / 10
    # An unpaced line has no rate to compare with: its throughput instead.
    efficiency = (f"{payload_of(files) / capacity * 100:6.2f}%" if capacity
                  else f"{payload_of(files) / seconds / 1024:5.0f}K/s")
    cpu = "  ".join(f"{c / seconds * 100:5.2f}% ({c:6.2f} s)" for c in result["cpu"])
    idle = ("  ".join(f"{i * 100:5.3f}%" for i in result["idle"])
            if result["idle"] is not None else "    -       -   ")
    start = f"{result['start']:5.2f} s" if result["start"] is not None else "    -  "
    intact = f"{result['intact']}/{len(files)}" + (" hung" if result.get("hung") else "")
    print(f"{speed:6d}  {label:26s} {impl:10s} {seconds:8.1f} s  {efficiency:>7s}  {cpu}  "
          f"{idle}  {start}  {intact:>9s}  {result['rss'][0]:6d} {result['rss'][1]:6d}",
          flush=True)


def main():
    parser = argparse.ArgumentParser(description="paced-line transfer benchmark")
    parser.add_argument("mosslane")
    parser.add_argument("--speeds", default="115200,57600,19200")
    parser.add_argument("--workloads", default="big,medium,small")
    parser.add_argument("--impls", default="mosslane,ymodem-1k,zmodem")
    parser.add_argument("--bit-errors", type=float, default=0.0)
    parser.add_argument("--drops", type=float, default=0.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--idle", type=float, default=5.0, help="seconds of idle measured")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--exe", help="MossLane.exe for --impls wine (two copies under wine64)")
    args = parser.parse_args()
    args.mosslane = os.path.abspath(args.mosslane)
    impls = args.impls.split(",")
    if "wine" in impls and not (args.exe and os.path.isfile(args.exe)):
        print("(wine: no MossLane.exe given with --exe, skipped)")
        impls.remove("wine")
    elif "wine" in impls:
        args.exe = os.path.abspath(args.exe)
    for peer in [i for i in impls if i in PEERS]:
        if shutil.which(PEERS[peer][0][0]) is None or shutil.which(PEERS[peer][1][0]) is None:
            print(f"({peer}: lrzsz is not installed, skipped)")
            impls.remove(peer)

    print(f"line: 10 bits a byte, bit errors {args.bit_errors:g} per bit, drops {args.drops:g} "
          f"per byte, seed {args.seed}; cpu is the share of one core over the batch")
    print(f"{'speed':6s}  {'workload':26s} {'program':10s} {'time':>10s}  {'effic.':>7s}  "
          f"{'cpu sender':>18s}  {'cpu receiver':>18s}  {'idle A':>6s}  {'idle B':>6s}  "
          f"{'start':>7s}  {'intact':>9s}  {'peak RSS KiB':>13s}")
    if "wine" in impls:
        program, server = wine_floor(args)
        print(f"(wine at rest on its own: Notepad {program * 100:.3f}% and its server "
              f"{server * 100:.3f}%, {(program + server) * 100:.3f}% in all, over {args.idle:g} s)")
    for speed in [int(s) for s in args.speeds.split(",")]:
        for key in args.workloads.split(","):
            label, build = WORKLOADS[key]
            files = build()
            for impl in impls:
                work = tempfile.mkdtemp(prefix="mosslane-line.")
                try:
                    if impl == "mosslane":
                        result = run_mosslane(work, speed, files, args)
                    elif impl == "wine":
                        result = run_wine(work, speed, files, args)
                    else:
                        result = run_peer(work, speed, files, args, impl)
                    report(speed, label, impl, files, result)
                except Failure as failure:
                    print(f"{speed:6d}  {label:26s} {impl:10s} failed: {failure} (logs in {work})")
                    continue
                shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
