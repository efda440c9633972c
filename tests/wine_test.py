#!/usr/bin/env python3
"""End-to-end tests of marvix.exe under Wine, against the Linux marvix.

    python3 tests/wine_test.py LINUX_MARVIX WINDOWS_MARVIX_EXE

Wine must be ready: WINE names its program (wine64), WINEPREFIX a prefix
whose wineserver is running and booted (see .ci/run).

Through pipes (no console): on the samples, every file of the fuzzing corpus
and cut copies of the sample, with and without -p, standard output must be
the Linux listing with "\\r\\n" line ends, and the exit status the Linux one.
Without a console, messages are dropped, so standard error stays empty.

Under a pseudo-terminal (a console for Wine): the banner and messages on it,
the prompt, a letter, an arrow key, Ctrl+C and Ctrl+2 each ending exactly
one pause, no echo, and the listing in the output file with "\\r\\n" line
ends; Ctrl+C in mid-listing ends the run with a status that is not 0. On a
console whose input mode cannot be read, the pauses do not wait. File
names in several scripts, a look-alike beside the name it resembles, and a
path of about 300 characters each list their own file and show on the
console as typed. Given in full, that path lists its file in the drive,
device ("//./", "\\\\.\\") and long-path ("//?/", "\\\\?\\") forms, and through
a share. With the console in code pages 437, 850, 1252 and 65001, names
from the file show in the listing and in a message as that code page shows
them, in caret form only where it decodes a byte to a control. In 65001
and 932, a character across the end of the first 32 KiB of a listing on the
console shows whole.

And the program's resources: a version resource and a manifest.
"""
import fcntl
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import termios
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = os.environ.get("WINE", "wine64")
OBJDUMP = os.environ.get("OBJDUMP", "x86_64-w64-mingw32-objdump")
TIMEOUT = 60
# Windows' status for a run ended by Ctrl+C, as Wine passes it on: its low byte.
STATUS_CONTROL_C_EXIT = 0xC000013A & 0xFF
PROMPT = b"press a key..."
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(argv):
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
    return done.returncode, done.stdout, done.stderr


def through_pipes(linux, windows, scratch):
    with open(os.path.join(ROOT, "examples", "demo.dbg"), "rb") as f:
        demo = f.read()
    cases = [os.path.join(ROOT, "examples", name) for name in ("demo.dbg", "paging.dbg")]
    corpus = os.path.join(ROOT, "fuzz", "corpus")
    cases += sorted(os.path.join(corpus, name) for name in os.listdir(corpus))
    for cut in range(0, len(demo), 61):
        path = os.path.join(scratch, "cut%d.dbg" % cut)
        with open(path, "wb") as f:
            f.write(demo[:cut])
        cases.append(path)
    cases += [os.path.join(scratch, "missing.dbg"), scratch]  # no such file; a directory

    runs = [[path] for path in cases] + [[path, "-p"] for path in cases[:2]]
    runs += [[], [cases[0], "-x"], [cases[0], "-P"], ["-p", cases[0]]]
    for args in runs:
        status, out, _ = run([linux] + args)
        wstatus, wout, werr = run([WINE, windows] + args)
        if (wstatus, wout, werr) == (1, b"", b"") and (status, out) != (1, b""):
            # Seen once on a loaded machine: Wine gave up starting the
            # program (status 1, no output; its own messages are off).
            # Such a run is made once more; a real fault fails again.
            wstatus, wout, werr = run([WINE, windows] + args)
        name = " ".join(os.path.basename(a) for a in args) or "(no arguments)"
        check(wout == out.replace(b"\n", b"\r\n"), "listing of %s" % name)
        check(wstatus == status, "status of %s: %d, Linux %d" % (name, wstatus, status))
        check(werr == b"", "nothing on standard error for %s" % name)
    print("through pipes: %d runs" % len(runs))

    # A reader that goes away ends the run quietly, with status 1.
    big = os.path.join(scratch, "big.dbg")
    subprocess.run([os.path.join(os.path.dirname(linux), "make_dbg"), "bench", big, "50"], check=True)
    shell = subprocess.run(["bash", "-c", '"$0" "$1" "$2" | head -c 100 >/dev/null; echo ${PIPESTATUS[0]}',
                            WINE, windows, big], capture_output=True, timeout=TIMEOUT, text=True)
    check(shell.stdout.strip() == "1", "status with a reader that went away: %r" % shell.stdout)


