#!/usr/bin/env python3
"""End-to-end scenarios of the launcher (zipstub.exe) under wine64 and Xvfb:
what the user sees (dialogs and message boxes, read by the UI driver) and
what stays on disk. The helpers come from the win64 build; the programs
under test from --programs (the shipped win32 build runs emulated), by
default the win64 build.

run_e2e.py --win64 BUILD_DIR [--programs BUILD_DIR] [--cepack PATH] [--prefix WINEPREFIX]
           [--only NAME,...] [--shots DIR] [--keep]
"""
import argparse
import contextlib
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
WINE64 = "/usr/lib/wine/wine64"

DIALOG_TITLE = "Preparing installation..."
DEFECTIVE = (b"Error, installation file defective!\rYour download was probably incomplete!\r\r"
             b"Fehler, Installationsdatei defekt!\rIhr Download war wahrscheinlich nicht komplett!")
CANCELLED = b"Installation aborted!\r\rInstallation abgebrochen!"
WRITE_ERROR = (b"Error writing to temporary directory, disk may be full or write protected!\r"
               b"Try renaming this file to install.zip and unpack it with an unzip tool!\r\r"
               b"Fehler beim Schreiben in tempor\xe4res Verzeichnis!\r"
               b"Benennen Sie die Datei in install.zip um, und entpacken Sie sie mit einem ZIP-Entpacker!")


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def win(path):
    """The Wine (Z:) name of a Unix path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unescape(text):
    """Bytes of a text as the UI driver escapes it."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"r": b"\r", "n": b"\n", "\\": b"\\"}.get(n, n.encode())
            i += 2
            continue
        out += c.encode("latin-1")
        i += 1
    return bytes(out)


def parse_fields(line):
    """'window class=X title=a b owner=- rect=...' -> dict (values may hold spaces)."""
    keys = ("class=", "title=", "owner=", "rect=", "id=", "text=")
    fields, rest = {}, line
    positions = sorted((rest.find(" " + k), k) for k in keys if rest.find(" " + k) >= 0)
    for n, (pos, key) in enumerate(positions):
        end = positions[n + 1][0] if n + 1 < len(positions) else len(rest)
        fields[key[:-1]] = rest[pos + 1 + len(key):end]
    return fields


class Seen:
    """What the driver reported: windows with their controls, exit code."""

    def __init__(self, output):
        self.lines = output.splitlines()
        self.windows = []
        self.exit_code = None
        self.wide_texts = []  # widetext steps' reports, in order
        for line in self.lines:
            if line.startswith("window "):
                f = parse_fields(line)
                self.windows.append({"class": f.get("class"), "title": unescape(f.get("title", "")),
                                     "owner": f.get("owner"), "rect": f.get("rect"), "controls": {}})
            elif line.startswith("control ") and self.windows:
                f = parse_fields(line)
                self.windows[-1]["controls"][int(f["id"])] = unescape(f.get("text", ""))
            elif line.startswith("widetext text="):
                self.wide_texts.append(unescape(line[len("widetext text="):]).decode("utf-8"))
            elif line.startswith("exit code="):
                self.exit_code = int(line.split("=", 1)[1])

    def message_boxes(self):
        return [w for w in self.windows if 0xFFFF in w["controls"]]


def start_xvfb(first=91):
    """Starts Xvfb on a free display; returns the process and its DISPLAY value."""
    for n in range(first, 200):
        if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
            continue
        proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(50):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                return proc, f":{n}"
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        proc.kill()
    raise SystemExit("e2e: could not start Xvfb")


