#!/usr/bin/env python3
"""MossLane.exe's menu commands under Wine, sent as the menu sends them
(WM_COMMAND with lParam 0): line settings with their check marks, ports that
cannot be opened, the choosers and Text File Preferences, Help and About, and
every way out. Screenshots go to BUILD_DIR/tests/gui/shots.
Usage: commands_session.py BUILD_DIR"""

import os
import shutil
import struct
import sys
import time

from mossbox import KEY, Failure, MossBox, PtyPair, Suite, folder_value, text_of, wait_until

suite = Suite()
check = suite.check
SHOTS = None
VK_SPACE = 0x20


def start_seeded(box, exe=None):
    incoming, outgoing = box.path("in"), box.path("out")
    os.makedirs(incoming, exist_ok=True)
    os.makedirs(outgoing, exist_ok=True)
    if not (box.settings() or {}).get("InDirectory"):
        box.seed_folders(incoming, outgoing)
    program = box.start(exe=exe)
    box.wait_main()
    wait_until(lambda: "HandShake" in (box.settings() or {}), 20, "the first port open")
    return program


def shot(box, name, window_class=None, title="-"):
    path = box.screenshot(os.path.join(SHOTS, name), window_class, title)
    print(f"     screenshot: {path}", flush=True)


def await_marks(box, marks, what):
    try:
        wait_until(lambda: box.checked() == marks, 10, what)
    except Failure:
        raise Failure(f"{what}: check marks {box.checked()}, expected {marks}")


# command, value, stored bytes, check marks afterwards (COM1 4..COM4 7, 115200 8, 57600 9, 19200 10, CTS 11, None 12)
LINE_CHOICES = [
    (4, "SerialPort", b"\1", [4, 9, 11]),
    (8, "BaudRate", struct.pack("<I", 115200), [4, 8, 11]),
    (10, "BaudRate", struct.pack("<I", 19200), [4, 10, 11]),
    (12, "HandShake", b"\2", [4, 10, 12]),
    (11, "HandShake", b"\1", [4, 10, 11]),
    (7, "SerialPort", b"\4", [7, 10, 11]),
    (9, "BaudRate", struct.pack("<I", 57600), [7, 9, 11]),
    (5, "SerialPort", b"\2", [5, 9, 11]),
    (5, "SerialPort", b"\2", [5, 9, 11]),  # the checked item again re-opens the port
]


def line_choices(box):
    await_marks(box, [5, 9, 11], "after start-up")
    for command, name, stored, marks in LINE_CHOICES:
        box.drive("command", command)
        wait_until(lambda: (box.settings() or {}).get(name) == stored, 10, f"command {command} storing {name}")
        await_marks(box, marks, f"command {command}")
        check(box.message_box(0, 0) is None, f"command {command} showed a message")


def port_unavailable(box, program):
    # Command 6 from the menu is COM3, which leads nowhere here.
    box.drive("command", 6)
    text = box.message_box(10000)
    check(text == "The serial port is not available.", f"COM3: message {text!r}")
    check((box.settings() or {}).get("SerialPort") == b"\3", "COM3 was not stored")
    check(program.running(), "the program ended after message 5")
    await_marks(box, [], "after a failed open")
    box.drive("command", 5)
    await_marks(box, [5, 9, 11], "back on COM2")
    check(box.texts()["7"] == "Idle", "the panel does not read Idle")


def second_instance(box):
    """A second start while one runs says so and ends with 0; the first runs on."""
    first = fresh(box)
    second = box.start()
    text = box.message_box(20000)
    check(text == "An instance of this program is already running.", f"message {text!r}")
    code = second.wait_exit()
    check(code == 0, f"the second instance ended with {code}")
    check(first.running() and box.texts()["7"] == "Idle", "the first instance did not run on")


def fresh(box, exe=None):
    """Ends whatever runs in the box, then starts the program with its folders."""
    for program in box.programs:
        if program.running():
            box.drive_code("command", 14)
            try:
                program.wait_exit(10)
            except Failure:
                program.kill()
    return start_seeded(box, exe)


def unavailable_at_start_up(box):
    """The stored port cannot be opened at start-up: message 5 once, the window
    still comes, and another port then opens. (A port held by another Windows
    program cannot be staged here: Wine opens a serial device however often it
    is asked, and root passes Linux's exclusive-tty lock.)"""
    fresh(box)
    box.drive("command", 6)
    box.message_box(10000)
    box.drive("command", 14)
    box.programs[-1].wait_exit()
    program = box.start()
    text = box.message_box(20000)
    check(text == "The serial port is not available.", f"message {text!r}")
    box.wait_main()
    check(program.running(), "the program ended")
    check(box.window_state()["iconic"] == "1", "the main window is not shown minimised")
    await_marks(box, [], "with the port unavailable")
    check(box.message_box(1000, 0) is None, "message 5 came twice")
    box.drive("command", 4)
    await_marks(box, [4, 9, 11], "after choosing the free COM1")
    check(box.settings().get("SerialPort") == b"\1", "COM1 was not stored")
    box.drive("command", 5)
    await_marks(box, [5, 9, 11], "back on COM2")