class Console:
    """marvix.exe with a pseudo-terminal as its console (standard input and
    error, and the controlling terminal, without which Wine sees no Ctrl+C)
    and standard output into a file (or a descriptor, or the console)."""

    def __init__(self, args, out_path, cwd=None, out_fd=None, listing_on_console=False):
        self.master, slave = pty.openpty()
        if listing_on_console:
            out_fd = slave

        def take_terminal():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        with open(out_path or os.devnull, "wb") as out:
            self.process = subprocess.Popen([WINE] + args, stdin=slave, stdout=out_fd or out, stderr=slave,
                                            preexec_fn=take_terminal, close_fds=True, cwd=cwd)
        os.close(slave)
        self.raw = b""
        self.closed = False

    def screen(self):
        # Wine's console redraws its text: hide and show the cursor around
        # each update, and end lines with "\r\r\n".
        text = re.sub(rb"\x1b\[\?25[lh]|\x1b\[K", b"", self.raw)
        return text.replace(b"\r", b"")

    def read(self):
        """Adds what the console writes to `raw`, waiting a moment at most;
        at its end (no process holds the terminal any more) sets `closed`."""
        if not select.select([self.master], [], [], 0.05)[0]:
            return
        try:
            data = os.read(self.master, 4096)
        except OSError:  # EIO, the end of a pseudo-terminal
            data = b""
        self.closed = not data
        self.raw += data

    def wait_until(self, condition):
        """Reads the console until condition() holds, the console ends or
        TIMEOUT passes; returns condition()."""
        end = time.time() + TIMEOUT
        while not condition() and not self.closed and time.time() < end:
            self.read()
        return condition()

    def finish(self):
        """The exit status, with everything the console shows: read while
        the program runs (a full terminal would hold it up) and to its end."""
        self.wait_until(lambda: self.closed)
        return self.process.wait(timeout=TIMEOUT)

    def takes_keys(self):
        """Wine's console turns the terminal's echo off only once the
        program first waits for a key: a key typed before then is echoed by
        the terminal itself."""
        return not termios.tcgetattr(self.master)[3] & termios.ECHO

    def wait_for_prompts(self, count):
        """Whether the console comes to show `count` prompts and take keys.
        (More may follow: only the keys left over at the end tell.)"""
        return self.wait_until(lambda: self.screen().count(PROMPT) >= count and self.takes_keys())

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        os.close(self.master)


def under_a_console(linux, windows, scratch):
    sample = os.path.join(ROOT, "examples", "paging.dbg")
    out_path = os.path.join(scratch, "paging.out")
    # Each key typed once its prompt shows; then a line for the shell. A key
    # that ended two pauses would leave the shell the last key, a letter,
    # before that line; one that ended none would hold the run. Ctrl+2
    # (Ctrl+@) is a character of 0, which Wine's console makes of a NUL:
    # Shift and Ctrl go down before the 2, and only the 2 ends a pause. (A
    # key typed before its prompt still ends that pause under Wine, flush or
    # not: its console seems to take the key from the terminal only after
    # the flush, so the flush cannot be shown here.)
    command = "%s %s -p >%s & echo status !errorlevel! & set /p LEFT= & echo left [!LEFT!]" % (
        windows_path(windows), windows_path(sample), windows_path(out_path))
    console = Console(["cmd", "/v:on", "/c", command], None, listing_on_console=True)
    try:
        for prompt, key in enumerate([b"\x1b[A", b"\0", b"z"], 1):
            check(console.wait_for_prompts(prompt), "prompt %d, then a wait" % prompt)
            os.write(console.master, key)
        os.write(console.master, b"rest\r")
        console.finish()
        screen = console.screen()
        check(b"marvix v1.0: dump debug-files produced by tolvane v1.0" in screen, "banner on the console")
        check(b'dump file: "%s"' % windows_path(sample).encode() in screen, "dump file line on the console")
        check(re.search(rb"status 0\b", screen) and b"left [rest]" in screen,
              "an arrow key, Ctrl+2 and a letter each end one pause: %r" % screen[-80:])
        check(b"z" not in screen and b"[A" not in screen, "keys are not echoed")
    finally:
        console.close()
    # Ctrl+C is a key like any other here: the run goes on. (It would end a
    # shell around the run as well.)
    console = Console([windows, sample, "-p"], None)
    try:
        for prompt in range(1, 4):
            check(console.wait_for_prompts(prompt), "prompt %d, then a wait" % prompt)
            os.write(console.master, b"\x03")
        status = console.finish()
        check(status == 0, "status 0 after Ctrl+C at each pause, not %s" % status)
        check(b"^C" not in console.screen(), "Ctrl+C is not echoed")
    finally:
        console.close()
    expected = subprocess.run([linux, sample, "-p"], capture_output=True, stdin=subprocess.DEVNULL,
                              start_new_session=True).stdout
    with open(out_path, "rb") as f:
        check(f.read() == expected.replace(b"\n", b"\r\n"), "listing with -p into a file")

    # Messages go to the console; control bytes from outside are shown
    # safely there. (Windows file names cannot hold control bytes, so that
    # name cannot be opened.)
    undefined = os.path.join(scratch, "undefined.dbg")
    with open(undefined, "wb") as f:
        f.write(b"[tolvane|dbg|v1.00]\r\n\x1b[x\x07y")
    for args, status, shown in (([undefined], 1, b"error: undefined entry ([x^Gy), abort.\n"),
                                 ([os.path.join(scratch, "a\x1b[1m.dbg")], 1,
                                  b'a^[[1m.dbg"\nerror: could not open file\n')):
        console = Console([windows] + args, os.path.join(scratch, "messages.out"))
        try:
            check(console.finish() == status, "status of %r on the console" % args)
            check(shown in console.screen(), "%r shown safely on the console" % shown)
        finally:
            console.close()

    # Ctrl+C in mid-listing: the run is cut short, and says so. Standard
    # output is a pipe that is not read, so the listing of the large file
    # (made by through_pipes) is still going.
    reader, writer = os.pipe()
    console = Console([windows, os.path.join(scratch, "big.dbg")], None, out_fd=writer)
    os.close(writer)
    try:
        # Once the listing has begun: the pipe holds its first bytes.
        listing = console.wait_until(lambda: bool(select.select([reader], [], [], 0)[0]))
        check(listing, "the listing of the large file begins")
        os.write(console.master, b"\x03")
        status = console.finish()
        check(status == STATUS_CONTROL_C_EXIT, "status after Ctrl+C in mid-listing: %s" % status)
    finally:
        console.close()
        os.close(reader)
    print("under a console: done")


