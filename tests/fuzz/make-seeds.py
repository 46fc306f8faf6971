#!/usr/bin/env python3
"""make-seeds.py OUT: seed corpora for the fuzzers, one directory per fuzzer.

Archives come from real tools (Info-ZIP zip, 7z, bsdtar, Python's zipfile),
deflate streams from zlib at every level and strategy. A tool that is missing
is skipped with a note. The same machine gives the same seeds, but for the
random header of the encrypted archive.
"""
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings
import zipfile
import zlib

OUT = sys.argv[1]
rng = random.Random(6)
warnings.filterwarnings("ignore", "Duplicate name")
made = {}


def put(fuzzer, name, data):
    d = os.path.join(OUT, fuzzer)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)
    made[fuzzer] = made.get(fuzzer, 0) + 1


def have(tool):
    if shutil.which(tool):
        return True
    print(f"make-seeds: {tool} not found, its seeds are skipped", file=sys.stderr)
    return False


def text(n):
    words = [b"the ", b"installer ", b"copies ", b"files ", b"to ", b"CeAppMgr.exe ", b"\r\n",
             b"[Install]\r\n", b"Version=1.0 ", b"of ", b"a "]
    out = b""
    while len(out) < n:
        out += rng.choice(words)
    return out[:n]


def binary(n):
    out = bytearray()
    while len(out) < n:
        kind, k = rng.randrange(4), rng.randrange(200)
        if kind == 0:
            out += bytes([rng.randrange(256)]) * k
        elif kind == 1:
            out += bytes(rng.randrange(7) for _ in range(k))
        elif kind == 2:
            out += rng.randbytes(4 + k % 20) * (k % 9 + 1)
        else:
            out += rng.randbytes(k)
    return bytes(out[:n])


def raw_deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY, mem=8):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, mem, strategy)
    return c.compress(data) + c.flush()


# ---- inflate: raw deflate streams ------------------------------------------
strategies = {"default": zlib.Z_DEFAULT_STRATEGY, "filtered": zlib.Z_FILTERED,
              "huffman": zlib.Z_HUFFMAN_ONLY, "rle": zlib.Z_RLE, "fixed": zlib.Z_FIXED}
sets = {"text": text(3000), "binary": binary(3000), "random": rng.randbytes(400),
        "runs": b"a" * 700 + b"ab" * 300 + bytes(300), "short": b"setup.exe"}
for name, data in sets.items():
    for level in range(10):
        put("inflate", f"{name}-l{level}", raw_deflate(data, level))
    for sname, strategy in strategies.items():
        put("inflate", f"{name}-{sname}", raw_deflate(data, 6, strategy))
put("inflate", "empty", raw_deflate(b"", 6))
put("inflate", "small-blocks", raw_deflate(text(4000), 6, mem=1))
# More than one window (32 KB) of output, in Huffman and in stored blocks.
put("inflate", "long-text", raw_deflate(text(80000), 9))
put("inflate", "long-stored", raw_deflate(binary(40000), 0))


# ---- archives from real tools --------------------------------------------------
def tree(root):
    files = {
        "setup.exe": binary(1500),
        "install.inf": b"[Installation]\r\nProgram=Demo\r\n[Install]\r\n1=demo.ini\r\n",
        "demo.ini": text(400),
        "data/readme.txt": text(900),
        "data/sub/empty.dat": b"",
        "data/sub/zeros.bin": bytes(3000),
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "emptydir"), exist_ok=True)
    stamp = 1589718644  # 2020-05-17: the same archives on every run
    for d, dirs, fs in os.walk(root):
        for n in dirs + fs:
            os.utime(os.path.join(d, n), (stamp, stamp))
    return sorted(files)