# typed text, check box, button, stored list, stored translate flag
TEXT_PREFS = [
    ("*.TXT, *.doc", 0, "--ok", " .txt .doc", b"\0"),
    ("*.TXT, *.doc", 1, "--cancel", " .txt .doc", b"\0"),  # Cancel keeps both
    (".txt", 1, "--ok", ".txt", b"\1"),
    ("a,,b\t*c", 1, "--ok", "a b c", b"\1"),
    ("", 1, "--ok", "", b"\1"),
    ("x" * 300, 1, "--ok", "x" * 255, b"\1"),  # the field holds 255 characters and the NUL
    (".txt .ini", 1, "--ok", ".txt .ini", b"\1"),
]


def text_preferences(box):
    for typed, checked, button, stored, translate in TEXT_PREFS:
        box.drive("command", 3)
        out = box.drive("textprefs", 10000, "--ext", typed, "--check", checked, "--leave")
        if typed == TEXT_PREFS[0][0] and button == "--ok":
            shot(box, "text-file-preferences.png", "#32770", "Text File Preferences")
        box.drive("textprefs", 10000, button)
        values = box.settings()
        want = (stored, translate)
        got = (text_of(values["TextExtensions"]), values["TranslateText"])
        check(len(values["TextExtensions"]) == 256, "TextExtensions is not 256 bytes")
        check(got == want, f"typed {typed!r} {button}: stored {got!r}, expected {want!r}")
    # The dialog opens with what is in force.
    box.drive("command", 3)
    out = box.drive("textprefs", 10000, "--cancel")
    check("ext=.txt .ini" in out and "check=1" in out, f"the dialog opened with {out!r}")


def folder_choosers(box):
    other = box.path("other-in")
    os.makedirs(other, exist_ok=True)
    before = box.settings()["InDirectory"]
    box.drive("command", 1)
    box.answer_chooser("Select Incoming Folder", None)
    check(box.settings()["InDirectory"] == before, "a cancelled chooser changed the folder")
    box.drive("command", 1)
    box.answer_chooser("Select Incoming Folder", other)
    check(text_of(box.settings()["InDirectory"]) == box.windows_path(other), "the chosen folder was not stored")
    # A drive root is stored as the drive alone. The incoming folder is never
    # scanned, and the drive is a folder of the test's own.
    root = box.private_drive("y")
    box.drive("command", 1)
    box.answer_chooser("Select Incoming Folder", root)
    value = box.settings()["InDirectory"]
    check(len(value) == 260 and text_of(value) == "Y:", f"the root was stored as {text_of(value)!r}")
    box.drive("command", 1)
    box.answer_chooser("Select Incoming Folder", box.path("in"))


def idle_window(box):
    box.drive("show")
    texts = box.texts()
    idle = {"7": "Idle", "1": "", "2": "0", "3": "0", "4": "0", "5": "0", "caption": "Moss Lane"}
    check(all(texts.get(k) == v for k, v in idle.items()), f"idle panel {texts}")
    check(texts.get("cancel-visible") == "0", "Cancel is visible while idle")
    shot(box, "main-window-idle.png", "MossLane")


def about_window(box):
    box.drive("command", 16)
    box.drive("wait-window", "Brim About Box", "-", 10000)
    time.sleep(0.5)  # the first paint
    shot(box, "about.png", "Brim About Box")
    box.drive("post-key", "Brim About Box", VK_SPACE)
    check(box.drive_code("wait-gone", "Brim About Box", "-", 10000)[0] == 0, "About stayed open after a key")
    check(box.texts()["7"] == "Idle", "the main window does not answer after About")


def viewer_opens(box, what):
    code, _ = box.drive_code("wait-window", "MS_WINHELP", "-", 20000)
    if code != 0:
        # Never leave a chooser or an error box of the viewer waiting.
        box.drive_code("chooser", "Open Help File", 0, "--cancel")
        box.message_box(0, 1)
        raise Failure(f"{what}: no help viewer window")


def close_viewer(box):
    box.drive_code("close-window", "MS_WINHELP")


def no_viewer(box, what):
    check(box.drive_code("wait-window", "MS_WINHELP", "-", 3000)[0] != 0, f"{what}: the viewer opened")
    check(box.drive_code("wait-window", "#32770", "Open Help File", 0)[0] != 0, f"{what}: the chooser opened")
    check(box.message_box(0, 1) is None, f"{what}: a message was shown")


