#!/usr/bin/env python3
"""Signed cabinets, Windows Installer packages and scripts from real tools.

    signed_formats.py OUTDIR

Builds a cabinet with gcab and installer packages with msibuild (msitools),
writes PowerShell files, and signs them with osslsigncode using the test CA
and the loopback legacy timestamp server of signed_inputs.py. osslsigncode
does not sign Windows Script Host files (.js, .vbs, .wsf): those get a
signature block in their own comment form around the PKCS#7 that osslsigncode
made for a PowerShell file. Malformed variants are cut or patched copies of
the signed files. Some are timestamped by RFC 3161 instead (osslsigncode's
own timestamping authority), one by a nested signature alone. Writes
OUTDIR/manifest.tsv in the format signed_inputs.py uses (file name, TAB,
openssl's reading of the counter-signer's signing time in seconds since 1970,
or "-", TAB, the time the opt-in for modern timestamps takes, or "-").
Python's standard library only.
"""

import base64
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import signed_inputs as si  # noqa: E402  (shared CA, server and openssl reading)

# Scripts: file name, text encoding, content. osslsigncode keeps the
# encoding (UTF-8 with or without a byte-order mark, UTF-16 LE) and picks the
# comment form from the extension.
POWERSHELL = "Write-Host 'Veltrano test'\r\nGet-Date\r\n"
XML_TYPES = '<?xml version="1.0" encoding="utf-8"?>\r\n<Types>\r\n</Types>\r\n'
XML_CONSOLE = ('<?xml version="1.0" encoding="utf-8"?>\r\n<PSConsoleFile ConsoleSchemaVersion='
               '"1.0">\r\n  <PSVersion>5.1</PSVersion>\r\n</PSConsoleFile>\r\n')
XML_CDXML = ('<?xml version="1.0" encoding="utf-8"?>\r\n<PowerShellMetadata xmlns='
             '"http://schemas.microsoft.com/cmdlets-over-objects/2009/11">\r\n'
             '</PowerShellMetadata>\r\n')
SCRIPTS = [
    ("signed.ps1", "utf-8", POWERSHELL),
    ("signed-bom.psm1", "utf-8-sig", "function Get-Veltrano { 1 }\r\n"),
    ("signed.psd1", "utf-8", "@{ ModuleVersion = '1.0' }\r\n"),
    ("signed-utf16.PS1", "utf-16", "Write-Host '\u6587\u4ef6\u65f6\u95f4'\r\n"),
    ("\u7b7e\u540d\u811a\u672c.ps1", "utf-8", "Write-Host '\u4f60\u597d'\r\n"),
    ("signed.ps1xml", "utf-8", XML_TYPES),
    ("signed.psc1", "utf-8", XML_CONSOLE),
    ("signed.cdxml", "utf-8", XML_CDXML),
]

# Signing options per file; "{url}" is the timestamp server, a UTCTime text
# after it the time it hands out (signed_inputs.DEFAULT_TIME otherwise).
OPTIONS = {
    "signed.cab": ["-h", "sha256", "-n", "Veltrano CAB", "-t", "{url}"],
    "signed-2049.cab": ["-h", "sha1", "-i", "https://veltrano.invalid/cab", "-t",
                        "{url}491231235959Z"],
    "untimestamped.cab": ["-h", "sha256", "-n", "Veltrano CAB"],
    "signed.msi": ["-h", "sha256", "-n", "Veltrano MSI", "-t", "{url}"],
    "signed-dse.msi": ["-h", "sha256", "-n", "Veltrano MSI", "-add-msi-dse", "-t",
                       "{url}991231235959Z"],
    "signed-large.msi": ["-h", "sha1", "-n", "Veltrano MSI", "-t", "{url}"],
    "script-donor.ps1": ["-h", "sha256", "-n", "Veltrano WSH", "-t", "{url}350704120000Z"],
    "rfc3161.cab": ["-h", "sha256", "-n", "Veltrano CAB", "{tsa}"],
    "rfc3161.msi": ["-h", "sha256", "-n", "Veltrano MSI", "{tsa}"],
    "rfc3161.ps1": ["-h", "sha256", "-n", "Veltrano Script", "{tsa}"],
    # Signed without a timestamp, then a nested signature with one.
    "nested-rfc3161.msi": ["-h", "sha1", "-n", "Veltrano MSI"],
}
NESTED = {"nested-rfc3161.msi": ["-nest", "-h", "sha256", "{tsa}"]}
TSA_TIME = "1600000000"
DEFAULT_SCRIPT_OPTIONS = ["-h", "sha256", "-n", "Veltrano Script", "-t", "{url}"]

