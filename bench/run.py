#!/usr/bin/env python3
"""Benchmark: marvix on a debug file just under the size limit.

Builds marvix and make_dbg (Release, in build-bench/), makes the benchmark
files once in a scratch folder, and reports medians of RUNS runs:
  full      marvix FILE > /dev/null
  floor     cat FILE LISTING > /dev/null   (LISTING: marvix's output, saved once)
  pipe      cat FILE | marvix /dev/stdin > /dev/null
  stdin     marvix /dev/stdin < FILE > /dev/null
  tenth     marvix on a file a tenth the size
  varied    marvix on a file of the full size whose labels are 5 to 30 classes deep
  pause     marvix FILE -p with no terminal, prompts to /dev/null
and the peak resident memory of a run from the file and from the pipe.

Usage: python3 bench/run.py [RUNS] [--compare OLD_MARVIX] [--unpinned]   (RUNS default 11)
       python3 bench/run.py [RUNS] --windows MARVIX_EXE [--compare OLD_EXE]

The runs are pinned to one CPU unless --unpinned is given. Pinned figures
compare like with like; unpinned ones show what a user sees, migrations
between CPUs included. A speed change is measured both ways.

With --compare, every marvix case is also run with OLD_MARVIX (a binary
kept from before a change), in the same round-robin, and the ratios of the
new figures to the old are printed last.

With --windows, marvix.exe runs under Wine (WINE names it, as for
tests/wine_test.py, with the prefix's wineserver running) beside the Linux
build, with standard output to a file and to /dev/null (NUL to Windows).
The figures are CPU time, user and system, of the process and all it
waited for, less the CPU time of a run on the small sample (each program's
start, Wine's included); and page faults. With --compare the old exe is
run as well.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
ARGS = sys.argv[1:]
PINNED = "--unpinned" not in ARGS
ARGS = [a for a in ARGS if a != "--unpinned"]
OLD = None
WINDOWS = None
for option in ("--compare", "--windows"):
    if option in ARGS:
        at = ARGS.index(option)
        value = os.path.abspath(ARGS[at + 1])
        del ARGS[at:at + 2]
        if option == "--compare":
            OLD = value
        else:
            WINDOWS = value
RUNS = int(ARGS[0]) if ARGS else 11


def sh(command):
    subprocess.run(["bash", "-c", command], check=False)


# The two vCPUs of this machine can differ in speed by half (seen: 67 against
# 104 ms for the same run), and the scheduler alternates between them, so the
# benchmark pins itself, and with it every process it starts, to one CPU: the
# ratios then compare like with like. In the pipe case the feeding cat is set
# free again. (Pinning in the child instead would make Python fork rather than
# spawn, which costs milliseconds a run.) Pinning also hides costs that come
# with moving between CPUs, so --unpinned leaves every process free.
ALL_CPUS = os.sched_getaffinity(0)
CPU = max(ALL_CPUS)


def timed(argv, stdin_path=None, feed_from_cat=False):
    """Wall time of one run with standard output and error on /dev/null.
    The process is started directly (no shell) so that only its own time is
    counted, in a session of its own: with no controlling terminal, -p
    pauses without waiting. feed_from_cat pipes the file in through cat."""
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        if feed_from_cat:
            cat = subprocess.Popen(["cat", stdin_path], stdout=subprocess.PIPE)
            if PINNED:
                os.sched_setaffinity(cat.pid, ALL_CPUS)
            subprocess.run(argv, stdin=cat.stdout, stdout=null, stderr=null, start_new_session=True)
            cat.stdout.close()
            cat.wait()
        elif stdin_path:
            with open(stdin_path, "rb") as source:
                subprocess.run(argv, stdin=source, stdout=null, stderr=null, start_new_session=True)
        else:
            subprocess.run(argv, stdout=null, stderr=null, start_new_session=True)
        return time.perf_counter() - start


def median_times(cases):
    """Medians of RUNS runs of each case, taken round-robin so that drift in
    the machine's speed touches every case alike."""
    for argv, how in cases.values():
        timed(argv, **how)  # warm the page cache and the binary
    samples = {name: [] for name in cases}
    for _ in range(RUNS):
        for name, (argv, how) in cases.items():
            samples[name].append(timed(argv, **how))
    return {name: statistics.median(values) for name, values in samples.items()}


def cpu_run(argv, out_path):
    """CPU seconds (user and system) and page faults of one run, its waited
    for descendants included, with standard output to out_path."""
    with open(out_path, "wb") as out:
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
    return usage.ru_utime + usage.ru_stime, usage.ru_minflt + usage.ru_majflt