def scenario_arguments(description_of_shots):
    """The command line both suites take."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--win64", required=True, help="build with the helpers (UI driver, stand-ins)")
    parser.add_argument("--programs", help="build with zipstub.exe and install.exe (default: --win64)")
    parser.add_argument("--cepack")
    parser.add_argument("--prefix")
    parser.add_argument("--only", help="comma-separated scenario names")
    parser.add_argument("--shots", help=description_of_shots)
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    return parser


def chosen_scenarios(scenarios, only):
    if not only:
        return scenarios
    names = only.split(",")
    return [f for f in scenarios if f.__name__ in names]


def run_scenarios(suite, chosen, title, width=20, before_stop=None):
    """Runs the scenarios on a started suite, prints a line each and a summary; 1 on any failure."""
    failed = skipped = 0
    began = time.monotonic()
    try:
        suite.start_wine()
        for scenario in chosen:
            t = time.monotonic()
            try:
                scenario(suite)
                verdict = "PASS"
            except Skip as e:
                verdict, skipped = f"SKIP ({e})", skipped + 1
            except (Failure, subprocess.CalledProcessError, OSError) as e:
                verdict, failed = f"FAIL\n    {e}", failed + 1
            print(f"{scenario.__name__:{width}s} {time.monotonic() - t:5.1f}s {verdict}  -- {scenario.__doc__}",
                  flush=True)
    finally:
        if before_stop:
            before_stop()
        suite.stop()
    print(f"{title}: {len(chosen) - failed - skipped} passed, {failed} failed, {skipped} skipped "
          f"in {time.monotonic() - began:.0f} s")
    return 1 if failed else 0


class Suite:
    def __init__(self, args):
        self.args = args
        self.win64 = os.path.abspath(args.win64)
        self.programs = os.path.abspath(args.programs or args.win64)
        self.zipstub = os.path.join(self.programs, "launcher", "zipstub.exe")
        self.driver = os.path.join(self.win64, "tests", "uidriver.exe")
        self.testinst = os.path.join(self.win64, "tests", "testinst.exe")
        self.cepack = args.cepack
        self.prefix = os.path.abspath(args.prefix or os.path.join(self.win64, "wineprefix-e2e"))
        self.work = tempfile.mkdtemp(prefix="ce-e2e-")
        self.env = dict(os.environ)
        self.xvfb = None
        self.shots = args.shots
        self.zip_flags = os.environ.get("CE_E2E_ZIPFLAGS", "").split()

    # ---- environment -------------------------------------------------
    def start_display(self):
        self.xvfb, self.env["DISPLAY"] = start_xvfb()

    def start_wine(self):
        subprocess.run([os.path.join(SOURCE, "scripts", "wine-prefix.sh"), self.prefix], check=True)
        # No crash debugger: a crash ends the program and shows in its exit code.
        self.env.update({"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winedbg.exe=d",
                         "WINEARCH": "win64"})
        # Unmanaged windows: without a window manager, Wine would otherwise
        # wait seconds for every window it hides.
        subprocess.run([WINE64, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                       env=self.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)

    # ---- building blocks ------------------------------------------------
    def dir(self, *parts):
        path = os.path.join(self.work, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def payload(self, name, files):
        """files: name -> bytes, or "testinst" for the stand-in installer."""
        root = self.dir(name, "payload")
        for rel, content in files.items():
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if content == "testinst":
                shutil.copy(self.testinst, path)
            else:
                with open(path, "wb") as f:
                    f.write(content)
        return root

    def zip_package(self, name, files):
        """The stub followed by an Info-ZIP archive, offsets fixed by zip -A."""
        root = self.payload(name, files)
        archive = os.path.join(self.work, name, "payload.zip")
        subprocess.run(["zip", "-q", "-r", "-X"] + self.zip_flags + [archive, "."], cwd=root, check=True)
        return self.stub_plus(name, archive)

    def sevenzip_package(self, name, files):
        """The stub followed by a 7-Zip archive (names beyond ASCII flagged as UTF-8)."""
        root = self.payload(name, files)
        archive = os.path.join(self.work, name, "payload.zip")
        subprocess.run(["7z", "a", "-tzip", "-bd", "-y", archive, "."], cwd=root, check=True,
                       stdout=subprocess.DEVNULL, env=dict(os.environ, LC_ALL="C.UTF-8"))
        return self.stub_plus(name, archive)

    def stub_plus(self, name, archive):
        package = os.path.join(self.work, name, "package.exe")
        with open(package, "wb") as out:
            for part in (self.zipstub, archive):
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out)
        subprocess.run(["zip", "-q", "-A", package], check=True)
        return package

    def pyzip_package(self, name, entries):
        """entries: (ZipInfo or name, bytes) written by Python's zipfile."""
        archive = os.path.join(self.dir(name), "payload.zip")
        method = zipfile.ZIP_STORED if "-0" in self.zip_flags else zipfile.ZIP_DEFLATED
        with zipfile.ZipFile(archive, "w", method) as z:
            for info, data in entries:
                z.writestr(info, data)
        return self.stub_plus(name, archive)

    @contextlib.contextmanager
    def locale(self, name):
        """Wine takes each process's code pages from its locale; the launcher and the installer inherit the
        driver's."""
        saved = self.env.get("LC_ALL")
        self.env["LC_ALL"] = name
        try:
            yield
        finally:
            if saved is None:
                del self.env["LC_ALL"]
            else:
                self.env["LC_ALL"] = saved

    def drive(self, steps, timeout=90):
        # Wine under full load has been seen to end the driver's own start
        # (exit 1, not one line written, so no step ran): that start is made
        # again, at most twice. Anything the driver did counts as it stands.
        # Wine's message goes to a file, not a pipe: the system processes that
        # the first program in a prefix starts keep its standard error open
        # as long as the wine server lives, so a pipe would never end.
        for attempt in range(3):
            with tempfile.TemporaryFile() as err:
                proc = subprocess.Popen([WINE64, self.driver] + steps, env=self.env, stdout=subprocess.PIPE,
                                        stderr=err, start_new_session=True)
                shooter = threading.Thread(target=self.serve_shots, args=(proc,), daemon=True)
                shooter.start()
                try:
                    out, _ = proc.communicate(timeout=timeout)
                except subprocess.TimeoutExpired:
                    try:
                        os.killpg(proc.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass  # the driver has ended; something else holds its output
                    try:
                        out, _ = proc.communicate(timeout=10)
                    except subprocess.TimeoutExpired:
                        out = b""
                    raise Failure("driver timed out:\n" + out.decode("latin-1"))
                err.seek(0)
                wine = err.read().decode("latin-1").strip()[-400:]
            text = out.decode("latin-1")
            if proc.returncode == 0:
                return Seen(text)
            if text or attempt == 2:
                raise Failure(f"driver ended with {proc.returncode}:\n{text}{wine}")
            print(f"  note: the UI driver did not start (exit {proc.returncode}): {wine!r}; starting it again",
                  flush=True)

    def serve_shots(self, proc):
        """Takes a screenshot for every NAME.shot file the driver creates."""
        folder = self.dir("shots")
        while proc.poll() is None:
            for entry in os.listdir(folder):
                if not entry.endswith(".shot"):
                    continue
                name = entry[:-5]
                if self.shots:
                    subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root",
                                    os.path.join(folder, name + ".png")], check=False)
                os.rename(os.path.join(folder, entry), os.path.join(folder, name + ".done"))
            time.sleep(0.02)

    def shot_steps(self, name):
        """Lets the window paint, reports it again (for its size) and has it photographed."""
        folder = self.dir("shots")
        return ["sleep|400", "report", f"signal|{win(os.path.join(folder, name + '.shot'))}",
                f"await|{win(os.path.join(folder, name + '.done'))}|20000"]

    def keep_shot(self, name, rect, target):
        """Crops the screenshot to the window with a margin and keeps it."""
        if not self.shots:
            return
        source = os.path.join(self.dir("shots"), name + ".png")
        left, top, right, bottom = (int(v) for v in rect.split(","))
        m = 12
        os.makedirs(self.shots, exist_ok=True)
        subprocess.run(["convert", source, "-crop", f"{right - left + 2 * m}x{bottom - top + 2 * m}+{left - m}+{top - m}",
                        "+repage", os.path.join(self.shots, target)], check=True)

    def run_package(self, package, temp, extra_env=(), steps_between=(), timeout_ms=30000, temp_steps=None,
                    elevated=False, steps_after=()):
        """Starts the package (a Unix path, or a Windows one as it is) with TEMP (and more) set and waits for
        its end; as a user who is no administrator unless elevated."""
        steps = temp_steps if temp_steps is not None else [f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}"]
        program = package if package[1:2] == ":" else win(package)
        start = "startadmin" if elevated else "start"
        steps += [f"set|{k}|{v}" for k, v in extra_env] + [f"{start}|{program}"]
        steps += list(steps_between) + [f"wait|{timeout_ms}"] + list(steps_after)
        return self.drive(steps)