def run(args, cwd, stdin=None):
    r = subprocess.run(args, cwd=cwd, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if r.returncode != 0:
        print(f"make-seeds: {' '.join(args)} failed", file=sys.stderr)
        return None
    return r.stdout


def read(path):
    with open(path, "rb") as f:
        return f.read()


archives = {}
work = tempfile.mkdtemp(prefix="ce-seeds-")
try:
    src = os.path.join(work, "src")
    names = tree(src)
    out = os.path.join(work, "out")
    os.makedirs(out)

    def tool_archive(key, args, name):
        path = os.path.join(out, name)
        if run([a.replace("{}", path) for a in args], src) is not None and os.path.exists(path):
            archives[key] = read(path)

    if have("zip"):
        for flag in ["-0", "-1", "-6", "-9"]:
            run(["zip", "-q", "-r", "-X", flag, os.path.join(out, f"zip{flag}.zip"), "."], src)
            archives[f"zip{flag}"] = read(os.path.join(out, f"zip{flag}.zip"))
        # Streamed to a pipe: data descriptors behind the entries.
        data = run(["zip", "-q", "-r", "-", "."], src)
        if data:
            archives["zip-streamed"] = data
        data = run(["zip", "-q", "-", "-"], src, stdin=text(2000))
        if data:
            archives["zip-stdin"] = data
        # Behind a stub, offsets adjusted with -A, as a package is laid out.
        stub = binary(700)
        with open(os.path.join(out, "sfx.exe"), "wb") as f:
            f.write(stub + archives["zip-6"])
        if run(["zip", "-q", "-A", os.path.join(out, "sfx.exe")], src) is not None:
            archives["zip-sfx"] = read(os.path.join(out, "sfx.exe"))
            # A signed package: 2 zero bytes and a certificate behind the end record.
            archives["zip-sfx-signed"] = archives["zip-sfx"] + bytes(2) + rng.randbytes(4752)
        if run(["zip", "-q", "-P", "secret", os.path.join(out, "enc.zip"), "install.inf", "demo.ini"], src) is not None:
            archives["zip-encrypted"] = read(os.path.join(out, "enc.zip"))
        zc = subprocess.run(["zip", "-q", "-z", os.path.join(out, "comment.zip"), "install.inf"], cwd=src,
                            input=b"a comment\n.\n", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if zc.returncode == 0:
            archives["zip-comment"] = read(os.path.join(out, "comment.zip"))
    if have("7z"):
        for mx in ["0", "5", "9"]:
            tool_archive(f"7z-mx{mx}", ["7z", "a", "-tzip", f"-mx={mx}", "-bd", "-y", "{}", "."], f"7z{mx}.zip")
        for method in ["Deflate64", "BZip2", "LZMA"]:
            tool_archive(f"7z-{method}", ["7z", "a", "-tzip", f"-mm={method}", "-bd", "-y", "{}", "install.inf",
                                          "demo.ini"], f"7z{method}.zip")
    if have("bsdtar"):
        tool_archive("bsdtar", ["bsdtar", "--format", "zip", "-cf", "{}", "."], "bsdtar.zip")
        tool_archive("bsdtar-store", ["bsdtar", "--format", "zip", "--options", "zip:compression=store", "-cf", "{}",
                                      "."], "bsdtar-store.zip")
finally:
    shutil.rmtree(work)


# Python's zipfile, including the names a package must never act on.
def pyzip(entries, method=zipfile.ZIP_DEFLATED, stream=False, comment=b""):
    buf = io.BytesIO()
    target = buf
    if stream:  # a stream that can't seek: data descriptors
        class Unseekable(io.RawIOBase):
            def writable(self):
                return True

            def write(self, b):
                return buf.write(b)
        target = Unseekable()
    with zipfile.ZipFile(target, "w", method) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, (2020, 5, 17, 12, 30, 44))
            info.compress_type = method
            info.create_system = 0
            info.external_attr = 0x20
            if name.endswith("/"):
                info.external_attr = 0x10
            z.writestr(info, data)
        z.comment = comment
    return buf.getvalue()


basic = [("install.exe", binary(800)), ("install.inf", text(300)), ("cab/app.cab", binary(600)), ("dir/", b"")]
archives["py-deflated"] = pyzip(basic)
archives["py-stored"] = pyzip(basic, zipfile.ZIP_STORED)
archives["py-streamed"] = pyzip(basic, stream=True)
archives["py-streamed-stored"] = pyzip(basic, zipfile.ZIP_STORED, stream=True)
archives["py-comment"] = pyzip(basic, comment=b"PK\x05\x06 inside a comment")
archives["py-bzip2"] = pyzip(basic[:2], zipfile.ZIP_BZIP2)
archives["py-lzma"] = pyzip(basic[:2], zipfile.ZIP_LZMA)
archives["py-empty"] = pyzip([])
archives["py-names"] = pyzip([
    ("../escape.txt", b"up"), ("a/../../escape2.txt", b"up"), ("/absolute.txt", b"root"),
    ("\\backslash\\root.txt", b"root"), ("C:/drive.txt", b"drive"), ("a\\..\\..\\x.txt", b"up"),
    ("./dot/./name.txt", b"dot"), ("dir/", b""), ("dir/../dir2/f.txt", b"inside"),
    ("n" * 300, b"long"), ("d/" * 120 + "f", b"deep"), ("sp ace/\x7f\x80\xe4.txt", b"odd"),
])
archives["py-duplicates"] = pyzip([("same.txt", b"first"), ("same.txt", b"second"), ("SAME.TXT", b"third")])
archives["py-dir-then-file"] = pyzip([("x/", b""), ("x", b"file over a directory"), ("y", b"f"), ("y/z", b"under")])

for key, data in archives.items():
    put("directory", key, data)
    put("walk", key, data)

# Many entries: a central directory over 64000 bytes is walked in chunks.
many = pyzip([(f"files/{i:05d}-{'x' * 20}.txt", b"") for i in range(1500)], zipfile.ZIP_STORED)
put("directory", "py-many-entries", many)
put("walk", "py-300-entries", pyzip([(f"f{i}", b"x") for i in range(300)], zipfile.ZIP_STORED))

# ---- table builder: kind, first-level width, one length per symbol ----------
fixed_literals = [8] * 144 + [9] * 112 + [7] * 24 + [8] * 8
put("huffman", "fixed-literals", bytes([0, 7] + fixed_literals))
put("huffman", "fixed-distances", bytes([1, 5] + [5] * 30))
put("huffman", "code-lengths", bytes([2, 7, 2, 3, 3] + [4] * 13 + [5] * 2))
put("huffman", "one-distance-code", bytes([1, 6, 0, 1]))
put("huffman", "deep", bytes([0, 9] + list(range(1, 16)) + [15] + [0] * 240 + [15, 14]))
put("huffman", "sixteen", bytes([1, 6] + [0xFF] * 3))

# ---- text helpers: flags, separator, two bytes of N, then the text -----------
texts = [b"C:\\Program Files\\CE\\", b"\\\\server\\share", b"\\\\server\\share\\", b"\\\\server",
         b"\\\\server\\share\\dir\\file", b"C:\\", b"C:", b"\"C:\\Program Files\\app.exe\" -x \"y\"",
         b"\"unclosed", b"a,,b", b"a,", b"%A%\\x", b"%B%", b"%C%;%A%", b"100%%", b"%D%%A%", b"%L%%L%%L%",
         b"%M%", b"%P%%P%", b"%TEMP%\\%A%", b"dir\\\\", b"\x83\\\\\x83\\", b"\x81\\%A%\x81", b"\x82"]
for i, t in enumerate(texts):
    for flags, sep, n in [(0, b",", 259), (1, b"\\", 259), (0, b"\\", 10), (1, b",", 1000)]:
        put("text", f"text-{i:02d}-{flags}{n}", bytes([flags]) + sep + n.to_bytes(2, "little") + t)

# ---- setup information files: the sample package's and variants ------------
sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "sample", "install.inf")
if os.path.exists(sample):
    put("setup", "sample.inf", read(sample))
