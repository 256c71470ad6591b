#!/usr/bin/env python3
"""MossLane.exe's settings under Wine: the first start, values of the wrong
length, stored folders that cannot be used, a cancelled first chooser and a
settings key that cannot be opened. One prefix; each case starts the program
afresh. Usage: settings_session.py BUILD_DIR"""

import os
import struct
import sys

from mossbox import KEY, Failure, MossBox, PtyPair, Suite, folder_value, text_of, wait_until

SCREEN = (1024, 768)  # the Xvfb screen of WineBox
EXIT_FAILED = 255  # -1 as Linux sees a Windows exit code
suite = Suite()
check = suite.check


def exact(values, name, size):
    value = values.get(name)
    check(isinstance(value, bytes), f"{name} missing or not binary: {value!r}")
    check(len(value) == size, f"{name} is {len(value)} bytes, expected {size}")
    return value


def port_settled(box):
    return wait_until(lambda: (box.settings() or {}).get("HandShake") is not None and box.settings(), 20,
                      "the serial settings after the port open")


def exit_program(box, program):
    box.drive("command", 14)
    code = program.wait_exit()
    check(code == 0, f"Exit ended with {code}")


def make_folders(box):
    incoming, outgoing = box.path("in"), box.path("out")
    os.makedirs(incoming, exist_ok=True)
    os.makedirs(outgoing, exist_ok=True)
    return incoming, outgoing