def help_contents(box):
    """The help file from the settings, else beside the program, else the one the user picks.
    A copy of the program in a folder of the test's own makes 'beside the program' controllable."""
    built_help = os.path.join(box.build_dir, "shell", "MossLane.hlp")
    check(os.path.exists(built_help), f"{built_help} missing")
    folder = box.path("program")
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, "MossLane.exe")
    shutil.copy(box.exe, exe)
    beside = os.path.join(folder, "MossLane.hlp")
    shutil.copy(built_help, beside)
    elsewhere = box.path("manuals")
    os.makedirs(elsewhere, exist_ok=True)
    picked = os.path.join(elsewhere, "Picked.hlp")
    shutil.copy(built_help, picked)
    fresh(box, exe)

    def stored():
        return text_of((box.settings() or {}).get("HelpFile", b"")).lower()

    # No value and a file beside the program: it opens without asking.
    box.run("reg", "delete", KEY, "/v", "HelpFile", "/f")
    box.drive("command", 15)
    viewer_opens(box, "no value, file beside")
    time.sleep(1.0)  # the viewer's first paint
    shot(box, "help-viewer.png", "MS_WINHELP")
    check(stored() in ("", box.windows_path(beside).lower()), f"HelpFile stored as {stored()!r}")
    close_viewer(box)
    # A stored file that is gone: the one beside the program opens and is stored.
    box.reg_binary("HelpFile", folder_value(box.windows_path(box.path("gone.hlp"))))
    box.drive("command", 15)
    viewer_opens(box, "stored file gone")
    check(stored() == box.windows_path(beside).lower(), f"HelpFile {stored()!r}, expected the one beside")
    close_viewer(box)
    # A stored path in a folder that is gone: nothing at all.
    box.reg_binary("HelpFile", folder_value(box.windows_path(box.path("no-such-folder/x.hlp"))))
    box.drive("command", 15)
    no_viewer(box, "stored folder gone")
    # Neither: the chooser opens in the program's folder; the pick is stored and used next time.
    os.remove(beside)
    box.reg_binary("HelpFile", folder_value(box.windows_path(box.path("gone.hlp"))))
    box.drive("command", 15)
    out = box.drive("chooser", "Open Help File", 10000, "--leave")
    shown = [l for l in out.splitlines() if l.startswith("folder=")][0][7:]
    check(shown.lower().rstrip("\\") == box.windows_path(folder).lower(), f"the chooser opened at {shown!r}")
    box.drive("chooser", "Open Help File", 10000, "--file=" + box.windows_path(picked))
    viewer_opens(box, "picked file")
    check(stored() == box.windows_path(picked).lower(), f"HelpFile {stored()!r} after the pick")
    close_viewer(box)
    box.drive("command", 15)
    viewer_opens(box, "picked file, next time")
    # Exit tells the viewer to quit.
    box.drive("command", 14)
    box.programs[-1].wait_exit()
    check(box.drive_code("wait-gone", "MS_WINHELP", "-", 10000)[0] == 0, "the viewer stayed after Exit")


# how the program is asked to end, and what the settings key looks like afterwards
EXITS = [
    ("Exit", ["command", 14], True),
    ("closing the window", ["close"], True),
    ("log-off", ["endsession"], True),
    ("Clean Registry and Exit", ["command", 13], False),
]


def exits(box):
    for label, action, key_stays in EXITS:
        program = fresh(box)
        out = box.drive(*action)
        if action[0] == "endsession":
            check(out.strip() not in ("0", "no answer"), f"log-off answered {out.strip()!r}")
        code = program.wait_exit()
        check(code == 0, f"{label}: exit code {code}")
        check((box.settings() is not None) == key_stays, f"{label}: settings key {'gone' if key_stays else 'kept'}")
        check(box.drive_code("wait-window", "MS_WINHELP", "-", 0)[0] != 0 or label == "Clean Registry and Exit",
              f"{label}: the help viewer is still open")


def main():
    global SHOTS
    build = sys.argv[1]
    SHOTS = os.path.join(os.path.abspath(build), "tests", "gui", "shots")
    with PtyPair() as cable, PtyPair() as cable2, \
            MossBox(build, ports={"COM1": cable.a, "COM2": cable.b, "COM3": "/nonexistent/tty3",
                                  "COM4": cable2.a}) as box:
        program = start_seeded(box)
        suite.run("port, speed and handshaking choices store the value and move the marks", line_choices, box)
        suite.run("a port that cannot be opened shows message 5 and the program runs on",
                  port_unavailable, box, program)
        suite.run("text file preferences are normalised and stored, Cancel keeps them", text_preferences, box)
        suite.run("folder choosers from the menu: cancel, a folder, a drive root", folder_choosers, box)
        suite.run("the idle main window", idle_window, box)
        suite.run("About opens and closes on a key", about_window, box)
        suite.run("Help > Contents: stored, beside the program, or picked; quit at Exit", help_contents, box)
        suite.run("a port unavailable at start-up shows message 5 once; another port opens",
                  unavailable_at_start_up, box)
        suite.run("a second start shows message 2 and ends with 0", second_instance, box)
        suite.run("Exit, close, log-off end with 0; Clean Registry and Exit removes the key", exits, box)
    return suite.finish()


if __name__ == "__main__":
    sys.exit(main())