def console_without_host(linux, windows, scratch):
    """A console that the program can open but whose input mode cannot be
    read: with no display, Wine's host for a new console cannot make its
    window and is gone, and every request to the console fails. The pauses
    must not wait on it (no key can come, and the mode could not be put
    back): the run ends with status 0 and the whole listing, as on Linux
    with no terminal."""
    sample = os.path.join(ROOT, "examples", "paging.dbg")
    out_path = os.path.join(scratch, "hostless.out")
    # "start /wait" gives the program a new console and passes its status
    # on; cmd, in that console, sends standard output into a file.
    command = ["Z:" + path.replace("/", "\\") for path in (windows, sample)] + ["-p", ">"]
    command.append("Z:" + out_path.replace("/", "\\"))
    # With a display, the host would make a window and the pause would wait
    # for a key there.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    try:
        status = subprocess.run([WINE, "start", "/wait", "cmd", "/c"] + command, stdin=subprocess.DEVNULL,
                                capture_output=True, env=env, timeout=TIMEOUT).returncode
    except subprocess.TimeoutExpired:
        status = "none: it waited"
    expected = subprocess.run([linux, sample, "-p"], capture_output=True, stdin=subprocess.DEVNULL,
                              start_new_session=True).stdout
    listing = b""
    if os.path.exists(out_path):
        with open(out_path, "rb") as f:
            listing = f.read()
    check(status == 0 and listing == expected.replace(b"\n", b"\r\n"),
          "-p on a console with no host: status %s, %d bytes of listing" % (status, len(listing)))


# File names (each holding a file of its own) and the sample in each. The
# full-width look-alike stands beside the name it resembles, which the ANSI
# code page would make of it.
NAMES = [
    ("\uff44\uff45\uff4d\uff4f.dbg", "examples/demo.dbg"),
    ("demo.dbg", "examples/paging.dbg"),
    ("\u03b4\u03bf\u03ba\u03b9\u03bc\u03ae.dbg", "fuzz/corpus/files.dbg"),
    ("\u0442\u0435\u0441\u0442.dbg", "fuzz/corpus/classes.dbg"),
    ("\u30c6\u30b9\u30c8.dbg", "fuzz/corpus/labels.dbg"),
    ("\U0001f642.dbg", "fuzz/corpus/classes_loop.dbg"),
    ("with space.dbg", "fuzz/corpus/empty_then_full.dbg"),
    ("l" * 100 + "/" + "o" * 100 + "/" + "n" * 92 + ".dbg", "examples/paging.dbg"),
]


