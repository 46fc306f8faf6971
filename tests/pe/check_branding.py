#!/usr/bin/env python3
"""Branded packages read back by an independent PE reader (python3-pefile).

check_branding.py CEPACK STUB INSTALL.EXE (the 32-bit one lint wants): the sample package built from install.inf's
Company, Version and Icon, again with --version/--company/--icon over them,
and once with none; each package's version information, icon group,
section table, image size, resource tree, header checksum and payload are
checked, and a second build must give the same bytes."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "examples", "sample")
OUR_NAMES = ("cepackage", "Windows CE installation package", "Self-extracting installation package", "zipstub")


def dib_image(size, bits):
    """A BMP-form icon image: header (height doubled for the mask), pixels, AND mask."""
    colors = 256 if bits == 8 else 0
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colors, 0)
    palette = b"".join(struct.pack("<BBBB", i, 255 - i, i // 2, 0) for i in range(colors))
    row = (size * bits // 8 + 3) // 4 * 4
    pixels = bytes((x * 7 + y * 3) & 0xFF for y in range(size) for x in range(row))
    mask = bytes(((size + 31) // 32 * 4) * size)
    return header + palette + pixels + mask


def png_image(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(size * 4) for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def ico(images):
    """images: (size, bits, data); an .ico file and its directory as (w, h, bits, data)."""
    offset = 6 + 16 * len(images)
    head, body, entries = struct.pack("<HHH", 0, 1, len(images)), b"", []
    for size, bits, data in images:
        byte = size if size < 256 else 0
        head += struct.pack("<BBBBHHII", byte, byte, 0, 0, 1, bits, len(data), offset + len(body))
        body += data
        entries.append((byte, byte, bits, data))
    return head + body, entries


def package_folder(root, extra_keys, installer):
    folder = os.path.join(root, "folder")
    shutil.copytree(SAMPLE, folder)
    shutil.copy(installer, os.path.join(folder, "install.exe"))
    path = os.path.join(folder, "install.inf")
    with open(path, "rb") as f:
        text = f.read()
    text = text.replace(b"cepackage sample authors", b"Example Vendor Ltd").replace(b"Version=1.0\r\n", b"\r\n", 1)
    text = text.replace(b"[Installation]\r\n", b"[Installation]\r\n" + extra_keys, 1)
    text = text.replace(b"[Installation]\n", b"[Installation]\n" + extra_keys.replace(b"\r\n", b"\n"), 1)
    with open(path, "wb") as f:
        f.write(text)
    return folder


def build(cepack, stub, folder, output, flags=()):
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    run = subprocess.run([cepack, "build", "--stub", stub, "-o", output, *flags, folder],
                         capture_output=True, text=True, env=env)
    if run.returncode != 0:
        raise AssertionError(f"cepack build failed ({run.returncode}):\n{run.stdout}{run.stderr}")
    return run.stdout + run.stderr


def resource_entries(pe, type_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            return entry.directory.entries
    return []


def leaf_data(pe, entry):
    data = entry.directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


def check_version(pe, want):
    strings = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    assert strings == want["strings"], f"version strings {strings}, want {want['strings']}"
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.FileVersionLS & 0xFFFF)
    assert numbers == want["fixed"], f"fixed file version {numbers}, want {want['fixed']}"
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (fixed.FileVersionMS, fixed.FileVersionLS)
    for value in strings.values():
        assert not any(name.lower() in value.lower() for name in OUR_NAMES), f"our name in {value!r}"


def check_icons(pe, entries):
    groups = resource_entries(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    assert len(groups) == 1, f"{len(groups)} icon groups"
    group = leaf_data(pe, groups[0])
    reserved, kind, count = struct.unpack_from("<HHH", group)
    assert (reserved, kind, count) == (0, 1, len(entries)), f"group header {reserved} {kind} {count}"
    icons = {e.id: leaf_data(pe, e) for e in resource_entries(pe, pefile.RESOURCE_TYPE["RT_ICON"])}
    ids = set()
    for i, (width, height, bits, data) in enumerate(entries):
        w, h, _, _, _, b, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        assert (w, h, b, size) == (width, height, bits, len(data)), f"image {i}: {(w, h, b, size)}"
        assert icons.get(icon_id) == data, f"image {i}: RT_ICON {icon_id} differs"
        ids.add(icon_id)
    assert set(icons) == ids, f"RT_ICON left behind: {sorted(set(icons) - ids)}"


def check_layout(pe, stub):
    opt = pe.OPTIONAL_HEADER
    sections = sorted(pe.sections, key=lambda s: s.VirtualAddress)
    end = 0
    for s in sections:
        name = s.Name.rstrip(b"\0").decode()
        assert s.VirtualAddress % opt.SectionAlignment == 0 and s.VirtualAddress >= end, f"{name} misplaced"
        assert s.PointerToRawData % opt.FileAlignment == 0 and s.SizeOfRawData % opt.FileAlignment == 0, name
        end = s.VirtualAddress + max(s.Misc_VirtualSize, s.SizeOfRawData)
    raw_end = max(s.PointerToRawData + s.SizeOfRawData for s in sections)
    assert opt.SizeOfImage == -(-end // opt.SectionAlignment) * opt.SectionAlignment, "SizeOfImage"
    rsrc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]
    section = pe.get_section_by_rva(rsrc.VirtualAddress)
    assert section.VirtualAddress == rsrc.VirtualAddress and rsrc.Size <= section.Misc_VirtualSize, "resources"
    old = [s for s in stub.sections if s.Name == section.Name][0]
    grown = section.SizeOfRawData - old.SizeOfRawData
    assert opt.SizeOfInitializedData == stub.OPTIONAL_HEADER.SizeOfInitializedData + grown, "SizeOfInitializedData"
    assert pe.FILE_HEADER.TimeDateStamp == stub.FILE_HEADER.TimeDateStamp, "time stamp"
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if relocations.Size:
        assert pe.get_section_by_rva(relocations.VirtualAddress).Name.startswith(b".reloc"), "relocations lost"
        assert len(list(pe.DIRECTORY_ENTRY_BASERELOC)) == len(list(stub.DIRECTORY_ENTRY_BASERELOC))
    assert not pe.get_warnings(), f"pefile warns: {pe.get_warnings()}"
    assert pe.verify_checksum(), f"CheckSum {opt.CheckSum:#x}, computed {pe.generate_checksum():#x}"
    return raw_end


def check_payload(path, raw_end, folder_files):
    with zipfile.ZipFile(path) as z:
        assert z.testzip() is None
        names = set(z.namelist())
        first = min(i.header_offset for i in z.infolist())
    assert first == raw_end, f"payload at {first}, the stub ends at {raw_end}"
    return names


def check_refused(cepack, stub_path, stub, installer):
    """Stubs build cannot rewrite are refused with the reason, and nothing is written."""
    with open(stub_path, "rb") as f:
        image = f.read()
    security = stub.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    at = security.get_file_offset() + 4
    rows = [
        ("signed", image[:at] + struct.pack("<I", 8) + image[at + 4:], "is signed"),
        ("overlay", image + bytes(512), "carries data behind its sections"),
        ("cut", image[:-512], "is cut short"),
    ]
    failures = 0
    for name, edited, reason in rows:
        with tempfile.TemporaryDirectory() as root:
            folder = package_folder(root, b"", installer)
            bad = os.path.join(root, "stub.exe")
            with open(bad, "wb") as f:
                f.write(edited)
            output = os.path.join(root, "Setup.exe")
            run = subprocess.run([cepack, "build", "--stub", bad, "-o", output, folder], capture_output=True, text=True)
            if run.returncode != 2 or reason not in run.stderr or os.path.exists(output):
                failures += 1
                print(f"FAIL refused {name}: {run.returncode} {run.stderr}")
            else:
                print(f"ok   refused {name}")
    return failures


def main():
    cepack, stub_path = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    installer = os.path.abspath(sys.argv[3])
    stub = pefile.PE(stub_path)
    small, large = ico([(16, 32, dib_image(16, 32)), (32, 8, dib_image(32, 8)), (48, 32, dib_image(48, 32)),
                        (256, 32, png_image(256))]), ico([(64, 32, dib_image(64, 32))])
    rows = [
        # name, install.inf keys, flags, the version information wanted, icon entries
        ("install.inf", b"Company=Example Vendor Ltd\r\nVersion=2.1\r\nIcon=art\\vendor.ico\r\n", [],
         {"strings": {"CompanyName": "Example Vendor Ltd", "FileVersion": "2.1", "ProductVersion": "2.1"},
          "fixed": (2, 1, 0, 0)}, small[1]),
        ("flags", b"Company=Example Vendor Ltd\r\nVersion=2.1\r\nIcon=art\\vendor.ico\r\n",
         ["--version", "3.0.7.65535", "--company", "Zweite Firma GmbH", "--icon", "other.ico"],
         {"strings": {"CompanyName": "Zweite Firma GmbH", "FileVersion": "3.0.7.65535",
                      "ProductVersion": "3.0.7.65535"}, "fixed": (3, 0, 7, 65535)}, large[1]),
        ("none", b"", [], {"strings": {}, "fixed": (0, 0, 0, 0)}, None),
    ]
    failures = 0
    for name, keys, flags, want, icon in rows:
        with tempfile.TemporaryDirectory() as root:
            try:
                folder = package_folder(root, keys, installer)
                if b"Icon=" in keys:
                    os.makedirs(os.path.join(folder, "art"))
                    with open(os.path.join(folder, "art", "vendor.ico"), "wb") as f:
                        f.write(small[0])
                with open(os.path.join(root, "other.ico"), "wb") as f:
                    f.write(large[0])
                output = os.path.join(root, "SampleNotes-Setup.exe")
                cwd = os.getcwd()
                os.chdir(root)
                try:
                    build(cepack, stub_path, folder, output, flags)
                    with open(output, "rb") as f:
                        first = f.read()
                    build(cepack, stub_path, folder, output, flags)
                finally:
                    os.chdir(cwd)
                with open(output, "rb") as f:
                    assert f.read() == first, "a second build gave other bytes"
                want["strings"].update({"FileDescription": "Sample Notes Setup", "ProductName": "Sample Notes",
                                        "LegalCopyright": "(c) 2024 Example Vendor Ltd",
                                        "OriginalFilename": "SampleNotes-Setup.exe",
                                        "InternalName": "SampleNotes-Setup"})
                pe = pefile.PE(output)
                check_version(pe, want)
                if icon:
                    check_icons(pe, icon)
                else:
                    assert leaf_data(pe, resource_entries(pe, 14)[0]) == \
                        leaf_data(stub, resource_entries(stub, 14)[0]), "the launcher's icon changed"
                names = check_payload(output, check_layout(pe, stub), folder)
                assert "art/vendor.ico" not in names, "the icon went into the payload"
                print(f"ok   {name}: {os.path.getsize(stub_path)} -> {len(first)} bytes")
            except AssertionError as e:
                failures += 1
                print(f"FAIL {name}: {e}")
    failures += check_refused(cepack, stub_path, stub, installer)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
