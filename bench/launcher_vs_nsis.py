#!/usr/bin/env python3
"""The win64 launcher against an NSIS installer doing the same job under
wine64 and Xvfb: unpack about 35 MB of mixed files into a temporary
directory, run a setup.exe that ends at once, wait, remove the files.
Prints the wall time of every run and the medians.

bench/launcher_vs_nsis.py --win64 BUILD_DIR [--runs N] [--mb 35] [--cepack PATH] [--quiet-nsis]

--quiet-nsis turns NSIS's details list off (SetDetailsPrint none), its
fastest way of doing the job.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from run_e2e import start_xvfb  # noqa: E402
WINE64 = "/usr/lib/wine/wine64"

NSIS_SCRIPT = r"""
Target amd64-unicode
SetCompressor zlib
Name "bench"
OutFile "{out}"
RequestExecutionLevel user
AutoCloseWindow true
ShowInstDetails nevershow
Page instfiles
Section
  {details}
  SetOutPath "$TEMP\nsbench"
  File /r "{payload}\*.*"
  ExecWait '"$TEMP\nsbench\setup.exe"'
  SetOutPath "$TEMP"
  RMDir /r "$TEMP\nsbench"
SectionEnd
"""


def make_payload(work, mb, testinst):
    corpus = os.path.join(work, "corpus")
    subprocess.run([os.path.join(HERE, "make-corpus.sh"), corpus, str(mb)], check=True)
    # One flat directory: the launcher removes only the files directly inside
    # its working directory, so both programs get the same job.
    payload = os.path.join(work, "payload")
    os.makedirs(payload)
    for sub in sorted(os.listdir(corpus)):
        for name in sorted(os.listdir(os.path.join(corpus, sub))):
            os.rename(os.path.join(corpus, sub, name), os.path.join(payload, f"{sub}-{name}"))
    shutil.copy(testinst, os.path.join(payload, "setup.exe"))
    return payload


def make_launcher_package(work, payload, zipstub, cepack):
    package = os.path.join(work, "launcher.exe")
    if cepack:
        subprocess.run([cepack, "build", "-o", package, "--stub", zipstub, payload], check=True)
        return package
    archive = os.path.join(work, "payload.zip")
    subprocess.run(["zip", "-q", "-r", "-X", archive, "."], cwd=payload, check=True)
    with open(package, "wb") as out:
        for part in (zipstub, archive):
            with open(part, "rb") as f:
                shutil.copyfileobj(f, out)
    subprocess.run(["zip", "-q", "-A", package], check=True)
    return package


def make_nsis_package(work, payload, quiet):
    package = os.path.join(work, "nsis.exe")
    script = os.path.join(work, "bench.nsi")
    with open(script, "w") as f:
        f.write(NSIS_SCRIPT.format(out=package, payload=payload, details="SetDetailsPrint none" if quiet else ""))
    subprocess.run(["makensis", "-V2", script], check=True)
    return package


def timed_run(package, env):
    start = time.monotonic()
    r = subprocess.run([WINE64, package], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=300)
    elapsed = time.monotonic() - start
    if r.returncode != 0:
        print(f"  {os.path.basename(package)} ended with {r.returncode} after {elapsed:.3f} s: "
              + r.stderr.decode(errors="replace").strip()[-300:])
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win64", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--mb", type=int, default=35)
    parser.add_argument("--cepack")
    parser.add_argument("--quiet-nsis", action="store_true")
    args = parser.parse_args()
    win64 = os.path.abspath(args.win64)
    zipstub = os.path.join(win64, "launcher", "zipstub.exe")
    testinst = os.path.join(win64, "tests", "testinst.exe")
    prefix = os.path.join(win64, "wineprefix-bench")

    work = tempfile.mkdtemp(prefix="ce-bench-")
    env = dict(os.environ)
    xvfb, env["DISPLAY"] = start_xvfb(first=120)
    try:
        payload = make_payload(work, args.mb, testinst)
        launcher = make_launcher_package(work, payload, zipstub, args.cepack)
        nsis = make_nsis_package(work, payload, args.quiet_nsis)
        print(f"packages: launcher {os.path.getsize(launcher) / 1e6:.1f} MB, nsis {os.path.getsize(nsis) / 1e6:.1f} MB")

        subprocess.run([os.path.join(SOURCE, "scripts", "wine-prefix.sh"), prefix], check=True)
        env.update({"WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                    "WINEARCH": "win64"})
        subprocess.run([WINE64, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Keep one wine server up for all runs, as a desktop session would.
        server = subprocess.Popen(["/usr/lib/wine/wineserver", "-f", "-p"], env=env)
        time.sleep(0.5)
        times = {"launcher": [], "nsis": []}
        timed_run(launcher, env)  # warm-up: caches, wine's first start
        timed_run(nsis, env)
        for _ in range(args.runs):
            for name, package in (("launcher", launcher), ("nsis", nsis)):
                times[name].append(timed_run(package, env))
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env)
        server.wait()
        for name, values in times.items():
            print(f"{name:9s} median {statistics.median(values):6.3f} s   runs " + " ".join(f"{v:.3f}" for v in values))
        ratio = statistics.median(times["launcher"]) / statistics.median(times["nsis"])
        print(f"launcher / nsis = {ratio:.2f} (target: at most 0.50)")
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
