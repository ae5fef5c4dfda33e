#!/usr/bin/env python3
"""A loopback timestamp server for tests: the legacy Authenticode protocol.

The client POSTs the base64 DER of a TimeStampRequest

    SEQUENCE { OID 1.3.6.1.4.1.311.3.2.1,
               SEQUENCE { OID data, [0] EXPLICIT OCTET STRING encryptedDigest } }

and gets back (application/octet-stream) the base64 DER of a PKCS#7
ContentInfo/SignedData whose content is that encrypted digest as data, signed
by the test TSA key. Its single signer carries the authenticated attributes
contentType, signingTime (UTCTime) and messageDigest, and the TSA certificate
travels with it. `osslsigncode sign -t URL` embeds that signer as the
counter-signature of the file's signature.

The signing time is the --time text, or the UTCTime text given as the request
path (POST /491231235959Z), so one server can hand out several exact times.

Loopback only: binds 127.0.0.1 on a free port and prints its URL as the first
line of standard output. Exits by itself after --max-requests requests or
after --idle seconds without one.

Python's standard library only; the RSA signature comes from the openssl CLI.
"""

import argparse
import base64
import hashlib
import http.server
import re
import subprocess
import sys

OID_TIMESTAMP_REQUEST = "1.3.6.1.4.1.311.3.2.1"
OID_DATA = "1.2.840.113549.1.7.1"
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_CONTENT_TYPE = "1.2.840.113549.1.9.3"
OID_MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
OID_SIGNING_TIME = "1.2.840.113549.1.9.5"
OID_RSA_ENCRYPTION = "1.2.840.113549.1.1.1"
DIGESTS = {
    "sha1": "1.3.14.3.2.26",
    "sha256": "2.16.840.1.101.3.4.2.1",
}

# UTCTime text: YYMMDDhhmm[ss] then Z or an offset +hhmm / -hhmm.
UTC_TIME_TEXT = re.compile(r"^[0-9]{10}([0-9]{2})?(Z|[+-][0-9]{4})$")


# --- DER -------------------------------------------------------------------


def der_length(n):
    if n < 0x80:
        return bytes([n])
    digits = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(digits)]) + digits


def tlv(tag, content):
    return bytes([tag]) + der_length(len(content)) + content


def seq(*parts):
    return tlv(0x30, b"".join(parts))


def der_set(*parts):
    # DER orders the elements of a SET OF by their encodings.
    return tlv(0x31, b"".join(sorted(parts)))


