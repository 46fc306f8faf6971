#!/usr/bin/env python3
"""End-to-end scenarios of the installer (install.exe) under wine64 and Xvfb, alone and behind the launcher: the dialogs and messages the
user sees (read and answered by the UI driver), the files in the destination,
what the stand-in CeAppMgr.exe was started with, and the exit codes.

run_installer_e2e.py --win64 BUILD_DIR [--programs BUILD_DIR] [--cepack PATH] [--prefix WINEPREFIX]
                     [--only NAME,...] [--shots DIR] [--keep] [--package SAMPLE.exe]
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e as base  # noqa: E402  the launcher's suite: display, prefix, driver, screenshots
from run_e2e import Failure, Skip, check, listing, win, unescape  # noqa: E402

SOURCE = base.SOURCE
SAMPLE = os.path.join(SOURCE, "examples", "sample")
CE_KEY = r"HKLM\SOFTWARE\Microsoft\Windows CE Services"
SHELL_FOLDERS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
FOLDER_OPEN_KEY = r"HKCR\Folder\shell\open\command"
APP_PATH_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CEAPPMGR.EXE"

PROGRESS_TITLE = "Unpacking files..."
MISSING_INF = (b"The setup information file was not found!\rYou need to unpack the whole archive before running "
               b"install.exe!\rInstallation aborted!\r\rDie Setup-Informationsdatei wurde nicht gefunden!\r"
               b"Sie m\xfcssen das ganze Archiv entpacken, bevor Sie install.exe starten!\rInstallation abgebrochen!")
DEVICE_CENTER_URL = b"https://www.microsoft.com/en-us/download/details.aspx?id=3182"
VISTA_MISSING = (b"Cannot install!\rPlease get the Mobile Device Center 6.1 or later:\r" + DEVICE_CENTER_URL +
                 b" !\rThe URL has been copied to the clipboard.")
XP_MISSING = b"Cannot install!\rPlease install Microsoft ActiveSync from www.microsoft.com !"
EXISTS = (b"The specified directory already exists. Do you want to install the program there anyway? "
          b"(Existing versions will be overwritten!)\rTo update an installed version, install into the directory "
          b"it was installed in.")
SAVE_QUESTION = (b"Do you want to save the files for the device to a folder instead? You can then copy the device cabinet "
                 b"(.cab) to the device and open it there.")
SUCCESS = b"Installation successful! Please follow the instructions in CE App manager."
NOT_SUCCESSFUL = b"Installation NOT successful!"
ABORTED = b"Installation aborted!"
REFUSED = b"Please enter the full path of the target directory, for example C:\\Program Files\\Tools."
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


class Suite(base.Suite):
    def __init__(self, args):
        super().__init__(args)
        self.install = os.path.join(self.programs, "installer", "install.exe")
        self.appmgr = os.path.join(self.win64, "tests", "CeAppMgr.exe")

    def wine(self, *args):
        """A Wine tool (reg) that must succeed. Once, in a fully loaded emulated run, reg add failed with exit
        status 1 for no reason of the test's; it is tried again, and a third failure says what Wine printed."""
        for attempt in range(3):
            done = subprocess.run([base.WINE64] + list(args), env=self.env, capture_output=True)
            if done.returncode == 0:
                return
        raise RuntimeError(f"{' '.join(args)}: exit {done.returncode}: "
                           f"{(done.stdout + done.stderr).decode('latin-1').strip()}")

    def cepack_build(self, package, folder):
        """cepack build behind the launcher under test. The 64-bit twin of install.exe is no program users
        get, and lint rightly refuses it: that mode packs without lint; the 32-bit mode lints."""
        with open(self.install, "rb") as f:
            head = f.read(4096)
        pe = int.from_bytes(head[60:64], "little")
        shipped = head[pe + 4:pe + 6] == b"\x4c\x01"
        subprocess.run([self.cepack, "build", "-o", package, "--stub", self.zipstub, folder] +
                       ([] if shipped else ["--no-lint"]), check=True, capture_output=True)

    def set_ce_dir(self, path):
        """InstalledDir in the registry's 32-bit view; None removes it."""
        if path is None:
            subprocess.run([base.WINE64, "reg", "delete", CE_KEY, "/v", "InstalledDir", "/f", "/reg:32"],
                           env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            self.wine("reg", "add", CE_KEY, "/v", "InstalledDir", "/t", "REG_SZ", "/d", path, "/f", "/reg:32")

    def ce_dir(self, name, with_appmgr=True):
        """A CE services directory (with the stand-in CeAppMgr.exe), registered."""
        d = self.dir(name, "ActiveSync")
        if with_appmgr:
            shutil.copy(self.appmgr, os.path.join(d, "CeAppMgr.exe"))
        self.set_ce_dir(win(d))
        return d

    def package_dir(self, name, inf, files, program="install.exe"):
        """The unpacked package: the installer, its setup file and the listed files."""
        d = self.dir(name, "pkg")
        shutil.copy(self.install, os.path.join(d, program))
        if inf is not None:
            with open(os.path.join(d, program[:program.rfind(".")] + ".inf"), "wb") as f:
                f.write(inf.replace(b"\n", b"\r\n"))
        for rel, content in files.items():
            with open(os.path.join(d, rel), "wb") as f:
                f.write(content)
        return d

    def run_installer(self, pkg, steps, program="install.exe", timeout_ms=30000):
        exe = os.path.join(pkg, program)
        return self.drive([f"start|{win(exe)}|{win(pkg)}"] + steps + [f"wait|{timeout_ms}"])


# ---- reading what the driver saw ---------------------------------------------
def distinct_windows(seen):
    """The windows reported, each once (the first report of its handle)."""
    handles = [line.split()[1] for line in seen.lines if line.startswith("window ")]
    out, known = [], set()
    for handle, window in zip(handles, seen.windows):
        if handle not in known:
            known.add(handle)
            out.append(window)
    return out


def windows_titled(seen, title):
    return [w for w in distinct_windows(seen) if w["title"] == title]


def language_dialogs(seen):
    """The language dialogs seen: they carry the prompt (110); the installer's other dialogs share their caption."""
    return [w for w in distinct_windows(seen) if 110 in w["controls"]]


def destination_dialogs(seen):
    return [w for w in distinct_windows(seen) if 101 in w["controls"]]


def list_items(seen):
    """The lines of the last list box reported: [(text, selected)]."""
    items = []
    for line in seen.lines:
        if line.startswith("item index="):
            head, _, text = line.partition(" text=")
            if head.split()[1] == "index=0":
                items = []
            items.append((unescape(text), head.endswith(" selected")))
    return items


def clipboard(seen):
    for line in seen.lines:
        if line.startswith("clipboard text="):
            return unescape(line[len("clipboard text="):])
    return None


def box_texts(seen):
    return [(w["controls"][0xFFFF], w["title"], w["owner"]) for w in distinct_windows(seen) if 0xFFFF in w["controls"]]


def keep_full_shot(s, name):
    """Keeps the whole screen, backdrop and dialog, as installer-NAME.png (in 64 colours)."""
    if s.shots:
        subprocess.run(["convert", os.path.join(s.dir("shots"), name + ".png"), "+dither", "-colors", "64",
                        "PNG8:" + os.path.join(s.shots, f"installer-{name}.png")], check=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def appmgr_calls(ce, started=0, log="CeAppMgr.log"):
    """The command lines the stand-in CeAppMgr.exe logged. The installer does not wait for it, so where
    `started` calls are expected, their lines are awaited (at most 30 s)."""
    log = os.path.join(ce, log)
    deadline = time.monotonic() + 30
    while True:
        text = read(log).decode("latin-1") if os.path.exists(log) else ""
        lines = text[:text.rfind("\r\n") + 2].splitlines() if "\r\n" in text else []  # whole lines only
        if len(lines) >= started or time.monotonic() > deadline:
            return lines
        time.sleep(0.05)


def appmgr_dirs(ce, started=0):
    """The current directories the stand-in CeAppMgr.exe was started in, one per call."""
    return appmgr_calls(ce, started, log="CeAppMgr.log.cwd")


# ---- setup files -----------------------------------------------------------------
def inf(program=b"Test Tool", languages=b"Count=1\nDefault=1\n1=English", lists=b"[Install]\n1=app.ini\n2=app.cab",
        extra=b""):
    return (b"[Installation]\nProgram=" + program + b"\nCopyright=(c) e2e\n[Destination]\nDir=TestTool\n"
            b"[Languages]\n" + languages + b"\n" + lists + b"\n" + extra)


APP_FILES = {"app.ini": b"[CEAppManager]\r\nVersion=1.0\r\nComponent=Test Tool\r\n", "app.cab": b"MSCF cabinet"}
CAPTION = "Installation Test Tool"


def choose_language(index, caption=CAPTION, timeout=20000):
    """Selects a line of the language dialog and presses OK; waits until the dialog is gone, as the next dialog
    has the same caption."""
    return [f"dialog|{caption}|{timeout}", f"select|100|{index}", "click|1", "gone|10000"]


def answer(button=IDOK, timeout=20000):
    """Waits for a message box, presses one of its buttons and waits until it is gone."""
    return [f"msgbox|{timeout}", f"click|{button}", "gone|10000"]


def accept_destination(dest):
    return [f"dialog|{CAPTION}|20000", f"settext|101|{win(dest)}", "click|1"]


def finish():
    return answer(IDOK, 30000)


# ---- scenarios -------------------------------------------------------------------
def sample_package(s, name):
    """examples/sample with the installer under test, packed by cepack (or zip -A without it)."""
    files = {n: read(os.path.join(SAMPLE, n)) for n in os.listdir(SAMPLE)}
    root = s.payload(name, files)
    shutil.copy(s.install, os.path.join(root, "install.exe"))
    package = os.path.join(s.work, name, "SampleNotes.exe")
    if s.cepack and os.path.exists(s.cepack):
        s.cepack_build(package, root)
        return package
    archive = os.path.join(s.work, name, "payload.zip")
    subprocess.run(["zip", "-q", "-r", "-X", archive, "."], cwd=root, check=True)
    return s.stub_plus(name, archive)


def whole_road(s):
    """Package -> launcher -> installer: German chosen, existing destination kept with a backup of readme.txt,
    files copied, CeAppMgr.exe started with the quoted .ini path, everything closed and TEMP emptied."""
    if s.args.package:
        package = os.path.abspath(s.args.package)
    elif os.path.exists(s.zipstub):
        package = sample_package(s, "road")
    else:
        raise Skip(f"{s.zipstub} is not built")
    # On the prefix's own drive C:, where a user's device manager would be, so
    # that the pictures show real paths; made afresh for every run.
    ce = os.path.join(s.prefix, "drive_c", "Program Files (x86)", "Microsoft ActiveSync")
    shutil.rmtree(ce, ignore_errors=True)
    os.makedirs(ce)
    shutil.copy(s.appmgr, os.path.join(ce, "CeAppMgr.exe"))
    s.set_ce_dir(r"C:\Program Files (x86)\Microsoft ActiveSync")
    temp = s.dir("road", "temp")
    dest = os.path.join(ce, "Sample Notes")
    os.makedirs(dest)
    with open(os.path.join(dest, "readme.txt"), "wb") as f:
        f.write(b"installed earlier")
    win_ce = r"C:\Program Files (x86)\Microsoft ActiveSync"
    win_dest = win_ce + r"\Sample Notes"
    title = "Installation Sample Notes"
    steps = [f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}", f"start|{win(package)}",
             f"dialog|{title}|30000"] + s.shot_steps("language") + [
             "select|100|1", "click|1", "gone|10000", f"dialog|{title}|20000", f"settext|101|{win_dest}"] + \
        s.shot_steps("destination") + ["click|1"] + answer(IDYES) + ["msgbox|30000"] + \
        s.shot_steps("success") + ["click|1", "wait|30000"]
    seen = s.drive(steps, timeout=150)
    check(list_items(seen) == [(b"English", True), (b"Deutsch (German)", False), (b"Fran\xe7ais (French)", False)],
          f"language list {list_items(seen)}")
    check([w["title"] for w in language_dialogs(seen)] == [title.encode()], "the language dialog's caption")
    asked = destination_dialogs(seen)
    check(asked and asked[0]["controls"].get(101) == (win_ce + "\\SampleNotes").encode(),
          f"proposed destination {asked[0]['controls'].get(101) if asked else None!r}")
    check(asked[0]["controls"].get(100) == b"Please enter target directory for installation", "prompt")
    boxes = box_texts(seen)
    check(boxes == [(EXISTS, title.encode(), title), (SUCCESS, title.encode(), title)], f"messages {boxes}")
    check(seen.exit_code == 0, f"launcher exit code {seen.exit_code}")
    check(sorted(os.listdir(dest)) == ["liesmich.txt", "readme.txt", "readme0.txt", "samplenotes.arm.cab",
                                       "samplenotes_de.ini"], f"destination holds {sorted(os.listdir(dest))}")
    check(read(os.path.join(dest, "readme0.txt")) == b"installed earlier", "backup of readme.txt")
    check(read(os.path.join(dest, "samplenotes_de.ini")) == read(os.path.join(SAMPLE, "samplenotes_de.ini")),
          "German .ini copied")
    calls = appmgr_calls(ce, started=1)
    want = f'"{win_ce}\\CeAppMgr.exe" "{win_dest}\\samplenotes_de.ini"'
    check(calls == [want], f"CeAppMgr.exe got {calls}, want [{want}]")
    # Not the launcher's working directory, which it would keep from being removed.
    check(appmgr_dirs(ce, started=1) == [win_dest], f"CeAppMgr.exe ran in {appmgr_dirs(ce)}, want [{win_dest}]")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
    for name in ("language", "destination", "success"):
        keep_full_shot(s, name)
    print("    CeAppMgr.exe received: " + calls[0])


def inf_texts(path, letter):
    """The installer's texts in install.inf for a language letter: its [Texts<letter>], then [Texts], as they are
    shown (%n a line break, %% a percent sign)."""
    sections, current = {}, None
    for line in read(path).split(b"\r\n"):
        if line.startswith(b"["):
            current = sections.setdefault(line.strip(b"[]").lower(), {})
        elif b"=" in line and current is not None:
            key, _, value = line.partition(b"=")
            current.setdefault(key.strip().decode(), value.strip())
    texts = dict(sections.get(b"texts", {}), **sections.get(b"texts" + letter, {}))
    return {k: v.replace(b"%n", b"\r\n").replace(b"%%", b"%") for k, v in texts.items()}


def new_package(s):
    """A folder made by cepack new in English and German and built by cepack, German chosen: the language dialog
    carries the product's caption and the prompt of [Texts]; every dialog and message after the choice shows
    install.inf's German text (a relative path refused, the existing destination confirmed, success). The cabinet
    and .ini are copied, CeAppMgr.exe is started with that .ini, TEMP is emptied. Then install.exe in the folder
    without its cabinet: the copy dialog and the read error in German too."""
    if not (s.cepack and os.path.exists(s.cepack)):
        raise Skip("needs cepack")
    folder, package = os.path.join(s.work, "new", "Tool"), os.path.join(s.work, "new", "Tool.exe")
    subprocess.run([s.cepack, "new", folder, "--title", "Test Tool", "--languages", "en,de"], check=True,
                   capture_output=True)
    shutil.copy(s.install, os.path.join(folder, "install.exe"))  # the installer under test
    # A real device cabinet in place of the placeholder, which lint refuses.
    shutil.copy(os.path.join(SAMPLE, "samplenotes.arm.cab"), os.path.join(folder, "testtool.arm.cab"))
    s.cepack_build(package, folder)
    inf_path = os.path.join(folder, "install.inf")
    base, german = inf_texts(inf_path, b""), inf_texts(inf_path, b"d")
    check(german["Success"] != base["Success"], "cepack new wrote German texts")
    ce = s.ce_dir("new")
    dest = os.path.join(ce, "Test Tool")
    os.makedirs(dest)
    temp = s.dir("new", "temp")
    seen = s.drive([f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}", f"start|{win(package)}"] +
                   choose_language(1, timeout=30000) + [
                   f"dialog|{CAPTION}|20000", "settext|101|Tool", "click|1"] + answer() + [
                   f"dialog|{CAPTION}|20000", f"settext|101|{win(dest)}", "click|1"] + answer(IDYES) + finish() +
                   ["wait|30000"], timeout=150)
    language = language_dialogs(seen)
    check([(w["title"], w["controls"].get(110), w["controls"].get(1), w["controls"].get(2)) for w in language] ==
          [(CAPTION.encode(), base["LanguagePrompt"], base["OkButton"], base["CancelButton"])],
          f"language dialog {language}")
    asked = destination_dialogs(seen)
    check(asked and (asked[0]["controls"].get(100), asked[0]["controls"].get(1), asked[0]["controls"].get(2)) ==
          (german["DestinationPrompt"], german["OkButton"], german["CancelButton"]), f"destination dialog {asked}")
    want = [german["DestinationExample"], german["DirectoryExists"], german["Success"]]
    check([b[0] for b in box_texts(seen)] == want, f"messages {box_texts(seen)}, want {want}")
    check(sorted(os.listdir(dest)) == ["testtool.arm.cab", "testtool_de.ini"], f"destination {os.listdir(dest)}")
    want = f'"{win(ce)}\\CeAppMgr.exe" "{win(dest)}\\testtool_de.ini"'
    check(appmgr_calls(ce, started=1) == [want], f"CeAppMgr.exe got {appmgr_calls(ce)}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")

    # The copy dialog is held by the read error it owns.
    os.remove(os.path.join(folder, "testtool.arm.cab"))
    other = os.path.join(s.work, "new", "other")
    caption = german["CopyCaption"].decode("latin-1")
    seen = s.run_installer(folder, choose_language(1) + accept_destination(other) + [
        "msgbox|30000", f"dialog|{caption}|10000", "msgbox|10000", "click|1", "gone|10000"] + finish())
    source = (win(folder) + "\\testtool.arm.cab").encode()
    want = [(german["ReadError"].replace(b"%s", source), CAPTION.encode(), caption),
            (german["Failure"], CAPTION.encode(), CAPTION)]
    check(box_texts(seen) == want, f"messages {box_texts(seen)}, want {want}")
    progress = windows_titled(seen, german["CopyCaption"])
    check(progress and (progress[0]["controls"].get(120), progress[0]["controls"].get(2)) ==
          (german["InstallLine"], german["CopyCancelButton"]), f"copy dialog {progress}")


def subfolders_german(s):
    """Behind the launcher, German chosen from "2=Deutsch (German), d": the German list installs, a file two
    folders deep included (the folders made below the destination), "tracker.cfg, W" keeps the user's newer
    settings, and the launcher's clean-up leaves TEMP empty."""
    root = s.payload("subdirs", {
        "install.inf": inf(languages=b"Count=2\nDefault=1\n1=English\n2=Deutsch (German), d",
                           lists=b"[Install]\n1=app.ini\n2=app.cab\n3=docs\\en\\readme.txt\n"
                                 b"[Installd]\n1=app_de.ini\n3=docs\\de\\liesmich.txt\n4=tracker.cfg, W").replace(
                                     b"\n", b"\r\n"),
        "app.ini": APP_FILES["app.ini"], "app_de.ini": APP_FILES["app.ini"], "app.cab": APP_FILES["app.cab"],
        "docs/en/readme.txt": b"English", "docs/de/liesmich.txt": b"Deutsch", "tracker.cfg": b"defaults"})
    shutil.copy(s.install, os.path.join(root, "install.exe"))
    os.utime(os.path.join(root, "tracker.cfg"), (1577836800, 1577836800))  # 2020: older than the user's
    archive = os.path.join(s.work, "subdirs", "payload.zip")
    subprocess.run(["zip", "-q", "-r", "-X", archive, "."], cwd=root, check=True)
    package = s.stub_plus("subdirs", archive)
    ce = s.ce_dir("subdirs")
    dest = s.dir("subdirs", "dest")
    with open(os.path.join(dest, "tracker.cfg"), "wb") as f:
        f.write(b"the user's settings")
    temp = s.dir("subdirs", "temp")
    seen = s.drive([f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}", f"start|{win(package)}"] +
                   choose_language(1, timeout=30000) + accept_destination(dest) + answer(IDYES) + finish() +
                   ["wait|30000"], timeout=150)
    check([b[0] for b in box_texts(seen)] == [EXISTS, SUCCESS], f"messages {box_texts(seen)}")
    installed = sorted(os.path.relpath(os.path.join(d, n), dest) for d, _, names in os.walk(dest) for n in names)
    check(installed == ["app.cab", "app_de.ini", "docs/de/liesmich.txt", "tracker.cfg"], f"destination {installed}")
    check(read(os.path.join(dest, "docs", "de", "liesmich.txt")) == b"Deutsch", "the German file two folders deep")
    check(read(os.path.join(dest, "tracker.cfg")) == b"the user's settings", "tracker.cfg, W kept the newer one")
    check(appmgr_calls(ce, started=1) == [f'"{win(ce)}\\CeAppMgr.exe" "{win(dest)}\\app_de.ini"'],
          f"CeAppMgr.exe got {appmgr_calls(ce)}")
    check(seen.exit_code == 0, f"launcher exit code {seen.exit_code}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")


def missing_inf(s):
    """No install.inf beside install.exe: the two-language message, nothing else, exit code 0."""
    pkg = s.package_dir("noinf", None, {})
    s.ce_dir("noinf")
    seen = s.run_installer(pkg, answer())
    check(box_texts(seen) == [(MISSING_INF, b"Installation ", "Installation ")], f"messages {box_texts(seen)}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")


def missing_appmgr_vista(s):
    """CeAppMgr.exe missing (Windows 7 prefix): the Device Center message with OK and Cancel, URL on the
    clipboard."""
    pkg = s.package_dir("novista", inf(), APP_FILES)
    s.ce_dir("novista", with_appmgr=False)
    seen = s.run_installer(pkg, ["msgbox|20000", "clipboard"] + s.shot_steps("devicecenter") +
                           [f"click|{IDCANCEL}", "gone|10000"] + answer(IDNO))
    check(box_texts(seen) == [(VISTA_MISSING, CAPTION.encode(), CAPTION), (SAVE_QUESTION, CAPTION.encode(), CAPTION)],
          f"messages {box_texts(seen)}")
    check(not destination_dialogs(seen), "no destination dialog expected")
    box = [w for w in distinct_windows(seen) if 0xFFFF in w["controls"]][0]
    check(IDOK in box["controls"] and IDCANCEL in box["controls"], f"buttons {box['controls']}")
    check(clipboard(seen) == DEVICE_CENTER_URL, f"clipboard {clipboard(seen)!r}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    keep_full_shot(s, "devicecenter")


def appmgr_elsewhere(s):
    """No CeAppMgr.exe through the 32-bit InstalledDir: found through the 64-bit one, then through its
    application path in either view (quoted or not); the proposal and the hand-over use that directory."""
    sources = [("installed64", [CE_KEY, "/v", "InstalledDir"], "{dir}", "/reg:64"),
               ("apppath32", [APP_PATH_KEY, "/ve"], '"{dir}\\CeAppMgr.exe"', "/reg:32"),
               ("apppath64", [APP_PATH_KEY, "/ve"], "{dir}\\CeAppMgr.exe", "/reg:64")]
    for name, where, value, view in sources:
        pkg = s.package_dir(name, inf(), APP_FILES)
        s.ce_dir(name + "-empty", with_appmgr=False)  # today's place, without the program
        ce = s.dir(name, "Device Center")
        shutil.copy(s.appmgr, os.path.join(ce, "CeAppMgr.exe"))
        s.wine("reg", "add", *where, "/d", value.format(dir=win(ce)), "/f", view)
        try:
            seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", "click|1"] + finish())
        finally:
            s.wine("reg", "delete", where[0], "/f", view)
        asked = windows_titled(seen, CAPTION.encode())
        proposed = asked[0]["controls"].get(101) if asked else None
        check(proposed == (win(ce) + "\\TestTool").encode(), f"{name}: proposed {proposed!r}")
        check([b[0] for b in box_texts(seen)] == [SUCCESS], f"{name}: messages {box_texts(seen)}")
        check(appmgr_calls(ce, started=1) == [f'"{win(ce)}\\CeAppMgr.exe" "{win(ce)}\\TestTool\\app.ini"'],
              f"{name}: CeAppMgr.exe got {appmgr_calls(ce)}")


def missing_appmgr_xp(s):
    """No InstalledDir at all, Windows XP: c:\\ is looked at, the ActiveSync message; the URL still goes to the
    clipboard."""
    pkg = s.package_dir("noxp", inf(), APP_FILES, program="setupxp.exe")
    s.set_ce_dir(None)
    # Only this program name sees Windows XP, so nothing else in the prefix changes.
    key = r"HKCU\Software\Wine\AppDefaults\setupxp.exe"
    s.wine("reg", "add", key, "/v", "Version", "/d", "winxp64", "/f")
    try:
        seen = s.run_installer(pkg, ["msgbox|20000", "clipboard", "click|1", "gone|10000"] + answer(IDNO),
                               program="setupxp.exe")
    finally:
        s.wine("reg", "delete", key, "/f")
    check(box_texts(seen) == [(XP_MISSING, CAPTION.encode(), CAPTION), (SAVE_QUESTION, CAPTION.encode(), CAPTION)],
          f"messages {box_texts(seen)}")
    check(not destination_dialogs(seen), "no destination dialog expected")
    check(IDCANCEL not in seen.message_boxes()[0]["controls"], "only an OK button")
    check(clipboard(seen) == DEVICE_CENTER_URL, f"clipboard {clipboard(seen)!r}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")


def save_to_folder(s):
    """No device manager, the folder chosen instead: German chosen, the destination proposed on the prefix's
    desktop (pinned to a directory of the test); the German files arrive there, the final message names the
    cabinet, the folder is opened (a stand-in takes the shell's open verb), CeAppMgr.exe is not started and the
    launcher's TEMP ends up empty."""
    if not (s.cepack and os.path.exists(s.cepack)):
        raise Skip("needs cepack")
    folder, package = os.path.join(s.work, "folder", "Tool"), os.path.join(s.work, "folder", "Tool.exe")
    subprocess.run([s.cepack, "new", folder, "--title", "Test Tool", "--languages", "en,de"], check=True,
                   capture_output=True)
    shutil.copy(s.install, os.path.join(folder, "install.exe"))
    shutil.copy(os.path.join(SAMPLE, "samplenotes.arm.cab"), os.path.join(folder, "testtool.arm.cab"))
    s.cepack_build(package, folder)
    inf_path = os.path.join(folder, "install.inf")
    base, german = inf_texts(inf_path, b""), inf_texts(inf_path, b"d")
    s.ce_dir("folder", with_appmgr=False)
    desktop, opener, temp = s.dir("folder", "Desktop"), s.dir("folder", "opener"), s.dir("folder", "temp")
    shutil.copy(s.appmgr, os.path.join(opener, "open.exe"))  # logs to CeAppMgr.log beside itself
    s.wine("reg", "add", SHELL_FOLDERS_KEY, "/v", "Desktop", "/t", "REG_EXPAND_SZ", "/d", win(desktop), "/f")
    s.wine("reg", "add", FOLDER_OPEN_KEY, "/ve", "/d", f'"{win(opener)}\\open.exe" "%1"', "/f")
    dest = win(desktop) + "\\Test Tool"
    try:
        seen = s.drive([f"set|TEMP|{win(temp)}", f"set|TMP|{win(temp)}", f"start|{win(package)}"] +
                       answer(IDOK, 30000) + answer(IDYES) + choose_language(1) + [f"dialog|{CAPTION}|20000"] +
                       ["click|1", "msgbox|30000"] + s.shot_steps("folder") + ["click|1", "gone|10000", "wait|30000"],
                       timeout=150)
    finally:
        s.wine("reg", "delete", FOLDER_OPEN_KEY, "/f")
    asked = destination_dialogs(seen)
    check(asked and asked[0]["controls"].get(101) == dest.encode(), f"proposed {asked and asked[0]['controls']}")
    final = german["SavedToFolder"].replace(b"%s", dest.encode()) + b"\r\ntesttool.arm.cab"
    missing = base["DeviceCenterMissing"].replace(b"%s", DEVICE_CENTER_URL)
    check([b[0] for b in box_texts(seen)] == [missing, base["SaveToFolder"], final], f"messages {box_texts(seen)}")
    got = sorted(os.listdir(os.path.join(desktop, "Test Tool")))
    check(got == ["testtool.arm.cab", "testtool_de.ini"], f"desktop folder holds {got}")
    opened = appmgr_calls(opener, started=1)
    check(len(opened) == 1 and dest in opened[0], f"folder opened with {opened}")
    check(seen.exit_code == 0, f"launcher exit code {seen.exit_code}")
    check(listing(temp) == [], f"left in TEMP: {listing(temp)}")
    keep_full_shot(s, "folder")


LANGS = b"Count=3\nDefault=1\n1=English\n2=Deutsch,d\n3=Nederlands,n"
LISTS = (b"[Install]\n1=app.ini\n2=app.cab\n3=readme.txt\n[Installd]\n1=appd.ini\n3=liesmich.txt\n"
         b"[Installn]\n3=leesmij.txt")
LANG_FILES = dict(APP_FILES, **{"appd.ini": b"[CEAppManager]\r\n", "readme.txt": b"en", "liesmich.txt": b"de",
                                "leesmij.txt": b"nl"})


def language_fallback(s):
    """A language whose section lists only key 3 takes keys 1 and 2 from "install"."""
    pkg = s.package_dir("fallback", inf(languages=LANGS, lists=LISTS), LANG_FILES)
    ce = s.ce_dir("fallback")
    dest = os.path.join(s.work, "fallback", "dest")
    seen = s.run_installer(pkg, choose_language(2) + accept_destination(dest) + finish())
    check(box_texts(seen) == [(SUCCESS, CAPTION.encode(), CAPTION)], f"messages {box_texts(seen)}")
    check(sorted(os.listdir(dest)) == ["app.cab", "app.ini", "leesmij.txt"], f"destination {os.listdir(dest)}")
    check(appmgr_calls(ce, started=1) == [f'"{win(ce)}\\CeAppMgr.exe" "{win(dest)}\\app.ini"'], f"{appmgr_calls(ce)}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")


def single_language(s):
    """Count 1: no language dialog; Default 2 with its letter picks "installd" all the same."""
    pkg = s.package_dir("single", inf(languages=b"Count=1\nDefault=2\n1=English\n2=Deutsch,d", lists=LISTS),
                        LANG_FILES)
    s.ce_dir("single")
    dest = os.path.join(s.work, "single", "dest")
    seen = s.run_installer(pkg, accept_destination(dest) + finish())
    check(not language_dialogs(seen), "no language dialog expected")
    check(sorted(os.listdir(dest)) == ["app.cab", "appd.ini", "liesmich.txt"], f"destination {os.listdir(dest)}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")


def no_selection(s):
    """Default 0 selects nothing: OK beeps and ends the program with exit code 1, nothing copied."""
    pkg = s.package_dir("nosel", inf(languages=b"Count=2\nDefault=0\n1=English\n2=Deutsch,d", lists=LISTS),
                        LANG_FILES)
    s.ce_dir("nosel")
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", "click|1"])
    check(list_items(seen) == [(b"English", False), (b"Deutsch", False)], f"list {list_items(seen)}")
    check(seen.exit_code == 1, f"exit code {seen.exit_code}, want 1")
    check(seen.message_boxes() == [], "no message expected")


def cancel_language(s):
    """Cancel in the language dialog: exit code 0, nothing asked or copied."""
    pkg = s.package_dir("cancellang", inf(languages=LANGS, lists=LISTS), LANG_FILES)
    ce = s.ce_dir("cancellang")
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", f"click|{IDCANCEL}"])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"{seen.lines}")
    check(not destination_dialogs(seen), "no destination dialog expected")
    check(appmgr_calls(ce) == [], "CeAppMgr.exe must not start")


def cancel_destination(s):
    """Cancel in the destination dialog: exit code 0, no directory made."""
    pkg = s.package_dir("canceldest", inf(), APP_FILES)
    s.ce_dir("canceldest")
    dest = os.path.join(s.work, "canceldest", "dest")
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", f"settext|101|{win(dest)}", f"click|{IDCANCEL}"])
    check(seen.exit_code == 0 and seen.message_boxes() == [], f"{seen.lines}")
    check(not os.path.exists(dest), "the destination must not be made")


def existing_no(s):
    """An existing destination answered No: exit code 0, its files untouched."""
    pkg = s.package_dir("exno", inf(), APP_FILES)
    ce = s.ce_dir("exno")
    dest = s.dir("exno", "dest")
    with open(os.path.join(dest, "app.ini"), "wb") as f:
        f.write(b"old")
    seen = s.run_installer(pkg, accept_destination(dest) + answer(IDNO))
    check(box_texts(seen) == [(EXISTS, CAPTION.encode(), CAPTION)], f"messages {box_texts(seen)}")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")
    check(os.listdir(dest) == ["app.ini"] and read(os.path.join(dest, "app.ini")) == b"old", "untouched")
    check(appmgr_calls(ce) == [], "CeAppMgr.exe must not start")


def backup_names(s):
    """readme.txt with readme0.txt to readme2.txt present is saved as readme3.txt, then replaced."""
    pkg = s.package_dir("backup", inf(lists=b"[Install]\n1=app.ini\n2=readme.txt", extra=b"[Backup data]\n1=readme.txt\n"
                                      b"2=absent.txt"), dict(APP_FILES, **{"readme.txt": b"new readme"}))
    s.ce_dir("backup")
    dest = s.dir("backup", "dest")
    for name, content in (("readme.txt", b"current"), ("readme0.txt", b"0"), ("readme1.txt", b"1"),
                          ("readme2.txt", b"2")):
        with open(os.path.join(dest, name), "wb") as f:
            f.write(content)
    seen = s.run_installer(pkg, accept_destination(dest) + answer(IDYES) + finish())
    check(box_texts(seen)[-1][0] == SUCCESS, f"messages {box_texts(seen)}")
    check(read(os.path.join(dest, "readme3.txt")) == b"current", "readme3.txt holds the saved file")
    check(read(os.path.join(dest, "readme.txt")) == b"new readme", "readme.txt replaced")
    check(sorted(os.listdir(dest)) == ["app.ini", "readme.txt", "readme0.txt", "readme1.txt", "readme2.txt",
                                       "readme3.txt"], f"destination {sorted(os.listdir(dest))}")


def missing_source(s):
    """A listed file missing from the package: the read message owned by the progress dialog, then NOT
    successful; the files after it are not copied and CeAppMgr.exe does not start."""
    pkg = s.package_dir("nosrc", inf(lists=b"[Install]\n1=app.ini\n2=gone.cab\n3=app.cab"), APP_FILES)
    ce = s.ce_dir("nosrc")
    dest = os.path.join(s.work, "nosrc", "dest")
    seen = s.run_installer(pkg, accept_destination(dest) + answer() + finish())
    source = (win(pkg) + "\\gone.cab").encode()
    check(box_texts(seen) == [(b"Error reading " + source + b"!\rDisk may be defective!", CAPTION.encode(),
                               PROGRESS_TITLE), (NOT_SUCCESSFUL, CAPTION.encode(), CAPTION)],
          f"messages {box_texts(seen)}")
    check(os.listdir(dest) == ["app.ini"], f"destination {os.listdir(dest)}")
    check(appmgr_calls(ce) == [], "CeAppMgr.exe must not start")
    check(seen.exit_code == 0, f"exit code {seen.exit_code}")


def read_only_destination(s):
    """A read-only file in the way: the write message, then NOT successful."""
    pkg = s.package_dir("rodest", inf(), APP_FILES)
    ce = s.ce_dir("rodest")
    dest = s.dir("rodest", "dest")
    target_path = os.path.join(dest, "app.cab")
    s.wine("cmd", "/c", f"echo old> {win(target_path)} && attrib +r {win(target_path)}")
    # Wine run by root writes read-only files all the same; an immutable file
    # stands in for what the read-only attribute does for everyone else.
    immutable = os.geteuid() == 0
    if immutable and subprocess.run(["chattr", "+i", target_path], capture_output=True).returncode != 0:
        raise Skip("running as root and chattr +i is refused here, so no file is read-only to Wine")
    try:
        seen = s.run_installer(pkg, accept_destination(dest) + answer(IDYES) + answer() + finish())
    finally:
        if immutable:
            subprocess.run(["chattr", "-i", target_path], check=False)
    target = (win(dest) + "\\app.cab").encode()
    check([b[0] for b in box_texts(seen)] == [EXISTS, b"Error writing " + target + b"!", NOT_SUCCESSFUL],
          f"messages {box_texts(seen)}")
    check(read(os.path.join(dest, "app.cab")).startswith(b"old"), "the read-only file is kept")
    check(appmgr_calls(ce) == [], "CeAppMgr.exe must not start")


BIG = 128 << 20


def cancel_third_file(s):
    """Cancel while the third file is copied: the first two stay, the third is deleted, the fourth never
    begun; "Installation aborted!" then "Installation NOT successful!"."""
    files = {"one.ini": b"[CEAppManager]\r\n", "two.cab": os.urandom(100000)}
    pkg = s.package_dir("cancel3", inf(lists=b"[Install]\n1=one.ini\n2=two.cab\n3=three.cab\n4=four.cab"), files)
    for name, size in (("three.cab", BIG * 6 if s.shots else BIG), ("four.cab", BIG)):
        with open(os.path.join(pkg, name), "wb") as f:
            f.truncate(size)  # for a picture long enough to be photographed while it runs
    ce = s.ce_dir("cancel3")
    # On the prefix's drive C:, for a picture with a real path.
    dest = os.path.join(s.prefix, "drive_c", "Program Files (x86)", "Test Tool")
    shutil.rmtree(dest, ignore_errors=True)
    win_dest = r"C:\Program Files (x86)\Test Tool"
    third = win_dest + "\\three.cab"
    # The copy is held still as soon as the third file shows, then cancelled.
    # For a picture the bars move a little first, and it is taken while the
    # copy runs (a held copy may be caught in the middle of painting a bar).
    picture = ["sleep|400"] + s.shot_steps("progress") if s.shots else []
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", f"settext|101|{win_dest}", "click|1"] + [
        f"dialog|{PROGRESS_TITLE}|20000", f"waittext|130|{third}|20000"] + picture + ["suspend", "report"] + [
        f"click|{IDCANCEL}", "resume"] + answer(IDOK, 30000) + finish(), timeout_ms=60000)
    check([b[:2] for b in box_texts(seen)] == [(ABORTED, CAPTION.encode()), (NOT_SUCCESSFUL, CAPTION.encode())],
          f"messages {box_texts(seen)}")
    check(box_texts(seen)[0][2] == PROGRESS_TITLE, "the abort message belongs to the progress dialog")
    check(sorted(os.listdir(dest)) == ["one.ini", "two.cab"], f"destination {sorted(os.listdir(dest))}")
    check(read(os.path.join(dest, "two.cab")) == files["two.cab"], "second file complete")
    check(appmgr_calls(ce) == [], "CeAppMgr.exe must not start")
    # Reported while held at the third file: the phase line is set by then.
    # (The report when the dialog appears may come before any phase line.)
    progress = [w for w in seen.windows if w["title"] == PROGRESS_TITLE.encode()][-1]
    check(progress["controls"].get(120) == b"Installing file:", f"phase line {progress['controls'].get(120)!r}")
    check(progress["owner"] == CAPTION, f"progress owner {progress['owner']}")
    keep_full_shot(s, "progress")


