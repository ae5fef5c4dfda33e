// The TSTInfo of an RFC 3161 timestamp token, read by the program itself on
// both builds: the platform's decoder of it is missing where the Windows
// build is tested (Wine), so the token's content, as CryptMsgGetParam gives
// it, comes here.
//
// Like every reader of untrusted bytes it goes through der::Reader and
// returns views into the bytes it was given.
#pragma once

#include <cstdint>

#include "platform/signature/Der.h"

namespace veltrano::tst {

struct TstInfo {
  ByteView imprintAlgorithm;  // the hash algorithm's OBJECT IDENTIFIER content
  ByteView imprint;           // hashedMessage: the OCTET STRING's content
  ByteView genTime;           // the GeneralizedTime's content (its text)
};

// The TSTInfo inside the OCTET STRING that carries it as the token's content
// (CMSG_CONTENT_PARAM gives the content with that header):
//   TSTInfo ::= SEQUENCE { version INTEGER (1), policy OBJECT IDENTIFIER,
//     messageImprint SEQUENCE { AlgorithmIdentifier, OCTET STRING },
//     serialNumber INTEGER, genTime GeneralizedTime, ... }
// What follows genTime (accuracy, ordering, nonce, tsa, extensions) is not
// read. The OCTET STRING must hold the TSTInfo alone; a wrong tag is kBadTag,
// a cut element kEnd, anything else malformed (another version, an invalid
// identifier) kCorrupt.
der::Result<TstInfo> DecodeTstInfo(ByteView content);

// genTime's text as 100-ns ticks since 1601-01-01 UTC: YYYYMMDDhhmmss, then
// optionally "." and at least one digit (the fraction, truncated to 100 ns,
// trailing zeros allowed), then "Z". kCorrupt for anything else: no "Z", a
// comma, no seconds, an empty fraction, second 60, an impossible date, a year
// before 1601.
der::Result<std::uint64_t> GenTimeTicks(ByteView text);

}  // namespace veltrano::tst