# ---- checks ----------------------------------------------------------------
def check(condition, message):
    if not condition:
        raise Failure(message)


def read_bytes(path):
    if not os.path.exists(path):
        return b""
    with open(path, "rb") as f:
        return f.read()


def listing(path):
    out = []
    for root, dirs, files in os.walk(path):
        for n in dirs + files:
            out.append(os.path.relpath(os.path.join(root, n), path))
    return sorted(out)


def read_log(path):
    """Records of the stand-in installer: list of dicts."""
    if not os.path.exists(path):
        return []
    records, current = [], None
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            key, _, value = line.partition("=")
            if key == "role":
                current = {}
                records.append(current)
            if current is not None:
                current[key] = value
    return records


def expect_box(seen, text, caption, owner):
    boxes = seen.message_boxes()
    check(len(boxes) >= 1 and all(b["rect"] == boxes[0]["rect"] for b in boxes),
          f"expected one message box, saw {len(boxes)}: {seen.lines}")
    box = boxes[0]
    check(box["controls"][0xFFFF] == text, f"message text {box['controls'][0xFFFF]!r}, want {text!r}")
    check(box["title"] == caption, f"message caption {box['title']!r}, want {caption!r}")
    check(box["owner"] == owner, f"message owner {box['owner']!r}, want {owner!r}")
    return box


def expect_installer(log, temp, name="setup.exe", number=0):
    records = read_log(log)
    check(len(records) >= 1, "the installer was not started")
    r = records[0]
    workdir = win(temp) + f"\\$qv{number}"
    check(r.get("cwd", "").lower() == workdir.lower(), f"installer ran in {r.get('cwd')!r}, want {workdir!r}")
    check(r.get("exe", "").lower() == (workdir + "\\" + name).lower(), f"started {r.get('exe')!r}, want {name}")
    return r


# ---- scenarios -------------------------------------------------------------


