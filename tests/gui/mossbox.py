"""MossLane.exe under Wine for tests and the demo: a prefix with its own display
(WineBox), COM ports mapped to ptys, the settings key read and written as
bytes, the program started and driven by mosslane_driver.exe, screenshots."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tallylib", "tests"))
from winebox import WINE, WINESERVER, WineBox  # noqa: E402

KEY = r"HKCU\Software\Vantree\MossLane"
PATH_FIELD = 260


class Failure(Exception):
    pass


def folder_value(windows_path):
    """A folder as the program stores it: ANSI, NUL-padded to 260 bytes."""
    data = windows_path.encode("cp1252")
    return data + b"\0" * (PATH_FIELD - len(data))


def text_of(value):
    return value.split(b"\0", 1)[0].decode("cp1252")


def parse_reg_export(text):
    """Values of one key from `reg export` output: name -> bytes (binary and
    hex(n) values), str for strings, int for dwords."""
    text = text.replace("\\\r\n", "").replace("\\\n", "")
    values = {}
    for line in text.splitlines():
        m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line.strip())
        if not m:
            continue
        name, raw = m.group(1).replace('\\"', '"').replace("\\\\", "\\"), m.group(2)
        h = re.match(r"^hex(?:\(\w+\))?:(.*)$", raw)
        if h:
            digits = [d.strip() for d in h.group(1).split(",") if d.strip()]
            values[name] = bytes(int(d, 16) for d in digits)
        elif raw.startswith("dword:"):
            values[name] = int(raw[6:], 16)
        elif raw.startswith('"'):
            values[name] = raw[1:-1]
    return values


class PtyPair:
    """A virtual null-modem cable: two ptys joined by socat."""

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="mosslane-cable.")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.tmp}/ttyA", f"pty,raw,echo=0,link={self.tmp}/ttyB"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (os.path.exists(f"{self.tmp}/ttyA") and os.path.exists(f"{self.tmp}/ttyB")):
            if time.monotonic() > deadline or self.socat.poll() is not None:
                self.__exit__()
                raise Failure("socat made no pty pair")
            time.sleep(0.05)
        self.a = os.path.realpath(f"{self.tmp}/ttyA")
        self.b = os.path.realpath(f"{self.tmp}/ttyB")
        return self

    def __exit__(self, *exc):
        self.socat.terminate()
        try:
            self.socat.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.socat.kill()
            self.socat.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)
        return False


class Program:
    """One running MossLane.exe."""

    def __init__(self, box, process, log):
        self.box, self.process, self.log = box, process, log

    def wait_exit(self, timeout=30):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"MossLane.exe still running after {timeout}s")

    def running(self):
        return self.process.poll() is None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class MossBox(WineBox):
    """A prefix for MossLane.exe. ports maps COM names to Linux devices."""

    def __init__(self, build_dir, ports=None, display=None, user=None):
        super().__init__(SOURCE, user)
        self.build_dir = os.path.abspath(build_dir)
        self.ports = ports or {}
        self.user_display = display
        self.programs = []
        self.drives = set()
        self.exe = os.path.join(self.build_dir, "shell", "MossLane.exe")
        self.driver = os.path.join(self.build_dir, "tests", "gui", "mosslane_driver.exe")

    def __enter__(self):
        super().__enter__()
        try:
            if not self.user_display:
                # No window manager on Xvfb: Wine draws captions and borders itself,
                # so screenshots show the windows as a user sees them.
                self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
            for name, device in self.ports.items():
                self.reg_add(r"HKLM\Software\Wine\Ports", name, device)
            # The port links are made when the server starts.
            self.restart_server()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        for program in self.programs:
            program.kill()
        return super().__exit__(*exc)

    def _start_display(self):
        if self.user_display:
            return self.user_display
        return super()._start_display()

    @property
    def display(self):
        return self.env["DISPLAY"]

    def restart_server(self):
        subprocess.run(self.command(WINESERVER, "-k"), env=self.env, capture_output=True)
        subprocess.run(self.command(WINESERVER, "-w"), env=self.env, capture_output=True, timeout=30)
        self.start_server()

    def path(self, name):
        """A folder of the test's own inside the box's temporary folder."""
        return os.path.join(self.tmp, name)

    # The settings key, as bytes.

    def reg_binary(self, name, data):
        code, out = self.run("reg", "add", KEY, "/v", name, "/t", "REG_BINARY", "/d", data.hex(), "/f")
        if code != 0:
            raise Failure(f"reg add {name}: {out}")

    def reg_delete_key(self):
        self.run("reg", "delete", KEY, "/f")

    def settings(self):
        """The values of the key, or None when it does not exist."""
        out = os.path.join(self.tmp, "settings.reg")
        if os.path.exists(out):
            os.remove(out)
        code, _ = self.run("reg", "export", KEY, self.windows_path(out), "/y")
        if code != 0 or not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            return parse_reg_export(f.read().decode("utf-16"))

    def seed_folders(self, incoming, outgoing):
        self.reg_binary("InDirectory", folder_value(self.windows_path(incoming)))
        self.reg_binary("OutDirectory", folder_value(self.windows_path(outgoing)))

    # The program and the driver.

    def start(self, *args, exe=None):
        log = open(os.path.join(self.tmp, f"mosslane-{len(self.programs)}.log"), "wb")
        process = subprocess.Popen(self.command(WINE, exe or self.exe, *args), env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT)
        log.close()
        program = Program(self, process, log.name)
        self.programs.append(program)
        return program

    def end_programs(self):
        """Kills what a failed test left running, so the next one starts clean."""
        for program in self.programs:
            program.kill()

    def drive(self, *args, timeout=60, check=True):
        code, out = self.run(self.driver, *[str(a) for a in args], timeout=timeout)
        if check and code != 0:
            raise Failure(f"driver {' '.join(map(str, args))} failed ({code}): {out.strip()}")
        return out

    def drive_code(self, *args, timeout=60):
        code, out = self.run(self.driver, *[str(a) for a in args], timeout=timeout)
        return code, out

    def wait_main(self, ms=20000):
        self.drive("wait-main", ms)

    def panel(self):
        """Control texts by id ('7', '1', ... '6'), 'cancel-visible', 'caption', and the
        window's 'rect' (x, y, w, h), 'visible' and 'iconic', all from one reading."""
        found = {}
        for line in self.drive("texts").splitlines():
            if line.startswith("visible="):
                found.update(p.split("=") for p in line.split())
            elif line.startswith("rect="):
                found["rect"] = tuple(int(v) for v in line[5:].split())
            elif "=" in line:
                key, value = line.split("=", 1)
                found[key] = value
        return found

    def texts(self):
        return self.panel()

    def window_state(self):
        return self.panel()

    def menu(self):
        """Menu states: {'bar': {0: grayed, 1: grayed}, 'items': {id: (checked, grayed)}, 'close': grayed}."""
        out = self.drive("menu")
        state = {"bar": {}, "items": {}, "close": None, "names": {}}
        for line in out.splitlines():
            parts = line.split(" ", 4)
            if parts[0] == "bar":
                state["bar"][int(parts[1])] = parts[2] == "grayed=1"
            elif parts[0] == "item":
                state["items"][int(parts[1])] = (parts[2] == "checked=1", parts[3] == "grayed=1")
                state["names"][int(parts[1])] = parts[4] if len(parts) > 4 else ""
            elif parts[0] == "close":
                state["close"] = parts[1] == "grayed=1"
        return state

    def checked(self):
        return sorted(i for i, (c, _) in self.menu()["items"].items() if c)

    def message_box(self, ms=10000, button=1):
        """Waits for a message box, answers it; returns its text, or None."""
        code, out = self.drive_code("message-box", ms, button)
        if code != 0:
            return None
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)["text"]

    def answer_chooser(self, title, folder, ms=20000):
        """Selects a folder (a Linux path inside the box, or a drive of private_drive)
        in a chooser, or cancels it (folder None). Nothing outside the box is ever
        offered: the program sends and deletes what its outgoing folder holds, and
        removes empty sub-folders there."""
        if folder is None:
            target = "--cancel"
        elif re.fullmatch(r"[A-Ya-y]:\\?", folder) and folder[0].lower() in self.drives:
            target = folder
        else:
            inside = os.path.realpath(folder).startswith(os.path.realpath(self.tmp) + os.sep)
            if not inside:
                raise Failure(f"refusing to choose {folder}: outside the test's own folder")
            target = self.windows_path(folder)
        return self.drive("chooser", title, ms, target)

    def private_drive(self, letter):
        """A drive letter whose root is a folder of the box, for choosing a drive root."""
        root = self.path(f"drive-{letter}")
        os.makedirs(root, exist_ok=True)
        link = os.path.join(self.prefix, "dosdevices", f"{letter}:")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(root, link)
        self.drives.add(letter)
        return f"{letter.upper()}:\\"

    def rect(self, window_class, title="-"):
        return tuple(int(v) for v in self.drive("rect", window_class, title).split())

    def screenshot(self, path, window_class=None, title="-"):
        """The display, or one window of it, as a PNG."""
        os.makedirs(os.path.dirname(path), exist_ok=True)
        cmd = ["import", "-display", self.display, "-window", "root"]
        if window_class:
            code, out = self.drive_code("rect", window_class, title)
            if code == 0:
                x, y, w, h = (int(v) for v in out.split())
                x, y = max(x, 0), max(y, 0)
                cmd += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run(cmd + [path], check=True, capture_output=True, timeout=60)
        return path


SCREEN = (1024, 768)  # WineBox's Xvfb screen


def centred(rect):
    """Where CenterWindow puts a window: across the middle, a third of the free height down."""
    x, y, w, h = rect
    return (x, y) == ((SCREEN[0] - w) // 2, (SCREEN[1] - h) // 3)


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(0.1)


class Suite:
    """Runs named test functions, each reporting ok or FAIL; exit 1 if any failed."""

    def __init__(self):
        self.failed = []

    def run(self, name, fn, *args):
        start = time.monotonic()
        try:
            fn(*args)
            print(f"ok   {name} ({time.monotonic() - start:.1f}s)", flush=True)
        except Exception as e:  # every failure is reported, the next test still runs
            self.failed.append(name)
            print(f"FAIL {name}: {type(e).__name__}: {e}", flush=True)

    def check(self, condition, message):
        if not condition:
            raise Failure(message)

    def finish(self):
        if self.failed:
            print("failed: " + ", ".join(self.failed))
        return 1 if self.failed else 0