def no_ini(s):
    """A file list without .ini: everything copied, NOT successful, CeAppMgr.exe not started."""
    pkg = s.package_dir("noini", inf(lists=b"[Install]\n1=app.cab"), APP_FILES)
    ce = s.ce_dir("noini")
    dest = os.path.join(s.work, "noini", "dest")
    seen = s.run_installer(pkg, accept_destination(dest) + finish())
    check(box_texts(seen) == [(NOT_SUCCESSFUL, CAPTION.encode(), CAPTION)], f"messages {box_texts(seen)}")
    check(os.listdir(dest) == ["app.cab"], f"destination {os.listdir(dest)}")
    check(appmgr_calls(ce) == [], "CeAppMgr.exe must not start")


def command_line_long(s):
    """A device center under "Program Files (x86)" and three .ini files of ordinary names: the hand-over line,
    well past 259 characters, reaches CeAppMgr.exe whole."""
    names = ["samplenotes.ini", "samplenotes_de.ini", "samplenotes_fr.ini"]
    lists = b"[Install]\n" + b"".join(f"{n + 1}={name}\n".encode() for n, name in enumerate(names))
    pkg = s.package_dir("longline", inf(lists=lists), {n: b"[CEAppManager]\r\n" for n in names})
    ce = s.dir("longline", "Program Files (x86)", "Microsoft ActiveSync")
    shutil.copy(s.appmgr, os.path.join(ce, "CeAppMgr.exe"))
    s.set_ce_dir(win(ce))
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", "click|1"] + finish())
    check(box_texts(seen) == [(SUCCESS, CAPTION.encode(), CAPTION)], f"messages {box_texts(seen)}")
    want = f'"{win(ce)}\\CeAppMgr.exe"' + "".join(f' "{win(ce)}\\TestTool\\{n}"' for n in names)
    check(len(want) > 259, f"line of {len(want)} characters")
    check(appmgr_calls(ce, started=1) == [want], f"CeAppMgr.exe got {appmgr_calls(ce)}")