def first_start(box):
    box.end_programs()
    box.reg_delete_key()
    incoming, outgoing = make_folders(box)
    program = box.start()
    out = box.answer_chooser("Select Incoming Folder", incoming)
    folder = [l for l in out.splitlines() if l.startswith("folder=")][0][7:]
    check(folder.lower() == "c:\\", f"the chooser opened at {folder!r}, not the root of the Windows drive")
    x, y, w, h = (int(v) for v in [l for l in out.splitlines() if l.startswith("rect=")][0][5:].split())
    check((x, y) == ((SCREEN[0] - w) // 2, (SCREEN[1] - h) // 3), f"the chooser is not centred: {x},{y} {w}x{h}")
    name = [l for l in out.splitlines() if l.startswith("name=")][0][5:]
    check(name == "!moss~lane!.ml", f"the hidden name box holds {name!r}")
    check(box.drive_code("wait-main", 0)[0] != 0, "the main window exists before the folders are chosen")
    box.answer_chooser("Select Outgoing Folder", outgoing)
    box.wait_main()
    values = port_settled(box)
    check(text_of(exact(values, "InDirectory", 260)) == box.windows_path(incoming), "InDirectory")
    check(text_of(exact(values, "OutDirectory", 260)) == box.windows_path(outgoing), "OutDirectory")
    check(exact(values, "TranslateText", 1) == b"\1", "TranslateText is not 1")
    check(text_of(exact(values, "TextExtensions", 256)) == ".txt", "TextExtensions is not .txt")
    check(exact(values, "SerialPort", 1) == b"\2", f"SerialPort {values['SerialPort']!r}")
    check(exact(values, "BaudRate", 4) == struct.pack("<I", 57600), f"BaudRate {values['BaudRate']!r}")
    check(exact(values, "HandShake", 1) == b"\1", f"HandShake {values['HandShake']!r}")
    check(box.window_state()["iconic"] == "1", "the main window is not minimised")
    check(box.checked() == [5, 9, 11], f"check marks {box.checked()}, expected COM2, 57600, CTS")
    exit_program(box, program)


# name, stored bytes, default the program must put in its place
WRONG_LENGTHS = [
    ("BaudRate", struct.pack("<H", 19200), struct.pack("<I", 57600)),
    ("SerialPort", struct.pack("<I", 1), b"\2"),
    ("HandShake", b"", b"\1"),
    ("TranslateText", b"\0\0", b"\1"),
    ("TextExtensions", b".doc\0", b".txt" + b"\0" * 252),
]


def wrong_lengths(box):
    box.end_programs()
    box.reg_delete_key()
    incoming, outgoing = make_folders(box)
    box.seed_folders(incoming, outgoing)
    for name, stored, _ in WRONG_LENGTHS:
        box.reg_binary(name, stored)
    program = box.start()
    box.wait_main()
    values = wait_until(lambda: all(len((box.settings() or {}).get(n, b"")) == len(d) for n, _, d in WRONG_LENGTHS)
                        and box.settings(), 20, "every value of the wrong length replaced")
    for name, _, default in WRONG_LENGTHS:
        got = values[name]
        same = text_of(got) == text_of(default) if len(default) > 4 else got == default
        check(same, f"{name} became {got[:16]!r}, expected {default[:16]!r}")
    check(box.checked() == [5, 9, 11], f"check marks {box.checked()}")
    exit_program(box, program)


# stored value, message expected at start-up, check marks then
STORED_LINE = [
    ("SerialPort", b"\5", "The serial port is not available.", []),
    ("SerialPort", b"\0", "The serial port is not available.", []),
    ("BaudRate", struct.pack("<I", 9600), None, [5, 11]),
    ("HandShake", b"\3", None, [5, 9, 12]),
]


def stored_line_settings(box):
    """Port numbers outside 1 to 4 open nothing; an unusual speed is used as stored;
    any handshaking other than CTS is None."""
    incoming, outgoing = make_folders(box)
    for name, stored, message, marks in STORED_LINE:
        box.end_programs()
        box.reg_delete_key()
        box.seed_folders(incoming, outgoing)
        box.reg_binary(name, stored)
        program = box.start()
        text = box.message_box(5000 if message else 2000)
        check(text == message, f"{name} {stored!r}: message {text!r}, expected {message!r}")
        box.wait_main()
        wait_until(lambda: box.checked() == marks, 10, f"{name} {stored!r}: marks {marks} (have {box.checked()})")
        check(box.settings()[name] == stored, f"{name} {stored!r} was rewritten")
        exit_program(box, program)


def unusable_folders(box):
    """A stored folder that is missing, a file or read-only makes start-up ask for it again."""
    incoming, outgoing = make_folders(box)
    plain = box.path("plain-file")
    with open(plain, "wb") as f:
        f.write(b"x")
    readonly = box.path("read-only")
    os.makedirs(readonly, exist_ok=True)
    os.chmod(readonly, 0o555)
    cases = [("missing", box.path("no-such-folder")), ("a file", plain), ("read-only", readonly)]
    for which, title in (("InDirectory", "Select Incoming Folder"), ("OutDirectory", "Select Outgoing Folder")):
        for label, bad in cases:
            box.end_programs()
            box.reg_delete_key()
            box.seed_folders(incoming, outgoing)
            box.reg_binary(which, folder_value(box.windows_path(bad)))
            program = box.start()
            try:
                box.answer_chooser(title, incoming if which == "InDirectory" else outgoing)
            except Failure:
                raise Failure(f"{which} {label}: start-up did not ask with \"{title}\"")
            box.wait_main()
            stored = text_of(box.settings()[which])
            good = incoming if which == "InDirectory" else outgoing
            check(stored == box.windows_path(good), f"{which} {label}: stored {stored!r} after the chooser")
            exit_program(box, program)
    os.chmod(readonly, 0o755)


def cancelled_first_chooser(box):
    box.end_programs()
    box.reg_delete_key()
    program = box.start()
    box.answer_chooser("Select Incoming Folder", None)
    code = program.wait_exit()
    check(code == EXIT_FAILED, f"exit code {code}, expected -1")
    check(box.drive_code("wait-window", "#32770", "Select Outgoing Folder", 0)[0] != 0,
          "the outgoing folder was asked for")
    values = box.settings() or {}
    check("InDirectory" not in values, "a folder was stored")


def key_cannot_be_opened(box):
    box.end_programs()
    box.reg_delete_key()
    box.run("reg", "delete", r"HKCU\Software\Vantree", "/f")
    box.drive("volatile-key", r"Software\Vantree")
    program = box.start()
    try:
        text = box.message_box(20000)
        check(text == "A disk error has occurred.", f"message {text!r}")
        code = program.wait_exit()
        check(code == EXIT_FAILED, f"exit code {code}, expected -1")
        check(box.drive_code("wait-main", 0)[0] != 0, "a main window exists")
    finally:
        box.run("reg", "delete", r"HKCU\Software\Vantree", "/f")


def main():
    build = sys.argv[1]
    # COM2, the default port, is one end of a cable: the open succeeds.
    with PtyPair() as cable, MossBox(build, ports={"COM2": cable.a}) as box:
        suite.run("first start asks for both folders and stores every value at its size", first_start, box)
        suite.run("values of the wrong length are replaced by their defaults", wrong_lengths, box)
        suite.run("stored port, speed and handshaking outside the menu's choices", stored_line_settings, box)
        suite.run("a missing, file or read-only folder is asked for again", unusable_folders, box)
        suite.run("cancelling the first chooser exits -1 before any window", cancelled_first_chooser, box)
        suite.run("a settings key that cannot be opened shows message 7 and exits -1", key_cannot_be_opened, box)
    return suite.finish()


if __name__ == "__main__":
    sys.exit(main())
