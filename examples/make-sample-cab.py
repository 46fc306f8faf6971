#!/usr/bin/env python3
"""make-sample-cab.py [OUT]: writes the sample's device cabinet, by default
examples/sample/samplenotes.arm.cab.

A minimal Windows CE installation cabinet: a standard cabinet (MS-CAB 1.3,
one uncompressed folder, fixed dates) whose first member is the device setup
file SAMPLE~1.000 (installs Readme.txt into %CE1%\\Sample Notes), followed by
00Readme.001. The same bytes on every run.
"""
import os
import struct
import sys

APPNAME = b"Sample Notes"
PROVIDER = b"cepackage sample authors"
INSTALL_DIR = [b"%CE1%", b"Sample Notes"]  # %CE1% is \Program Files
README_NAME = b"Readme.txt"
README = (b"Sample Notes for Pocket PC\r\n\r\n"
          b"This is the sample package's device cabinet. It installs this file\r\n"
          b"into \\Program Files\\Sample Notes on the device.\r\n")
DOS_DATE = ((2024 - 1980) << 9) | (1 << 5) | 1  # 2024-01-01
DOS_TIME = (12 << 11)                            # 12:00:00
ATTRIB_ARCHIVE = 0x20


def cstr(b):
    return b + b"\0"


def setup_file():
    """The .000 file: a 100-byte header, then APPNAME, PROVIDER, an empty
    UNSUPPORTED list, and the STRINGS, DIRS and FILES sections."""
    header_size = 100
    appname, provider = cstr(APPNAME), cstr(PROVIDER)
    strings = b"".join(struct.pack("<HH", i + 1, len(cstr(s))) + cstr(s) for i, s in enumerate(INSTALL_DIR))
    path_ids = b"".join(struct.pack("<H", i + 1) for i in range(len(INSTALL_DIR))) + struct.pack("<H", 0)
    dirs = struct.pack("<HH", 1, len(path_ids)) + path_ids
    # file 1 (the .001 member) into directory 1, no flags
    files = struct.pack("<HHHIH", 1, 1, 1, 0, len(cstr(README_NAME))) + cstr(README_NAME)
    at = header_size
    o_appname = at; at += len(appname)
    o_provider = at; at += len(provider)
    o_unsupported = at
    o_strings = at; at += len(strings)
    o_dirs = at; at += len(dirs)
    o_files = at; at += len(files)
    o_end = at  # no registry hives, keys or links
    header = b"MSCE" + struct.pack(
        "<IIIIIIIIIIIHHHHHHIIIIIIHHHHHHHH",
        0, o_end, 0, 1,
        0,                   # any processor: the payload is a text file
        0, 0, 0, 0, 0, 0,    # no Windows CE version limits
        len(INSTALL_DIR), 1, 1, 0, 0, 0,
        o_strings, o_dirs, o_files, o_end, o_end, o_end,
        o_appname, len(appname), o_provider, len(provider), o_unsupported, 0, 0, 0)
    assert len(header) == header_size
    return header + appname + provider + strings + dirs + files


def cabinet(members):
    """One folder, no compression, one data block (under 32 KiB)."""
    data = b"".join(content for _, content in members)
    assert len(data) <= 32768
    file_table = b""
    offset = 0
    for name, content in members:
        file_table += struct.pack("<IIHHHH", len(content), offset, 0, DOS_DATE, DOS_TIME, ATTRIB_ARCHIVE) + cstr(name)
        offset += len(content)
    header_size, folder_size = 36, 8
    files_at = header_size + folder_size
    data_at = files_at + len(file_table)
    block = struct.pack("<IHH", 0, len(data), len(data)) + data  # checksum 0: none supplied
    total = data_at + len(block)
    header = b"MSCF" + struct.pack("<IIIIIBBHHHHH", 0, total, 0, files_at, 0, 3, 1, 1, len(members), 0, 0, 0)
    folder = struct.pack("<IHH", data_at, 1, 0)
    return header + folder + file_table + block


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "sample", "samplenotes.arm.cab")
    with open(out, "wb") as f:
        f.write(cabinet([(b"SAMPLE~1.000", setup_file()), (b"00Readme.001", README)]))


if __name__ == "__main__":
    main()