def normal_run(s):
    """Progress dialog, installer in $qv0 of a TEMP with a space in its path, all gone afterwards."""
    temp = s.dir("normal", "my temp")
    log = os.path.join(s.work, "normal", "log.txt")
    files = {"setup.exe": "testinst", "readme.txt": b"Read me.\r\n" * 50, "app.cab": os.urandom(30000)}
    package = s.zip_package("normal", files)
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))],
                         [f"window|{DIALOG_TITLE}|20000"])
    dialog = seen.windows[0]
    check(dialog["controls"].get(120) == b"Unpacking files:" and dialog["controls"].get(2) == b"&Cancel",
          f"progress dialog controls {dialog['controls']}")
    check(dialog["owner"] == "-", "the progress dialog has no owner")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    record = expect_installer(log, temp)
    check(record.get("cmdline") == '"' + win(temp) + '\\$qv0\\setup.exe"',
          f"installer command line {record.get('cmdline')!r}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def setup_preferred(s):
    """setup.exe is started although install.exe is there too."""
    temp = s.dir("prefer", "temp")
    log = os.path.join(s.work, "prefer", "log.txt")
    package = s.zip_package("prefer", {"install.exe": "testinst", "setup.exe": "testinst"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))])
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    expect_installer(log, temp, "setup.exe")
    check(len(read_log(log)) == 1, "only one installer runs")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def install_bat(s):
    """Only install.bat: it is started, in the working directory."""
    temp = s.dir("bat", "temp")
    log = os.path.join(s.work, "bat", "log.txt")
    script = b'@echo off\r\necho role=bat>>"%CE_TESTINST_LOG%"\r\necho cwd=%CD%>>"%CE_TESTINST_LOG%"\r\n'
    package = s.zip_package("bat", {"install.bat": script, "readme.txt": b"x"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))])
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    records = read_log(log)
    check(records and records[0].get("role") == "bat", f"install.bat did not run: {records}")
    check(records[0].get("cwd", "").lower() == (win(temp) + "\\$qv0").lower(), f"bat ran in {records[0].get('cwd')}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def no_installer(s):
    """No installer in the payload: no message, everything removed, exit code 0."""
    temp = s.dir("noinst", "temp")
    package = s.zip_package("noinst", {"readme.txt": b"nothing to start", "app.cab": os.urandom(5000)})
    seen = s.run_package(package, temp, timeout_ms=20000)
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    check(seen.message_boxes() == [], "no message expected")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def defective(s, name, package):
    temp = s.dir(name, "temp")
    seen = s.run_package(package, temp, steps_between=["msgbox|20000", "click|1"])
    expect_box(seen, DEFECTIVE, win(package).encode(), "-")
    check(not any(w["title"] == DIALOG_TITLE.encode() for w in seen.windows), "no progress dialog expected")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def no_archive(s):
    """The bare launcher without an archive: defective box captioned with its path."""
    package = os.path.join(s.dir("noarchive"), "package.exe")
    shutil.copy(s.zipstub, package)
    defective(s, "noarchive", package)


def truncated(s):
    """A download cut short (no end record): defective box, nothing written."""
    full = s.zip_package("truncated", {"setup.exe": "testinst", "app.cab": os.urandom(200000)})
    with open(full, "rb") as f:
        data = f.read()
    package = os.path.join(s.work, "truncated", "cut.exe")
    with open(package, "wb") as f:
        f.write(data[:len(data) * 3 // 4])
    defective(s, "truncated", package)


def signed(s):
    """A package signed with osslsigncode (certificate behind the archive) still unpacks."""
    if not shutil.which("osslsigncode") or not shutil.which("openssl"):
        raise Skip("osslsigncode or openssl missing")
    d = s.dir("signed")
    key, cert = os.path.join(d, "key.pem"), os.path.join(d, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=cepackage e2e test"], check=True, capture_output=True)
    package = s.zip_package("signed", {"setup.exe": "testinst", "readme.txt": b"signed"})
    signed_package = os.path.join(d, "signed.exe")
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", package, "-out", signed_package],
                   check=True, capture_output=True)
    check(os.path.getsize(signed_package) > os.path.getsize(package), "signature appended")
    temp = s.dir("signed", "temp")
    log = os.path.join(d, "log.txt")
    seen = s.run_package(signed_package, temp, [("CE_TESTINST_LOG", win(log))])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"signed run: {seen.lines}")
    expect_installer(log, temp)
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def installs_cleanly(s, name, package):
    """The package runs without a message, its installer starts in a fresh directory, and TEMP ends up empty."""
    temp = s.dir(name, "temp")
    log = os.path.join(s.work, name, "log.txt")
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"{name} run: {seen.lines}")
    expect_installer(log, temp)
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def cepack_package(s):
    """A package made by cepack build runs like one made with zip -A."""
    if not s.cepack or not os.path.exists(s.cepack):
        raise Skip(f"cepack not built ({s.cepack})")
    root = s.payload("cepack", {"setup.exe": "testinst", "readme.txt": b"from cepack", "app.cab": os.urandom(20000)})
    package = os.path.join(s.work, "cepack", "Setup.exe")
    subprocess.run([s.cepack, "build", "-o", package, "--stub", s.zipstub, root], check=True, capture_output=True)
    installs_cleanly(s, "cepack", package)


def branded_package(s):
    """A package given the vendor's version information and icon by cepack build unpacks and starts its installer."""
    if not s.cepack or not os.path.exists(s.cepack):
        raise Skip(f"cepack not built ({s.cepack})")
    root = s.payload("branded", {"setup.exe": "testinst", "readme.txt": b"branded", "app.cab": os.urandom(20000)})
    # One 16x16 32-bit bitmap image: header (height doubled for the mask), pixels, mask.
    image = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + os.urandom(16 * 16 * 4) + bytes(64)
    icon = os.path.join(s.dir("branded"), "vendor.ico")
    with open(icon, "wb") as f:
        f.write(struct.pack("<HHHBBBBHHII", 0, 1, 1, 16, 16, 0, 0, 1, 32, len(image), 22) + image)
    package = os.path.join(s.work, "branded", "VendorSetup.exe")
    subprocess.run([s.cepack, "build", "-o", package, "--stub", s.zipstub, "--version", "2.1.0.37", "--company",
                    "Vendor Ltd", "--icon", icon, root], check=True, capture_output=True)
    data = read_bytes(package)
    check("Vendor Ltd".encode("utf-16-le") in data and "2.1.0.37".encode("utf-16-le") in data, "not branded")
    check("Self-extracting installation package".encode("utf-16-le") not in data, "our description is left")
    installs_cleanly(s, "branded", package)


LARGE_ENTRY = 256 * 1024 * 1024


def large_package(s):
    path = os.path.join(s.work, "large", "package.exe")
    if os.path.exists(path):
        return path
    d = s.dir("large", "payload")
    shutil.copy(s.testinst, os.path.join(d, "setup.exe"))
    with open(os.path.join(d, "big.bin"), "wb") as f:
        block = bytes(1 << 20)
        for _ in range(LARGE_ENTRY >> 20):
            f.write(block)
    archive = os.path.join(s.work, "large", "payload.zip")
    subprocess.run(["zip", "-q", "-X", "-1"] + s.zip_flags + [archive, "setup.exe", "big.bin"], cwd=d, check=True)
    os.remove(os.path.join(d, "big.bin"))
    return s.stub_plus("large", archive)


def cancel(s, name, how, shots=False):
    """Cancel during a large entry: cancellation box owned by the dialog, nothing left."""
    package = large_package(s)
    temp = s.dir(name, "temp")
    log = os.path.join(s.work, name, "log.txt")
    caption = win(package).encode()
    if shots:
        # Where a user would have it, so that the pictures show real paths.
        public = os.path.join(s.prefix, "drive_c", "users", "Public")
        temp = os.path.join(public, "Temp")
        shutil.rmtree(temp, ignore_errors=True)
        os.makedirs(temp)
        os.makedirs(os.path.join(public, "Downloads"), exist_ok=True)
        shutil.copy(package, os.path.join(public, "Downloads", "SampleNotes.exe"))
        package = r"C:\users\Public\Downloads\SampleNotes.exe"
        caption = package.encode()
    # The launcher is held still while the click is queued, so the cancel
    # lands in the middle of the large entry however fast this machine is.
    # A picture wants the bar painted a little way in; otherwise stop at once.
    between = [f"window|{DIALOG_TITLE}|20000", "sleep|150" if shots else "sleep|10", "suspend"]
    if shots:
        between += s.shot_steps("progress")
    between += how + ["resume", "msgbox|30000"]
    if shots:
        between += s.shot_steps("message")
    between += ["click|1"]
    temp_steps = [r"set|TEMP|C:\users\Public\Temp", r"set|TMP|C:\users\Public\Temp"] if shots else None
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))], between, timeout_ms=60000,
                         temp_steps=temp_steps)
    expect_box(seen, CANCELLED, caption, DIALOG_TITLE)
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    check(read_log(log) == [], "the installer must not start after a cancel")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
    if shots:
        s.keep_shot("progress", seen.windows[1]["rect"], "launcher-progress.png")
        s.keep_shot("message", seen.message_boxes()[-1]["rect"], "launcher-message.png")