# Names in a debug file and how a console shows them in each code page: in
# one of single bytes, in caret form only where the code page decodes a
# byte to a control (1252 leaves five bytes unassigned, which decode to C1
# controls); in UTF-8 (65001), as terminals elsewhere show them, C1
# controls as bytes and in UTF-8.
CODE_PAGES = (437, 850, 1252, 65001)
SHOWN = [
    (b"Gr\x94\xe1e.asm", "Größe.asm", "Größe.asm", "Gr\u201d\u00e1e.asm", "GrM-^T\ufffde.asm"),
    (b"\x9aber.inc", "Über.inc", "Über.inc", "\u0161ber.inc", "M-^Zber.inc"),
    (b"caf\x82", "café", "café", "caf\u201a", "cafM-^B"),
    (b"price\x80", "priceÇ", "priceÇ", "price\u20ac", "priceM-^@"),
    (b"\x81\x8d\x8f\x90\x9d", "üìÅÉ¥", "üìÅÉØ", "M-^AM-^MM-^OM-^PM-^]", "M-^AM-^MM-^OM-^PM-^]"),
    (b"\x9b2J", "¢2J", "ø2J", "\u203a2J", "M-^[2J"),
    (b"\xc2\x9b[1m", "┬¢[1m", "┬ø[1m", "Â\u203a[1m", "M-BM-^[[1m"),
    (b"a\x1b[31mb\x07\x7f", "a^[[31mb^G^?", "a^[[31mb^G^?", "a^[[31mb^G^?", "a^[[31mb^G^?"),
    (b"\xc3\xb6", "├╢", "├Â", "Ã¶", "ö"),
]


MAGIC = b"[tolvane|dbg|v1.00]\r\n\x1b"


def file_entries(path, names):
    """Writes a debug file of one file section: an entry (DEFAULT, no
    lines) for each name."""
    with open(path, "wb") as f:
        f.write(MAGIC + b"[file]" + len(names).to_bytes(4, "little") + bytes(48) * len(names))
        f.write(b"".join(name + b"\0" for name in names) + b"[end]")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def code_pages(windows, scratch):
    """Each name of SHOWN as a file entry, listed on the console, and all of
    them as the undefined-entry text of another file; the file's own name,
    from the command line, as typed."""
    names = [row[0] for row in SHOWN]
    listed, undefined = os.path.join(scratch, "Größe.dbg"), os.path.join(scratch, "entry.dbg")
    file_entries(listed, names)
    with open(undefined, "wb") as f:
        f.write(MAGIC + b" ".join(names))
    exe, listed, undefined = (windows_path(path) for path in (windows, listed, undefined))
    for column, code_page in enumerate(CODE_PAGES, 1):
        command = "chcp %d >nul & %s %s & %s %s" % (code_page, exe, listed, exe, undefined)
        console = Console(["cmd", "/c", command], None, listing_on_console=True)
        try:
            console.finish()
            screen = console.screen()
        finally:
            console.close()
        whole = screen.replace(b"\n", b"")  # a long line wraps
        shown = [row[column] for row in SHOWN]
        for i, name in enumerate(shown):
            row = "%-5d %-8d %-12s %s\n" % (i, 0, "DEFAULT", name)
            check(row.encode() in screen, "%r on code page %d: %r" % (names[i], code_page, row))
        message = "error: undefined entry (%s), abort." % " ".join(shown)
        check(message.encode() in whole, "the undefined entry on code page %d" % code_page)
        check(('dump file: "%s"' % listed).encode() in whole, "the file name as typed on code page %d" % code_page)
    print("code pages: %d" % len(CODE_PAGES))


# A character given to a console in two writes shows as two wrong ones,
# and a listing goes to the console in pieces of 32 KiB. For each code
# page, a name of twenty of its characters, the tenth across byte 32,768.
SEAMS = [(65001, "\u00e9"), (932, "\u3042")]


def seams(linux, windows, scratch):
    """Each row of SEAMS: every character of the name whole on the console
    in that code page."""
    fillers = [b"f" * 70] * 320  # rows of 100 bytes
    for code_page, char in SEAMS:
        one = char.encode("cp%d" % code_page)
        twenty = one * 20
        path = os.path.join(scratch, "seam%d.dbg" % code_page)
        file_entries(path, fillers + [twenty])
        listing = subprocess.run([linux, path], capture_output=True, timeout=TIMEOUT).stdout
        # What comes before the name, the same on Windows but for "\r\n",
        # and padding to put the tenth character's first byte at 32,767.
        pad = 32767 - listing.replace(b"\n", b"\r\n").index(twenty) - 9 * len(one)
        check(pad >= 0, "the name of the seam test ends before 32 KiB on code page %d" % code_page)
        file_entries(path, fillers + [b"x" * pad + twenty])
        command = "chcp %d >nul & %s %s" % (code_page, windows_path(windows), windows_path(path))
        console = Console(["cmd", "/c", command], None, listing_on_console=True)
        try:
            console.finish()
            shown = console.screen().replace(b"\n", b"").count(char.encode())
        finally:
            console.close()
        check(shown == 20, "%d of 20 %s whole across 32 KiB on code page %d" % (shown, char, code_page))
    print("seams: %d" % len(SEAMS))


