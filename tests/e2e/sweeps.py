#!/usr/bin/env python3
"""Fault sweeps of the launcher (zipstub.exe of --programs, by default the
win64 build) under wine64 and Xvfb, on one display and one wine server for
all runs.

fault   a package made by cepack, cut short at 64 lengths and with one byte
        changed at 64 offsets of its archive: every run ends either with the
        stand-in installer started over exactly the packed files, or with the
        defective-archive or write-error box; never a crash, a hang past 30 s,
        a second box or a file left in TEMP.
cancel  a large unpacking cancelled at 16 moments by the Cancel button, Esc,
        the close command and WM_CLOSE: the cancellation box every time, TEMP
        empty afterwards, the installer never started.

sweeps.py --win64 BUILD_DIR [--programs BUILD_DIR] --cepack PATH [--prefix WINEPREFIX]
          [--only fault,cancel] [--runs N,...] [--big-mb N] [--keep]
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_e2e import (CANCELLED, DEFECTIVE, DIALOG_TITLE, WRITE_ERROR, Failure, Suite, check,  # noqa: E402
                     listing, read_log, win)

FAULT_RUNS = 64
CANCEL_RUNS = 16
HANG_MS = 30000
WINESERVER = "/usr/lib/wine/wineserver"


def fnv1a64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def tree_of(root):
    """What the stand-in installer records for a directory: sorted lines."""
    lines = []
    for path, dirs, files in os.walk(root):
        rel = os.path.relpath(path, root)
        prefix = "" if rel == "." else rel.replace("/", "\\") + "\\"
        lines += [f"dir={prefix}{d}" for d in dirs]
        for f in files:
            with open(os.path.join(path, f), "rb") as fh:
                data = fh.read()
            lines.append(f"file={prefix}{f}|{len(data)}|{fnv1a64(data):016x}")
    return sorted(lines)


def recorded_tree(log):
    if not os.path.exists(log):
        return None
    with open(log, "rb") as f:
        text = f.read().decode("latin-1")
    return sorted(line for line in text.splitlines() if line.startswith(("file=", "dir=")))


class Sweep:
    """One sweep's runs: a fresh directory with TEMP and the log for each."""

    def __init__(self, suite, name):
        self.suite = suite
        self.name = name
        self.counts = {}
        self.failures = []
        self.runs = 0
        self.began = self.last = time.monotonic()

    def run_dir(self, n):
        return self.suite.dir(self.name, f"run{n:02d}")

    def record(self, n, label, kind, error=None):
        self.runs += 1
        if error:
            self.failures.append(f"{self.name} run {n} ({label}): {error}")
            kind = "FAILED"
        self.counts[kind] = self.counts.get(kind, 0) + 1
        now = time.monotonic()
        print(f"  {self.name} {n:3d} {label:34s} {kind:14s} {now - self.last:4.1f}s", flush=True)
        self.last = now

    def summary(self):
        kinds = ", ".join(f"{k} {v}" for k, v in sorted(self.counts.items()))
        return f"{self.name}: {self.runs} runs: {kinds}; {time.monotonic() - self.began:.0f} s"


# ---- fault sweep ---------------------------------------------------------------

def fault_payload(s):
    """A few entries: the stand-in installer (deflated, over 200 KB), text
    (deflated), random bytes (stored, deflate does not pay), an empty file.
    No subdirectory: the launcher's clean-up leaves those behind by design.
    The same bytes every time, so that a failing run can be repeated."""
    rng = random.Random(6)
    root = s.payload("fault", {
        "setup.exe": "testinst",
        "readme.txt": b"".join(b"Line %d of the read-me file.\r\n" % i for i in range(400)),
        "app.cab": rng.randbytes(41000),
        "empty.ini": b"",
        "table.dat": rng.randbytes(3000) + bytes(3000),
    })
    package = os.path.join(s.work, "fault", "package.exe")
    subprocess.run([s.cepack, "build", "-o", package, "--stub", s.zipstub, root], check=True,
                   stdout=subprocess.DEVNULL)
    return root, package