def oid(dotted):
    arcs = [int(a) for a in dotted.split(".")]
    body = bytearray([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(chunk)
    return tlv(0x06, bytes(body))


def integer(value):
    return tlv(0x02, value.to_bytes(value.bit_length() // 8 + 1, "big", signed=True))


def octet_string(data):
    return tlv(0x04, data)


def null():
    return b"\x05\x00"


def algorithm(dotted):
    return seq(oid(dotted), null())


def read_tlv(data, pos=0):
    """(tag, content start, content end) of the element at pos; definite lengths only."""
    if pos + 2 > len(data):
        raise ValueError("truncated element")
    tag, first = data[pos], data[pos + 1]
    pos += 2
    if first < 0x80:
        length = first
    else:
        count = first & 0x7F
        if count == 0 or count > 4 or pos + count > len(data):
            raise ValueError("unsupported length")
        length = int.from_bytes(data[pos : pos + count], "big")
        pos += count
    if pos + length > len(data):
        raise ValueError("element runs past its container")
    return tag, pos, pos + length


def children(data, start, end):
    out = []
    while start < end:
        tag, cstart, cend = read_tlv(data, start)
        out.append((tag, start, cstart, cend))
        start = cend
    return out


def decode_oid(content):
    arcs = [content[0] // 40, content[0] % 40]
    value = 0
    for b in content[1:]:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            arcs.append(value)
            value = 0
    return ".".join(str(a) for a in arcs)


def encrypted_digest_of(request):
    """The encrypted digest carried by a legacy TimeStampRequest."""
    tag, start, end = read_tlv(request)
    if tag != 0x30:
        raise ValueError("request is not a SEQUENCE")
    parts = children(request, start, end)
    if len(parts) < 2 or parts[0][0] != 0x06:
        raise ValueError("request has no type")
    if decode_oid(request[parts[0][2] : parts[0][3]]) != OID_TIMESTAMP_REQUEST:
        raise ValueError("not a timestamp request")
    # An optional attributes element may stand between the type and the content.
    content = parts[-1]
    if content[0] != 0x30:
        raise ValueError("request content is not a ContentInfo")
    inner = children(request, content[2], content[3])
    if len(inner) != 2 or inner[0][0] != 0x06 or inner[1][0] != 0xA0:
        raise ValueError("malformed ContentInfo")
    if decode_oid(request[inner[0][2] : inner[0][3]]) != OID_DATA:
        raise ValueError("content is not data")
    explicit = children(request, inner[1][2], inner[1][3])
    if len(explicit) != 1 or explicit[0][0] != 0x04:
        raise ValueError("content is not an OCTET STRING")
    return request[explicit[0][2] : explicit[0][3]]


def issuer_and_serial(cert_der):
    """SEQUENCE { issuer, serialNumber } taken from a certificate."""
    _, start, end = read_tlv(cert_der)
    tbs = children(cert_der, start, end)[0]
    fields = children(cert_der, tbs[2], tbs[3])
    if fields[0][0] == 0xA0:  # explicit version
        fields = fields[1:]
    serial, issuer = fields[0], fields[2]
    raw = lambda f: cert_der[f[1] : f[3]]
    return seq(raw(issuer), raw(serial))


def pem_to_der(pem_text):
    body = re.search(
        r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", pem_text, re.S
    )
    if not body:
        raise ValueError("no certificate in PEM file")
    return base64.b64decode("".join(body.group(1).split()))


# --- the reply -------------------------------------------------------------


class Authority:
    def __init__(self, cert_path, key_path, digest):
        with open(cert_path, encoding="ascii") as f:
            self.cert = pem_to_der(f.read())
        self.key_path = key_path
        self.digest = digest

    def sign(self, data):
        return subprocess.run(
            ["openssl", "dgst", "-" + self.digest, "-sign", self.key_path, "-binary"],
            input=data,
            capture_output=True,
            check=True,
        ).stdout

    def reply(self, encrypted_digest, utc_time_text):
        content = seq(oid(OID_DATA), tlv(0xA0, octet_string(encrypted_digest)))
        attributes = [
            seq(oid(OID_CONTENT_TYPE), der_set(oid(OID_DATA))),
            seq(oid(OID_SIGNING_TIME), der_set(tlv(0x17, utc_time_text.encode("ascii")))),
            seq(
                oid(OID_MESSAGE_DIGEST),
                der_set(octet_string(hashlib.new(self.digest, encrypted_digest).digest())),
            ),
        ]
        signed_attributes = der_set(*attributes)
        signature = self.sign(signed_attributes)
        signer = seq(
            integer(1),
            issuer_and_serial(self.cert),
            algorithm(DIGESTS[self.digest]),
            b"\xa0" + signed_attributes[1:],  # [0] IMPLICIT SET OF Attribute
            algorithm(OID_RSA_ENCRYPTION),
            octet_string(signature),
        )
        signed_data = seq(
            integer(1),
            der_set(algorithm(DIGESTS[self.digest])),
            content,
            tlv(0xA0, self.cert),  # [0] IMPLICIT certificates
            der_set(signer),
        )
        return seq(oid(OID_SIGNED_DATA), tlv(0xA0, signed_data))


def make_handler(authority, default_time, stats):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            stats["requests"] += 1
            path_time = self.path.strip("/")
            utc_time = path_time or default_time
            if not UTC_TIME_TEXT.match(utc_time):
                self.send_error(404, "path must be a UTCTime text")
                return
            try:
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length)
                request = base64.b64decode(b"".join(body.split()), validate=True)
                digest = encrypted_digest_of(request)
            except ValueError as e:
                self.send_error(400, "bad timestamp request: %s" % e)
                return
            reply = authority.reply(digest, utc_time)
            # Line breaks every 64 characters, as PEM has them.
            text = base64.encodebytes(reply).replace(b"\n", b"")
            text = b"\n".join(text[i : i + 64] for i in range(0, len(text), 64)) + b"\n"
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(text)))
            self.end_headers()
            self.wfile.write(text)

        def log_message(self, fmt, *args):
            sys.stderr.write("legacy_tsa: " + (fmt % args) + "\n")

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cert", required=True, help="TSA certificate (PEM)")
    parser.add_argument("--key", required=True, help="TSA private key (PEM)")
    parser.add_argument("--time", default="190405060708Z", help="default UTCTime text")
    parser.add_argument("--digest", choices=sorted(DIGESTS), default="sha256")
    parser.add_argument("--max-requests", type=int, default=100)
    parser.add_argument("--idle", type=float, default=30.0, help="seconds without a request")
    args = parser.parse_args()
    if not UTC_TIME_TEXT.match(args.time):
        parser.error("--time must be a UTCTime text such as 190405060708Z")

    stats = {"requests": 0}
    handler = make_handler(Authority(args.cert, args.key, args.digest), args.time, stats)
    server = http.server.HTTPServer(("127.0.0.1", 0), handler)
    server.timeout = args.idle
    idle = {"expired": False}
    server.handle_timeout = lambda: idle.__setitem__("expired", True)
    print("http://127.0.0.1:%d/" % server.server_address[1], flush=True)
    with server:
        while stats["requests"] < args.max_requests and not idle["expired"]:
            server.handle_request()
    return 0


if __name__ == "__main__":
    sys.exit(main())
