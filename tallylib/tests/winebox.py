"""A throw-away Wine prefix with an X display of its own, for tests that
need windows, a printer or files shared with Linux. Everything it starts is
stopped and removed on every way out."""

import os
import shutil
import subprocess
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


class WineBox:
    """user: a uid to run Wine as instead of the caller (who is then root), for tests
    where folder permissions must count."""

    def __init__(self, source_dir, user=None):
        self.source_dir = source_dir
        self.user = user
        self.tmp = None
        self.xvfb = None
        self.env = None

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="tally-wine.")
        try:
            template = subprocess.run([os.path.join(self.source_dir, "cmake", "wine-template")],
                                      check=True, capture_output=True, text=True).stdout.strip()
            subprocess.run(["cp", "-a", template, self.prefix], check=True)
            display = self._start_display()
            self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=display)
            if self.user is not None:
                self._hand_over()
            # Keep the server up between the many short runs of a test.
            self.start_server()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def start_server(self):
        """A persistent server; what it prints (an object dump when a tty it
        holds hangs up) goes to a log in the box."""
        with open(os.path.join(self.tmp, "wineserver.log"), "ab") as log:
            subprocess.run(self.command(WINESERVER, "-p"), env=self.env, check=True,
                           stdout=log, stderr=subprocess.STDOUT)

    def _hand_over(self):
        # The template's record of its server points into the caller's server folder.
        os.remove(os.path.join(self.prefix, "wineserver"))
        os.chmod(self.tmp, 0o755)
        self.give(self.tmp)
        self.env["HOME"] = self.tmp

    def give(self, path):
        """Makes path (a tree) the Wine user's, so that its permissions are the ones a user has."""
        if self.user is not None:
            subprocess.run(["chown", "-R", f"{self.user}:{self.user}", path], check=True)

    def command(self, *args):
        """A command line that runs as the box's user."""
        if self.user is None:
            return list(args)
        return ["setpriv", f"--reuid={self.user}", f"--regid={self.user}", "--clear-groups", *args]

    def __exit__(self, *exc):
        if self.env:
            subprocess.run(self.command(WINESERVER, "-k"), env=self.env, capture_output=True)
            try:
                subprocess.run(self.command(WINESERVER, "-w"), env=self.env, capture_output=True, timeout=30)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False

    @property
    def prefix(self):
        return os.path.join(self.tmp, "prefix")

    def _start_display(self):
        """Takes the first display from :90 to :99 that no one else holds."""
        for n in range(90, 100):
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            xvfb = subprocess.Popen(["Xvfb", f":{n}", "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and xvfb.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    time.sleep(0.2)
                    if xvfb.poll() is None:
                        self.xvfb = xvfb
                        return f":{n}"
                time.sleep(0.05)
            if xvfb.poll() is None:
                xvfb.kill()
            xvfb.wait()
        raise RuntimeError("no free X display between :90 and :99")

    def run(self, *args, cwd=None, timeout=120):
        """Runs a Windows program; returns (exit code, output)."""
        # A file, not a pipe: Wine's helper processes would hold a pipe open.
        with tempfile.TemporaryFile(dir=self.tmp) as out:
            code = subprocess.run(self.command(WINE, *args), env=self.env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", "replace")

    def reg_add(self, key, name, value):
        code, out = self.run("reg", "add", key, "/v", name, "/d", value, "/f")
        if code != 0:
            raise RuntimeError(f"reg add {key} {name}: {out}")

    @staticmethod
    def windows_path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")