def fault_variants(package, stub_size):
    """(label, bytes): 64 cuts over the archive part, 64 single-byte changes in it."""
    with open(package, "rb") as f:
        data = f.read()
    archive = len(data) - stub_size
    for i in range(FAULT_RUNS):
        length = stub_size + i * archive // FAULT_RUNS
        yield f"cut at {length}", data[:length]
    for i in range(FAULT_RUNS):
        offset = stub_size + i * (archive - 1) // (FAULT_RUNS - 1)
        mask = 1 << (i // 2 % 8) if i % 2 else 0xFF  # every bit in turn, or all of them
        changed = bytearray(data)
        changed[offset] ^= mask
        yield f"byte {offset} ^ {mask:#04x}", bytes(changed)


def fault_outcome(seen, package, temp, log, expected):
    """success, defective or write; raises Failure for anything else."""
    check(seen.exit_code == 0, f"exit code {seen.exit_code}: {seen.lines}")
    boxes = seen.message_boxes()
    check(len(boxes) <= 1, f"{len(boxes)} message boxes: {seen.lines}")
    started = read_log(log)
    if boxes:
        text, caption = boxes[0]["controls"][0xFFFF], boxes[0]["title"]
        check(not started, "the installer ran although a message was shown")
        if text == DEFECTIVE:
            check(caption == win(package).encode(), f"defective box caption {caption!r}")
            kind = "defective box"
        elif text == WRITE_ERROR:
            check(caption == (win(temp) + "\\$qv0\\").encode(), f"write box caption {caption!r}")
            kind = "write box"
        else:
            raise Failure(f"unexpected message {text!r}")
    else:
        check(len(started) == 1, "success without the installer started")
        tree = recorded_tree(log)
        check(tree == expected, "success with wrong files:\n  got  " + "\n  got  ".join(
            sorted(set(tree) - set(expected))) + "\n  want " + "\n  want ".join(sorted(set(expected) - set(tree))))
        kind = "success"
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
    return kind


def fault_sweep(s, runs):
    root, package = fault_payload(s)
    expected = tree_of(root)
    sweep = Sweep(s, "fault")
    for n, (label, data) in enumerate(fault_variants(package, os.path.getsize(s.zipstub))):
        if runs and n not in runs:
            continue
        d = sweep.run_dir(n)
        variant, temp, log = os.path.join(d, "package.exe"), os.path.join(d, "temp"), os.path.join(d, "log.txt")
        os.makedirs(temp)
        with open(variant, "wb") as f:
            f.write(data)
        steps = [f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}", f"set|CE_TESTINST_LOG|{win(log)}",
                 "set|CE_TESTINST_MODE|hashes", f"start|{win(variant)}", f"settle|{HANG_MS}"]
        try:
            seen = s.drive(steps, timeout=HANG_MS / 1000 + 30)
            kind = fault_outcome(seen, variant, temp, log, expected)
            check(sorted(os.listdir(d)) == sorted(["package.exe", "temp"] + (["log.txt"] if kind == "success" else [])),
                  f"written beside the package: {sorted(os.listdir(d))}")
            sweep.record(n, label, kind)
        except Failure as e:
            sweep.record(n, label, None, e)
        if not s.args.keep:
            shutil.rmtree(d, ignore_errors=True)
    return sweep


# ---- cancel sweep --------------------------------------------------------------

BIG_ENTRIES = 4