letters = "dfnkiseazlphrogctx"
langs = "".join(f"{i + 2}=Language {i + 2},{c}\r\n" for i, c in enumerate(letters))
full = ("[Installation]\r\nProgram=Demo App\r\nCopyright=(c) Demo\r\n[Destination]\r\nDir=DemoApp\r\n"
        "[Languages]\r\nCount=19\r\nDefault=1\r\n1=English\r\n" + langs +
        "[Install]\r\n1=demo.ini\r\n2=demo.arm.cab,s\r\n3=readme.txt,n,x\r\n"
        + "".join(f"[Install{c}]\r\n1=demo_{c}.ini\r\n" for c in letters) +
        "[Backup data]\r\n1=readme.txt\r\n2=..\\outside.txt\r\n").encode()
put("setup", "nineteen-languages.inf", full)
variants = {
    "lf-only": full.replace(b"\r\n", b"\n"),
    "cr-only": full.replace(b"\r\n", b"\r"),
    "bom-blanks-quotes": b"\xef\xbb\xbf  [ installation ]  \r\n  program =  \"  Quoted Title  \"  \r\n"
                         b"copyright='x'\r\n[destination]\r\ndir = c:\\abs\\dir\r\n",
    "duplicates": b"[Install]\r\n1=a.ini\r\n1=b.ini\r\n[install]\r\n2=c.ini\r\n[Languages]\r\nCount=2\r\n"
                  b"1=One,d\r\n2=Two,D\r\nDefault=0\r\n",
    "keys-before-sections": b"Program=NoSection\r\n1=x.ini\r\n[Installation]\r\nProgram\r\nProgram=late\r\n",
    "counts": b"[Languages]\r\nCount=300\r\nDefault=-5\r\n1=A,\r\n2=B\r\n3=C,c\r\n[installc]\r\n1=?!?!?!\r\n"
              b"[install]\r\n1=../up.ini\r\n2=sub\\file.cab\r\n3=\r\n4=after-empty.ini\r\n",
    "empty": b"",
    "headers-only": b"[\r\n]\r\n[]\r\n[[x]]\r\n[Installation\r\n=value\r\n==\r\n",
}
for name, data in variants.items():
    put("setup", name + ".inf", data)

