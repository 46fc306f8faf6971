#!/usr/bin/env python3
"""make-release-zip.py OUT.zip NAME=FILE...: the Windows release archive of
cepack, made the same byte for byte from the same files: entries in the
order given, "\\"-free names, DOS attributes, deflated at level 9, and all
dated SOURCE_DATE_EPOCH (or the source's last commit, or 1980-01-01) in
UTC, so that a rebuild anywhere gives the same archive."""
import os
import subprocess
import sys
import time
import zipfile


def stamp():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        here = os.path.dirname(os.path.abspath(__file__))
        try:
            epoch = subprocess.run(["git", "-C", here, "log", "-1", "--format=%ct"], capture_output=True,
                                   text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            epoch = ""
    seconds = max(int(epoch), 315532800) if epoch.isdigit() else 315532800
    return time.gmtime(seconds)[:6]


def main():
    out, members = sys.argv[1], sys.argv[2:]
    when = stamp()
    temporary = out + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        for member in members:
            name, path = member.split("=", 1)
            info = zipfile.ZipInfo(name, when)
            info.create_system = 0  # MS-DOS: the attribute byte below is what Windows reads
            info.external_attr = 0x20
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(temporary, out)


if __name__ == "__main__":
    main()