def relative_destination(s):
    """An empty or relative destination is refused in the dialog, which stays open for a full path."""
    pkg = s.package_dir("reldest", inf(), APP_FILES)
    ce = s.ce_dir("reldest")
    dest = os.path.join(s.work, "reldest", "dest")
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", "settext|101|", "click|1"] + answer() +
                           [f"dialog|{CAPTION}|20000", "settext|101|SubDir", "click|1"] + answer() +
                           accept_destination(dest) + finish())
    check(box_texts(seen) == [(REFUSED, CAPTION.encode(), CAPTION), (REFUSED, CAPTION.encode(), CAPTION),
                              (SUCCESS, CAPTION.encode(), CAPTION)], f"messages {box_texts(seen)}")
    check(not os.path.exists(os.path.join(pkg, "SubDir")), "nothing made beside the installer")
    check(sorted(os.listdir(dest)) == ["app.cab", "app.ini"], f"destination {os.listdir(dest)}")
    check(len(appmgr_calls(ce, started=1)) == 1, "CeAppMgr.exe started once")


def own_directory(s):
    """The installer's own directory under another spelling: asked as existing, every file is its own source,
    nothing is truncated, success."""
    pkg = s.package_dir("owndir", inf(), APP_FILES)
    ce = s.ce_dir("owndir")
    spelled = win(pkg) + "\\.\\"
    seen = s.run_installer(pkg, [f"dialog|{CAPTION}|20000", f"settext|101|{spelled}", "click|1"] + answer(IDYES) +
                           finish())
    check([b[0] for b in box_texts(seen)] == [EXISTS, SUCCESS], f"messages {box_texts(seen)}")
    for name, content in APP_FILES.items():
        check(read(os.path.join(pkg, name)) == content, f"{name} intact")
    check(len(appmgr_calls(ce, started=1)) == 1, "CeAppMgr.exe started")


SCENARIOS = [whole_road, new_package, subfolders_german, missing_inf, missing_appmgr_vista, appmgr_elsewhere, missing_appmgr_xp,
             save_to_folder,
             language_fallback, single_language, no_selection, cancel_language, cancel_destination, existing_no,
             backup_names, missing_source, read_only_destination, cancel_third_file, no_ini, command_line_long,
             relative_destination, own_directory]


def main():
    parser = base.scenario_arguments("keep screenshots of the backdrop with its dialogs here")
    parser.add_argument("--package", help="the sample package for whole_road (default: packed here)")
    args = parser.parse_args()
    chosen = base.chosen_scenarios(SCENARIOS, args.only)
    suite = Suite(args)
    for path in (suite.driver, suite.install, suite.appmgr):
        if not os.path.exists(path):
            raise SystemExit(f"e2e: {path} is missing")
    if args.shots:
        os.makedirs(args.shots, exist_ok=True)
    suite.start_display()
    return base.run_scenarios(suite, chosen, "e2e installer", width=22,
                              before_stop=lambda: suite.set_ce_dir(None))


if __name__ == "__main__":
    sys.exit(main())