def cancel_button(s):
    """Cancel button pressed during a large entry."""
    cancel(s, "cancelbutton", ["click|2"], shots=bool(s.shots))


def cancel_escape(s):
    """Esc pressed during a large entry cancels through the dialog manager."""
    cancel(s, "cancelesc", ["key|27|2"])


def cancel_close(s):
    """The title bar's close command during a large entry cancels too."""
    cancel(s, "cancelclose", ["sysclose"])


def write_fail_create(s):
    """An entry whose file cannot be created (a file is in the way of its directory)."""
    package = s.pyzip_package("createfail", [("setup.exe", open(s.testinst, "rb").read()),
                                             ("a.txt", b"a file"), ("a.txt/b.txt", b"cannot be created")])
    temp = s.dir("createfail", "temp")
    log = os.path.join(s.work, "createfail", "log.txt")
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))], ["msgbox|20000", "click|1"])
    expect_box(seen, WRITE_ERROR, (win(temp) + "\\$qv0\\").encode(), DIALOG_TITLE)
    check(read_log(log) == [], "the installer must not start after a write error")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def russian_message(s):
    """On a Russian system (code page 1251) the write-error box keeps its German letters (its text is 1252)
    and its caption, the working directory under a Cyrillic TEMP, its Cyrillic ones (the system's code page)."""
    temp = s.dir("russian", "\u0412\u0440\u0435\u043c\u0435\u043d\u043d\u044b\u0435")
    package = s.pyzip_package("russian", [("setup.exe", open(s.testinst, "rb").read()),
                                          ("a.txt", b"a file"), ("a.txt/b.txt", b"cannot be created")])
    with s.locale("ru_RU.UTF-8"):
        seen = s.run_package(package, temp, steps_between=["msgbox|20000", "widetext|65535", "widetext", "click|1"])
    want = [WRITE_ERROR.decode("cp1252"), win(temp) + "\\$qv0\\"]
    check(seen.wide_texts == want, f"message box read as UTF-16 {seen.wide_texts!r}, want {want!r}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def disk_full(s):
    """TEMP on a 1 MB tmpfs and a 3 MB entry: write-error box, clean-up."""
    mount = s.dir("diskfull", "small")
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mount], capture_output=True)
    if r.returncode != 0:
        raise Skip("cannot mount a small tmpfs here: " + r.stderr.decode(errors="replace").strip())
    try:
        package = s.zip_package("diskfull", {"readme.txt": b"first", "big.bin": os.urandom(3 << 20),
                                             "setup.exe": "testinst"})
        seen = s.run_package(package, mount, steps_between=["msgbox|30000", "click|1"])
        expect_box(seen, WRITE_ERROR, (win(mount) + "\\$qv0\\").encode(), DIALOG_TITLE)
        check(seen.exit_code == 0, f"exit code {seen.exit_code}")
        check(listing(mount) == [], f"left on the small disk: {listing(mount)}")
    finally:
        subprocess.run(["umount", mount], check=False)