def big_data(n, size):
    """Compressible but not trivial: numbered lines, so the decoder has real work."""
    line = b"%010d entry %d: the quick brown fox jumps over the lazy dog\n"
    block = b"".join(line % (i, n) for i in range(size // 64 // 8))
    return (block * 9)[:size]


def cancel_package(s):
    d = s.dir("cancel", "payload")
    names = ["setup.exe"] + [f"big{n}.bin" for n in range(BIG_ENTRIES)]
    shutil.copy(s.testinst, os.path.join(d, "setup.exe"))
    for n in range(BIG_ENTRIES):
        with open(os.path.join(d, names[n + 1]), "wb") as f:
            f.write(big_data(n, s.big_size))
    archive = os.path.join(s.work, "cancel", "payload.zip")
    subprocess.run(["zip", "-q", "-X", "-1", archive] + names, cwd=d, check=True)
    shutil.rmtree(d)
    return s.stub_plus("cancel", archive)


# (entry, fraction of it unpacked) at which to cancel; None: as soon as the
# dialog shows. A fraction of 1 is the gap between two entries. The last
# entry is left well before its end: a cancel after its last input block is
# not acted on, and a loaded machine may take a while to hold the launcher.
MOMENTS = [(None, 0), (0, 0.0), (0, 0.25), (0, 0.6), (0, 1.0), (1, 0.1), (1, 0.45), (1, 0.8),
           (2, 0.05), (2, 0.33), (2, 0.66), (2, 1.0), (3, 0.1), (3, 0.25), (3, 0.4), (3, 0.55)]
HOW = [("button", ["click|2"]), ("Esc", ["key|27|2"]), ("close command", ["sysclose"]), ("WM_CLOSE", ["close"])]


def cancel_sweep(s, runs):
    package = cancel_package(s)
    sweep = Sweep(s, "cancel")
    for n, (entry, fraction) in enumerate(MOMENTS[:CANCEL_RUNS]):
        if runs and n not in runs:
            continue
        how, action = HOW[n % len(HOW)]
        label = f"{how} at " + ("dialog" if entry is None else f"big{entry}.bin {fraction:.0%}")
        d = sweep.run_dir(n)
        temp, log = os.path.join(d, "temp"), os.path.join(d, "log.txt")
        os.makedirs(temp)
        steps = [f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}", f"set|CE_TESTINST_LOG|{win(log)}",
                 f"start|{win(package)}", f"window|{DIALOG_TITLE}|{HANG_MS}"]
        if entry is not None:
            out = win(temp) + f"\\$qv0\\big{entry}.bin"
            steps.append(f"grows|{out}|{max(1, int(s.big_size * fraction))}|{HANG_MS}")
        # Held still while the user's action is queued, so that it lands at
        # this moment however busy the machine is.
        steps += ["suspend"] + action + ["resume", f"msgbox|{HANG_MS}", "click|1", f"wait|{HANG_MS}"]
        try:
            seen = s.drive(steps, timeout=3 * HANG_MS / 1000 + 30)
            boxes = seen.message_boxes()
            check(len(boxes) == 1, f"{len(boxes)} message boxes: {seen.lines}")
            check(boxes[0]["controls"][0xFFFF] == CANCELLED, f"message {boxes[0]['controls'][0xFFFF]!r}")
            check(boxes[0]["title"] == win(package).encode(), f"caption {boxes[0]['title']!r}")
            check(boxes[0]["owner"] == DIALOG_TITLE, f"owner {boxes[0]['owner']!r}")
            check(seen.exit_code == 0, f"exit code {seen.exit_code}")
            check(read_log(log) == [], "the installer was started")
            check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
            sweep.record(n, label, "cancel box")
        except Failure as e:
            sweep.record(n, label, None, e)
        shutil.rmtree(d, ignore_errors=True)
    return sweep


SWEEPS = {"fault": fault_sweep, "cancel": cancel_sweep}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win64", required=True)
    parser.add_argument("--programs")
    parser.add_argument("--cepack", required=True)
    parser.add_argument("--prefix")
    parser.add_argument("--only", help="comma-separated: " + ",".join(SWEEPS))
    parser.add_argument("--runs", help="comma-separated run numbers (for one failure)")
    # Emulated 32-bit programs unpack several times slower: smaller entries
    # keep every run of the cancel sweep well inside its hang limit.
    parser.add_argument("--big-mb", type=int, default=64, help="size of each large entry of the cancel sweep")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    args = parser.parse_args()
    args.shots = None
    chosen = args.only.split(",") if args.only else list(SWEEPS)
    runs = {int(r) for r in args.runs.split(",")} if args.runs else set()
    suite = Suite(args)
    suite.big_size = args.big_mb << 20
    for path in (suite.zipstub, suite.driver, suite.testinst, suite.cepack):
        if not os.path.exists(path):
            raise SystemExit(f"sweeps: {path} is missing")
    began = time.monotonic()
    suite.start_display()
    failures = []
    try:
        suite.start_wine()
        # One wine server for all runs: it would otherwise end in any pause
        # longer than its linger time and start again with the next run.
        subprocess.run([WINESERVER, "-w"], env=suite.env, check=True)
        subprocess.run([WINESERVER, "-p"], env=suite.env, check=True)
        for name in chosen:
            sweep = SWEEPS[name](suite, runs)
            print(sweep.summary(), flush=True)
            failures += sweep.failures
    finally:
        suite.stop()
    for f in failures:
        print("FAIL " + f)
    print(f"sweeps: {len(failures)} failed runs in {time.monotonic() - began:.0f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