# ---- cabinets: the sample's device cabinet and plain ones from gcab ---------
cab = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "sample",
                   "samplenotes.arm.cab")
if os.path.exists(cab):
    put("cabinet", "sample-device.cab", read(cab))
    device = read(cab)
    # The same with a header reserve and the names of a cabinet set, the
    # offsets moved on by what they take.
    extra = b"\x04\x00\x00\x00abcd" + b"prev.cab\0disk1\0next.cab\0disk2\0"
    total, files_at = struct.unpack_from("<I", device, 8)[0], struct.unpack_from("<I", device, 16)[0]
    data_at = struct.unpack_from("<I", device, 36)[0]
    moved = (device[:8] + struct.pack("<I", total + len(extra)) + device[12:16] + struct.pack("<I", files_at + len(extra))
             + device[20:30] + b"\x07\x00" + device[32:36] + extra + struct.pack("<I", data_at + len(extra))
             + device[40:])
    put("cabinet", "reserve-and-set.cab", moved)
if have("gcab"):
    work = tempfile.mkdtemp(prefix="ce-seeds-")
    try:
        src = os.path.join(work, "src")
        tree(src)
        for key, flags in [("gcab-plain", "-c"), ("gcab-mszip", "-cz")]:
            path = os.path.join(work, key + ".cab")
            if run(["gcab", flags, path, "install.inf", "demo.ini"], src) is not None:
                put("cabinet", key + ".cab", read(path))
    finally:
        shutil.rmtree(work)

# ---- signatures: small programs signed by osslsigncode, once and nested -----
def signed_seeds():
    programs = [p for p in ("/usr/lib/i386-linux-gnu/wine/i386-windows/hostname.exe",
                            "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/hostname.exe") if os.path.exists(p)]
    if not programs:
        print("make-seeds: no small PE program of wine's, the signature seeds are skipped", file=sys.stderr)
        return
    work = tempfile.mkdtemp(prefix="ce-seeds-")
    try:
        w = lambda name: os.path.join(work, name)
        for cn, key in [("Seed CA", "ca"), ("Seed Nested", "nest")]:
            run(["openssl", "req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", w(key + ".key"),
                 "-out", w(key + ".pem"), "-days", "2", "-subj", "/CN=" + cn], work)
        run(["openssl", "req", "-newkey", "rsa:1024", "-nodes", "-keyout", w("leaf.key"), "-out", w("leaf.csr"),
             "-subj", "/O=Seed/CN=Seed Signer"], work)
        run(["openssl", "x509", "-req", "-in", w("leaf.csr"), "-CA", w("ca.pem"), "-CAkey", w("ca.key"),
             "-set_serial", "7", "-days", "2", "-out", w("leaf.pem")], work)
        with open(w("chain.pem"), "wb") as f:
            f.write(read(w("ca.pem")) + read(w("leaf.pem")))
        for bits, program in enumerate(programs):
            one, two = w(f"one{bits}.exe"), w(f"two{bits}.exe")
            common = ["osslsigncode", "sign", "-n", "Seed", "-i", "https://example.com/"]
            run(common + ["-certs", w("chain.pem"), "-key", w("leaf.key"), "-in", program, "-out", one], work)
            run(common + ["-nest", "-certs", w("nest.pem"), "-key", w("nest.key"), "-in", one, "-out", two], work)
            for name, path in [("signed", one), ("nested", two)]:
                if not os.path.exists(path):
                    continue
                data = read(path)
                pe = struct.unpack_from("<I", data, 0x3C)[0]
                dirs = pe + 24 + (96 if struct.unpack_from("<H", data, pe + 24)[0] == 0x10B else 112)
                offset, size = struct.unpack_from("<II", data, dirs + 4 * 8)
                table = data[offset:offset + size]
                put("authenticode", f"{name}-{bits}.table", table)
                put("authenticode", f"{name}-{bits}.der", table[8:])
                # The headers and the table alone: the program's body is nothing to the reader.
                head = bytearray(data[:1024])
                struct.pack_into("<I", head, dirs + 4 * 8, len(head))
                put("authenticode", f"{name}-{bits}.exe", bytes(head) + table)
    finally:
        shutil.rmtree(work)


if have("osslsigncode") and have("openssl"):
    signed_seeds()

for fuzzer in sorted(made):
    print(f"make-seeds: {made[fuzzer]} seeds for {fuzzer}")