def fallback(s, name, temp_steps, expect_under):
    log = os.path.join(s.work, name, "log.txt")
    package = s.zip_package(name, {"setup.exe": "testinst"})
    seen = s.run_package(package, None, [("CE_TESTINST_LOG", win(log))], temp_steps=temp_steps)
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    expect_installer(log, expect_under)
    check(listing(expect_under) == [], f"left in TMP: {listing(expect_under)}")


def utf8_names(s):
    """Names 7-Zip flags as UTF-8: unpacked under their own names where the code page holds them (1252 here);
    a Japanese one there is refused with the defective box, nothing unpacked and nothing started."""
    temp = s.dir("utf8", "temp")
    log = os.path.join(s.work, "utf8", "log.txt")
    package = s.sevenzip_package("utf8", {"setup.exe": "testinst", "caf\u00e9.txt": b"x"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log)), ("CE_TESTINST_MODE", "hashes")])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"{seen.lines}")
    check(b"file=caf\xe9.txt|1|" in read_bytes(log), f"unpacked: {read_bytes(log)!r}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
    temp = s.dir("utf8jp", "temp")
    log = os.path.join(s.work, "utf8jp", "log.txt")
    package = s.sevenzip_package("utf8jp", {"setup.exe": "testinst", "\u6f22\u5b57.txt": b"y"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))], ["msgbox|20000", "click|1"])
    expect_box(seen, DEFECTIVE, win(package).encode(), DIALOG_TITLE)  # met during the unpacking
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    check(listing(temp) == [] and not os.path.exists(log), f"left in TEMP: {listing(temp)}; installer started")