def windows_mode(marvix, full, scratch):
    """Linux marvix natively against marvix.exe under Wine."""
    wine = [os.environ.get("WINE", "wine64")]
    sample = os.path.join(ROOT, "examples", "demo.dbg")
    out_file = os.path.join(scratch, "out.txt")
    programs = {"linux": [marvix], "wine": wine + [WINDOWS]}
    if OLD:
        programs["old wine"] = wine + [OLD]
    cases = {}
    for name, program in programs.items():
        cases[name + " start"] = (program + [sample], os.devnull)
        cases[name + " file"] = (program + [full], out_file)
        cases[name + " null"] = (program + [full], os.devnull)
    for argv, out in cases.values():
        cpu_run(argv, out)  # warm the page cache, the binaries and Wine
    samples = {name: [] for name in cases}
    for _ in range(RUNS):
        for name, (argv, out) in cases.items():
            samples[name].append(cpu_run(argv, out))
    cpu = {name: statistics.median(s[0] for s in values) for name, values in samples.items()}
    faults = {name: statistics.median(s[1] for s in values) for name, values in samples.items()}
    print(f"CPU time (user + system), medians of {RUNS} runs; \"net\" is less the start on the small sample")
    net = {}
    for name in cases:
        program = name.rsplit(" ", 1)[0]
        net[name] = cpu[name] - cpu[program + " start"]
        print(f"  {name:16} {cpu[name] * 1000:8.1f} ms   net {net[name] * 1000:8.1f} ms   "
              f"{faults[name]:8.0f} page faults")
    for out in ("file", "null"):
        print(f"  wine / linux, {out}: {net['wine ' + out] / net['linux ' + out]:.2f} net, "
              f"{cpu['wine ' + out] / cpu['linux ' + out]:.2f} with the start   (target <= 2)")
        if OLD:
            print(f"  new / old exe, {out}: {net['wine ' + out] / net['old wine ' + out]:.3f} net")


def peak_kib(command):
    """Peak resident set of the last process of a pipeline, in KiB."""
    out = subprocess.run(["bash", "-c", command], capture_output=True, text=True).stderr
    return int(out.strip().splitlines()[-1])


def main():
    # make_dbg is built with the tests, which are not built here.
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DMARVIX_TESTS=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "marvix", "make_dbg"], check=True,
                   stdout=subprocess.DEVNULL)
    if PINNED:
        os.sched_setaffinity(0, {CPU})
    where = f"on CPU {CPU}" if PINNED else "unpinned"
    marvix = os.path.join(BUILD, "marvix")
    make_dbg = os.path.join(BUILD, "make_dbg")
    scratch = tempfile.mkdtemp(prefix="marvix-bench.")
    try:
        full = os.path.join(scratch, "full.dbg")
        tenth = os.path.join(scratch, "tenth.dbg")
        varied = os.path.join(scratch, "varied.dbg")
        listing = os.path.join(scratch, "full.txt")
        subprocess.run([make_dbg, "bench", full], check=True)
        subprocess.run([make_dbg, "bench", tenth, "10"], check=True)
        subprocess.run([make_dbg, "varied", varied], check=True)
        if WINDOWS:
            print(f"file {os.path.getsize(full):,} bytes {where}")
            windows_mode(marvix, full, scratch)
            return
        sh(f"'{marvix}' '{full}' > '{listing}' 2>/dev/null")
        print(f"file {os.path.getsize(full):,} bytes, listing {os.path.getsize(listing):,} bytes, "
              f"tenth {os.path.getsize(tenth):,} bytes; "
              f"medians of {RUNS} runs {where}")

        def marvix_cases(binary):
            return {
                "full": ([binary, full], {}),
                "pipe": ([binary, "/dev/stdin"], {"stdin_path": full, "feed_from_cat": True}),
                "stdin": ([binary, "/dev/stdin"], {"stdin_path": full}),
                "tenth": ([binary, tenth], {}),
                "varied": ([binary, varied], {}),
                "pause": ([binary, full, "-p"], {}),
            }
        cases = marvix_cases(marvix)
        cases["floor"] = (["cat", full, listing], {})
        if OLD:
            cases.update({"old " + name: case for name, case in marvix_cases(OLD).items()})
        t = median_times(cases)
        rss_file = peak_kib(f"/usr/bin/time -f %M '{marvix}' '{full}' 2>&1 >/dev/null | tail -1 >&2")
        rss_pipe = peak_kib(f"cat '{full}' | /usr/bin/time -f %M '{marvix}' /dev/stdin 2>&1 >/dev/null "
                            "| tail -1 >&2")
        size_kib = os.path.getsize(full) / 1024

        for name, seconds in t.items():
            print(f"  {name:10} {seconds * 1000:8.1f} ms")
        print(f"  full / floor        {t['full'] / t['floor']:.2f}   (target <= 3)")
        print(f"  pipe / full         {t['pipe'] / t['full']:.2f}   (target <= 1.5)")
        print(f"  stdin / full        {t['stdin'] / t['full']:.2f}")
        print(f"  tenth / full        {t['tenth'] / t['full']:.3f}  (target <= 0.15)")
        print(f"  pause / full        {t['pause'] / t['full']:.3f}")
        print(f"  peak RSS from file  {rss_file / 1024:.1f} MiB = file + {(rss_file - size_kib) / 1024:.1f} MiB "
              "(target <= file + 8 MiB)")
        print(f"  peak RSS from pipe  {rss_pipe / 1024:.1f} MiB = file + {(rss_pipe - size_kib) / 1024:.1f} MiB")
        if OLD:
            print(f"  new / old ({OLD}):")
            for name in marvix_cases(OLD):
                print(f"    {name:6} {t[name] / t['old ' + name]:.3f}")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
