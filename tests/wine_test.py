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
the prompt, a letter and an arrow key each ending exactly one pause, no echo,
and the listing in the output file with "\\r\\n" line ends.
"""
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = os.environ.get("WINE", "wine64")
TIMEOUT = 60
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
    error, and the controlling terminal) and standard output into a file."""

    def __init__(self, args, out_path):
        self.master, slave = pty.openpty()
        with open(out_path, "wb") as out:
            self.process = subprocess.Popen([WINE] + args, stdin=slave, stdout=out, stderr=slave,
                                            start_new_session=True, close_fds=True)
        os.close(slave)
        self.raw = b""

    def screen(self):
        # Wine's console redraws its text: hide and show the cursor around
        # each update, and end lines with "\r\r\n".
        text = re.sub(rb"\x1b\[\?25[lh]|\x1b\[K", b"", self.raw)
        return text.replace(b"\r", b"")

    def read(self, seconds):
        end = time.time() + seconds
        while time.time() < end:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                try:
                    self.raw += os.read(self.master, 4096)
                except OSError:
                    return

    def wait_for_prompts(self, count):
        end = time.time() + TIMEOUT
        while self.screen().count(b"press a key...") < count and time.time() < end:
            self.read(0.1)
        # Whatever follows must come from a key, not from a slow start.
        self.read(0.5)
        return self.screen().count(b"press a key...")

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        os.close(self.master)


def under_a_console(linux, windows, scratch):
    sample = os.path.join(ROOT, "examples", "paging.dbg")
    out_path = os.path.join(scratch, "paging.out")
    console = Console([windows, sample, "-p"], out_path)
    try:
        check(console.wait_for_prompts(1) == 1, "one prompt, then a wait")
        screen = console.screen()
        check(b"marvix v1.0: dump debug-files produced by tolvane v1.0" in screen, "banner on the console")
        check(b'dump file: "%s"' % sample.encode() in screen, "dump file line on the console")
        os.write(console.master, b"z")
        check(console.wait_for_prompts(2) == 2, "a letter ends exactly one pause")
        os.write(console.master, b"\x1b[A")
        check(console.wait_for_prompts(3) == 3, "an arrow key ends exactly one pause")
        check(console.process.poll() is None, "the third pause waits")
        os.write(console.master, b"q")
        status = console.process.wait(timeout=TIMEOUT)
        check(status == 0, "status 0 after the last pause, not %s" % status)
        console.read(0.3)
        screen = console.screen()
        check(b"z" not in screen and b"q" not in screen and b"[A" not in screen, "keys are not echoed")
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
            check(console.process.wait(timeout=TIMEOUT) == status, "status of %r on the console" % args)
            console.read(0.5)
            check(shown in console.screen(), "%r shown safely on the console" % shown)
        finally:
            console.close()
    print("under a console: done")


def main():
    linux, windows = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="marvix-wine.") as scratch:
        through_pipes(linux, windows, scratch)
        under_a_console(linux, windows, scratch)
    if failures:
        print("%d failures" % len(failures))
        sys.exit(1)
    print("all Wine checks passed")


if __name__ == "__main__":
    main()