def cepack_japanese_name(s):
    """Japanese names packed by cepack (flagged UTF-8) arrive under their exact code page 932 names on a Japanese
    system, one whose trail byte is "\\" too."""
    if not s.cepack or not os.path.exists(s.cepack):
        raise Skip(f"cepack not built ({s.cepack})")
    files = {"setup.exe": "testinst", "\u6f22\u5b57.txt": b"y", "\u8868.txt": b"z"}
    root = s.payload("cepackjp", files)
    package = os.path.join(s.work, "cepackjp", "Setup.exe")
    subprocess.run([s.cepack, "build", "-o", package, "--stub", s.zipstub, root], check=True, capture_output=True)
    temp = s.dir("cepackjp", "temp")
    log = os.path.join(s.work, "cepackjp", "log.txt")
    with s.locale("ja_JP.UTF-8"):
        seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log)), ("CE_TESTINST_MODE", "hashes")])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"{seen.lines}")
    unpacked = read_bytes(log)
    for name in (b"\x8a\xbf\x8e\x9a.txt|1|", b"\x95\\.txt|1|"):
        check(b"file=" + name in unpacked, f"{name!r} not among {unpacked!r}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def temp_unset(s):
    """TEMP not set: TMP is used."""
    tmp = s.dir("tempunset", "tmp")
    fallback(s, "tempunset", ["unset|TEMP", f"set|TMP|{win(tmp)}"], tmp)


def temp_relative(s):
    """TEMP relative ("temp"): refused, TMP is used."""
    tmp = s.dir("temprel", "tmp")
    s.dir("temprel", "temp")
    fallback(s, "temprel", ["set|TEMP|temp", f"set|TMP|{win(tmp)}"], tmp)


def temp_missing(s):
    """TEMP names a directory that does not exist: TMP is used."""
    tmp = s.dir("tempmissing", "tmp")
    missing = os.path.join(s.work, "tempmissing", "nowhere")
    fallback(s, "tempmissing", [f"set|TEMP|{win(missing)}", f"set|TMP|{win(tmp)}"], tmp)


def temp_too_long(s):
    """TEMP longer than a path buffer holds: skipped, TMP is used."""
    tmp = s.dir("templong", "tmp")
    deep = s.work + "/templong/" + "/".join(["d" * 60] * 5)
    os.makedirs(deep)
    fallback(s, "templong", [f"set|TEMP|{win(deep)}", f"set|TMP|{win(tmp)}"], tmp)


def qv_numbers(s):
    """$qv0 to $qv4 exist: $qv5 is made, used and removed; the others stay."""
    temp = s.dir("qv5", "temp")
    for n in range(5):
        s.dir("qv5", "temp", f"$qv{n}")
    log = os.path.join(s.work, "qv5", "log.txt")
    package = s.zip_package("qv5", {"setup.exe": "testinst"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))])
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    expect_installer(log, temp, number=5)
    check(listing(temp) == [f"$qv{n}" for n in range(5)], f"TEMP holds {listing(temp)}")


def qv0_file(s):
    """A plain file $qv0 in TEMP: TEMP is given up at once, TMP is used."""
    temp = s.dir("qvfile", "temp")
    tmp = s.dir("qvfile", "tmp")
    with open(os.path.join(temp, "$qv0"), "wb") as f:
        f.write(b"in the way")
    fallback(s, "qvfile", [f"set|TEMP|{win(temp)}", f"set|TMP|{win(tmp)}"], tmp)
    check(listing(temp) == ["$qv0"], f"TEMP holds {listing(temp)}")


def read_only_cleanup(s):
    """Files made read-only (one also hidden and system) are removed at clean-up."""
    temp = s.dir("readonly", "temp")
    log = os.path.join(s.work, "readonly", "log.txt")
    package = s.zip_package("readonly", {"setup.exe": "testinst", "a.txt": b"a", "b.txt": b"b"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log)), ("CE_TESTINST_MODE", "readonly")])
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    expect_installer(log, temp)
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def locked_file(s):
    """The installer's helper keeps its file open after the installer ended, longer than the clean-up tries
    again (elevated, as the launcher runs): the locked file and the directory stay in the Windows directory's
    temp, both left to be deleted at the next restart, and the launcher still ends with 0."""
    log = os.path.join(s.work, "locked", "log.txt")
    release = os.path.join(s.work, "locked", "release")
    package = s.zip_package("locked", {"setup.exe": "testinst"})
    # The helper lets go only once the launcher has ended.
    seen = s.run_package(package, s.dir("locked", "temp"), [("CE_TESTINST_LOG", win(log)),
                         ("CE_TESTINST_MODE", "handover:60000"), ("CE_TESTINST_RELEASE", win(release))],
                         steps_after=[f"signal|{win(release)}"], elevated=True)
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    records = read_log(log)
    check(len(records) == 1, "the installer was not started")
    cwd = records[0].get("cwd", "")
    left = os.path.join(s.prefix, "drive_c", "windows", "temp", cwd.rsplit("\\", 1)[-1])
    key = [r"HKLM\System\CurrentControlSet\Control\Session Manager", "/v", "PendingFileRenameOperations"]
    pending = subprocess.run([WINE64, "reg", "query"] + key, env=s.env, capture_output=True).stdout.decode("latin-1")
    subprocess.run([WINE64, "reg", "delete"] + key + ["/f"], env=s.env, capture_output=True)
    try:
        check(os.path.isdir(left) and os.listdir(left) == ["setup.exe"], f"{cwd} holds {listing(left)}")
        for path in (cwd + "\\setup.exe", cwd):
            listed = re.search(re.escape("\\??\\" + path) + r"(\\0|\s|$)", pending, re.IGNORECASE)
            check(listed is not None, f"{path} not left to the restart: {pending!r}")
    finally:
        shutil.rmtree(left, ignore_errors=True)