def file_names(linux, windows, scratch):
    """Each name lists its own file, byte for byte as on Linux, and shows on
    the console as typed."""
    folder = os.path.join(scratch, "names")
    for name, sample in NAMES:
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(os.path.join(ROOT, sample), "rb") as f, open(path, "wb") as copy:
            copy.write(f.read())
    out_path = os.path.join(scratch, "name.out")
    for name, _ in NAMES:
        expected = subprocess.run([linux, name], capture_output=True, cwd=folder, timeout=TIMEOUT)
        console = Console([windows, name], out_path, cwd=folder)
        try:
            status = console.finish()
            # Wine's console shows each half of a surrogate pair (the emoji)
            # as U+FFFD; Windows' shows the character.
            shown = "".join(c if c <= "\uffff" else "\ufffd\ufffd" for c in name)
            # A long line wraps, and the console redraws it.
            screen = console.screen().replace(b"\n", b"")
        finally:
            console.close()
        with open(out_path, "rb") as f:
            listing = f.read()
        check(status == expected.returncode == 0, "status of %s: %s" % (name, status))
        check(listing == expected.stdout.replace(b"\n", b"\r\n"), "listing of %s" % name)
        check(('dump file: "%s"' % shown).encode() in screen, "%s shown on the console" % name)
    print("file names: %d" % len(NAMES))


def long_paths(linux, windows, scratch):
    """The long name of file_names, well over MAX_PATH units in full, lists
    its file in each form: drive, device and long-path forms with either
    slash, and a share."""
    name = NAMES[-1][0]
    path = os.path.join(scratch, "names", name)
    expected = subprocess.run([linux, path], capture_output=True, timeout=TIMEOUT).stdout
    expected = expected.replace(b"\n", b"\r\n")
    # Wine's drive Z: is the Unix root, and its dosdevices/unc/SERVER the
    # server \\SERVER, whose folders are its shares.
    unc = os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")), "dosdevices", "unc")
    os.makedirs(unc, exist_ok=True)
    server = os.path.join(unc, "marvix-test-%d" % os.getpid())
    os.symlink(scratch, server)
    back = path.replace("/", "\\")
    forms = ["Z:" + path, "//./Z:" + path, "//?/Z:" + path, "\\\\.\\Z:" + back, "\\\\?\\Z:" + back,
             "//%s/names/%s" % (os.path.basename(server), name)]
    try:
        for form in forms:
            status, out, err = run([WINE, windows, form])
            check((status, out) == (0, expected),
                  "listing through %s: status %d %r" % (form[:8], status, err[-200:]))
    finally:
        os.remove(server)


def resources(windows):
    """A version resource (type 16) and a manifest (type 24) naming
    longPathAware."""
    table = subprocess.run([OBJDUMP, "-p", windows], capture_output=True, text=True, check=True).stdout
    # The resource types: the entries of the directory's first level.
    ids = {int(i, 16) for i in re.findall(r"^[0-9a-f]+   Entry: ID: (0x[0-9a-f]+)", table, re.M)}
    check({16, 24} <= ids, "a version resource and a manifest, not only %s" % sorted(ids))
    with open(windows, "rb") as f:
        image = f.read()
    check(b"<longPathAware" in image and "ProductName".encode("utf-16-le") in image,
          "the manifest names longPathAware, the version names the product")


def main():
    linux, windows = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory(prefix="marvix-wine.") as scratch:
        resources(windows)
        through_pipes(linux, windows, scratch)
        under_a_console(linux, windows, scratch)
        code_pages(windows, scratch)
        seams(linux, windows, scratch)
        console_without_host(linux, windows, scratch)
        file_names(linux, windows, scratch)
        long_paths(linux, windows, scratch)
    if failures:
        print("%d failures" % len(failures))
        sys.exit(1)
    print("all Wine checks passed")


if __name__ == "__main__":
    main()