# Windows Script Host files around the donor's PKCS#7.
WSH = [
    ("signed.js", 'WScript.Echo("Veltrano");\r\n\r\n',
     "// SIG // Begin signature block", "// SIG // {}", "// SIG // End signature block", ""),
    ("signed.vbs", 'WScript.Echo "Veltrano"\r\n\r\n',
     "'' SIG '' Begin signature block", "'' SIG '' {}", "'' SIG '' End signature block", ""),
    ("signed.wsf",
     '<?xml version="1.0" ?>\r\n<job id="main">\r\n<script language="JScript">'
     'WScript.Echo("Veltrano");</script>\r\n',
     "<signature>", "** SIG ** {}", "</signature>", "</job>\r\n"),
]


def gcab_cabinet(path, work):
    payload = os.path.join(work, "cab-payload")
    os.makedirs(payload, exist_ok=True)
    names = []
    for name, text in (("readme.txt", "Veltrano cabinet\r\n"), ("data.bin", "x" * 5000)):
        with open(os.path.join(payload, name), "w", encoding="ascii") as f:
            f.write(text)
        names.append(name)
    if os.path.exists(path):
        os.remove(path)
    si.run(["gcab", "-c", "-n", path] + names, cwd=payload)


def msibuild_package(path, work, payload_size):
    if os.path.exists(path):
        os.remove(path)
    # msibuild takes one kind of option per call.
    si.run(["msibuild", path, "-s", "Veltrano Test", "Veltrano", ";1033",
            "{6D3A5C2E-8B1F-4C1A-9E55-3A0C2B7D9F11}"])
    si.run(["msibuild", path, "-q",
            "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, "
            "`Value` CHAR(0) NOT NULL LOCALIZABLE PRIMARY KEY `Property`)"])
    si.run(["msibuild", path, "-q",
            "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'Veltrano')"])
    blob = os.path.join(work, "payload-%d.bin" % payload_size)
    with open(blob, "wb") as f:
        f.write(bytes((i * 7 + i // 251) & 0xFF for i in range(payload_size)))
    si.run(["msibuild", path, "-a", "Binary.payload", blob])


def sign(source, target, options, keys, url):
    values = {"url": url}
    tsa = ["-TSA-certs", os.path.join(keys, "tsa-chain.pem"), "-TSA-key",
           os.path.join(keys, "tsa.key"), "-TSA-time", TSA_TIME]
    options = [o for option in options for o in (tsa if option == "{tsa}" else [option])]
    if os.path.exists(target):
        os.remove(target)
    si.run(["osslsigncode", "sign", "-certs", os.path.join(keys, "signer-chain.pem"),
            "-key", os.path.join(keys, "signer.key")]
           + [o.format(**values) for o in options] + ["-in", source, "-out", target],
           env=dict(os.environ, no_proxy="127.0.0.1", NO_PROXY="127.0.0.1"))
    if os.path.basename(target) in NESTED:
        os.replace(target, target + ".outer")
        sign(target + ".outer", target, NESTED.pop(os.path.basename(target)), keys, url)
        os.remove(target + ".outer")
    si.run(["osslsigncode", "verify", "-CAfile", os.path.join(keys, "ca.pem"),
            "-TSA-CAfile", os.path.join(keys, "ca.pem"), "-in", target])


def signing_time_of(der_path):
    text = si.legacy_time(si.signer_of(si.asn1_tree(der_path).kids[0]))
    return "-" if text is None else str(si.utc_time_seconds(text))


def wsh_script(path, donor_der, head, begin, line, end, tail):
    with open(donor_der, "rb") as f:
        b64 = base64.b64encode(f.read()).decode("ascii")
    rows = [begin] + [line.format(b64[i:i + 44]) for i in range(0, len(b64), 44)] + [end]
    with open(path, "wb") as f:
        f.write((head + "\r\n".join(rows) + "\r\n" + tail).encode("ascii"))


def patched(source, target, change):
    with open(source, "rb") as f:
        data = bytearray(f.read())
    change(data)
    with open(target, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    outdir = os.path.abspath(argv[1])
    keys = os.path.join(outdir, "keys")
    work = os.path.join(outdir, "work")
    for d in (keys, work):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    si.make_certificates(keys)
    lines = []

    def record(name, time=None):  # the signature's times, or a time given and no modern one
        lines.append(si.manifest_line(os.path.join(outdir, name), work) if time is None
                     else "%s\t%s\t-\n" % (name, time))

    server, url = si.start_server(keys)
    try:
        cab = os.path.join(work, "plain.cab")
        gcab_cabinet(cab, work)
        for name in ("signed.cab", "signed-2049.cab", "untimestamped.cab", "rfc3161.cab"):
            sign(cab, os.path.join(outdir, name), OPTIONS[name], keys, url)
            record(name)

        small = os.path.join(work, "small.msi")
        msibuild_package(small, work, 3000)
        large = os.path.join(work, "large.msi")
        msibuild_package(large, work, 3 << 20)
        for name, source in (("signed.msi", small), ("signed-dse.msi", small),
                             ("signed-large.msi", large), ("rfc3161.msi", small),
                             ("nested-rfc3161.msi", small)):
            sign(source, os.path.join(outdir, name), OPTIONS[name], keys, url)
            record(name)

        for name, encoding, text in SCRIPTS + [("script-donor.ps1", "utf-8", POWERSHELL),
                                               ("rfc3161.ps1", "utf-8", POWERSHELL)]:
            source = os.path.join(work, "unsigned-" + name)
            with open(source, "wb") as f:
                f.write(text.encode(encoding))
            target = os.path.join(outdir if name != "script-donor.ps1" else work, name)
            sign(source, target, OPTIONS.get(name, DEFAULT_SCRIPT_OPTIONS), keys, url)
            if name != "script-donor.ps1":
                record(name)
    finally:
        server.terminate()
        server.wait(timeout=10)

    donor = os.path.join(work, "script-donor.p7")
    si.run(["osslsigncode", "extract-signature", "-in", os.path.join(work, "script-donor.ps1"),
            "-out", donor])
    for name, head, begin, line, end, tail in WSH:
        wsh_script(os.path.join(outdir, name), donor, head, begin, line, end, tail)
        record(name, signing_time_of(donor))

    # Malformed copies: no usable signature, so the query fails.
    def cut_half(data):
        del data[len(data) // 2:]

    def reserve_past_end(data):
        struct.pack_into("<I", data, 0x2C, len(data) + 16)

    def break_base64(data):
        at = data.index(b"# MII") + 2
        data[at] = ord("!")

    def drop_end_line(data):
        at = data.index(b"# SIG # End signature block")
        del data[at:]

    for name, source, change in (
            ("cut-in-half.msi", "signed.msi", cut_half),
            ("reserve-past-end.cab", "signed.cab", reserve_past_end),
            ("broken-base64.ps1", "signed.ps1", break_base64),
            ("no-end-line.ps1", "signed.ps1", drop_end_line)):
        patched(os.path.join(outdir, source), os.path.join(outdir, name), change)
        record(name, "-")
    for name, source in (("unsigned.cab", cab), ("unsigned.msi", small)):
        shutil.copyfile(source, os.path.join(outdir, name))
        record(name, "-")

    si.write_manifest(outdir, lines)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