def wm_quit(s):
    """WM_QUIT while waiting ends the launcher with its code and leaves the directory."""
    temp = s.dir("quit", "temp")
    log = os.path.join(s.work, "quit", "log.txt")
    package = s.zip_package("quit", {"setup.exe": "testinst", "readme.txt": b"stays"})
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log)), ("CE_TESTINST_MODE", "wait:6000")],
                         [f"await|{win(log)}|20000", "sleep|200", "quit|77"])
    check(seen.exit_code == 77, f"exit code {seen.exit_code}, want 77")
    check(listing(temp) == ["$qv0", "$qv0/readme.txt", "$qv0/setup.exe"], f"TEMP holds {listing(temp)}")
    # The stand-in installer is still waiting; the suite's end stops it.


def elevated(s):
    """Elevated, the launcher works in the Windows directory's temp and nowhere else, where the user's own programs
    cannot rename its directory away: names planted there ($qv0 and $qv1 files, $qv2 and $qv3 directories) are
    passed over, never the user's TEMP taken instead; nothing is left, the planted names stay as they were."""
    temp = s.dir("elevated", "temp")
    log = os.path.join(s.work, "elevated", "log.txt")
    package = s.zip_package("elevated", {"setup.exe": "testinst"})
    windows_temp = os.path.join(s.prefix, "drive_c", "windows", "temp")
    planted = {"$qv0": b"planted file", "$qv1": b"", "$qv2": None, "$qv3": None}

    def remove_planted():
        for name in planted:
            path = os.path.join(windows_temp, name)
            if os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.exists(path):
                os.remove(path)

    remove_planted()  # what other scenarios left under these names
    try:
        for name, content in planted.items():
            path = os.path.join(windows_temp, name)
            if content is None:
                os.makedirs(os.path.join(path, "inside"), exist_ok=True)
            else:
                with open(path, "wb") as f:
                    f.write(content)
        seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))], elevated=True)
        check(seen.exit_code == 0 and seen.message_boxes() == [], f"{seen.lines}")
        records = read_log(log)
        check(len(records) == 1, "the installer was not started")
        cwd = records[0].get("cwd", "")
        name = cwd.rsplit("\\", 1)[-1]
        check(re.fullmatch(r"c:\\windows\\temp\\\$qv[0-9a-f]+", cwd.lower()) is not None and name not in planted,
              f"installer ran in {cwd!r}")
        check(not os.path.exists(os.path.join(windows_temp, name)), f"{cwd} left behind")
        check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
        for name, content in planted.items():
            path = os.path.join(windows_temp, name)
            kept = listing(path) == ["inside"] if content is None else read_bytes(path) == content
            check(kept, f"the planted {name} was changed")
    finally:
        remove_planted()


def cyrillic_folder(s):
    """The package and TEMP under a user name the Western code page cannot hold: the launcher opens itself and
    works in TEMP by their short names instead of reporting a damaged package."""
    home = s.dir("cyrillic", "\u0418\u0432\u0430\u043d")
    temp = s.dir("cyrillic", "\u0418\u0432\u0430\u043d", "Temp")
    log = os.path.join(s.work, "cyrillic", "log.txt")
    package = os.path.join(home, "package.exe")
    shutil.move(s.zip_package("cyrillic", {"setup.exe": "testinst"}), package)
    seen = s.run_package(package, temp, [("CE_TESTINST_LOG", win(log))])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"{seen.lines}")
    records = read_log(log)
    check(len(records) == 1, "the installer was not started")
    cwd = records[0].get("cwd", "")
    check(cwd.lower().startswith("z:") and "~" in cwd and cwd.lower().endswith("\\temp\\$qv0"), f"installer ran in {cwd!r}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


SCENARIOS = [normal_run, setup_preferred, install_bat, no_installer, no_archive, truncated, signed, cepack_package,
             branded_package,
             cancel_button, cancel_escape, cancel_close, write_fail_create, russian_message, disk_full, utf8_names,
             cepack_japanese_name, temp_unset, temp_relative, temp_missing, temp_too_long, qv_numbers, qv0_file,
             read_only_cleanup, locked_file, wm_quit, elevated, cyrillic_folder]


def main():
    args = scenario_arguments("keep screenshots of the dialog and a message box here").parse_args()
    chosen = chosen_scenarios(SCENARIOS, args.only)
    suite = Suite(args)
    for path in (suite.zipstub, suite.driver, suite.testinst):
        if not os.path.exists(path):
            raise SystemExit(f"e2e: {path} is missing")
    suite.start_display()
    return run_scenarios(suite, chosen, "e2e")


if __name__ == "__main__":
    sys.exit(main())
