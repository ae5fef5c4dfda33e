// The timestamps the opt-in adds to the chain (CCertificate::ReadTimestamp):
// signer 0's RFC 3161 timestamp token, and the timestamps of the signatures
// nested in signer 0. Both sit inside the signature the query has read, so
// nothing more is read from the file.
//
// A token is opened as a signed message with the platform's own calls and
// must hold one signer and a TSTInfo, whose message imprint must equal the
// hash of the encrypted digest of the signer it is attached to (so a token
// copied from another file dates nothing); the TSTInfo itself is read by
// platform/signature/TstInfo on both builds. The TSA's signature and chain
// are not checked. Every failure is the chain's end, with a record in the
// usual two-line form (its sites are listed in README.md).
#include <algorithm>
#include <memory>

#include "engine/Attributes.h"
#include "engine/Certificate.h"
#include "platform/FileTimes.h"
#include "platform/signature/TstInfo.h"

namespace {

using veltrano::FindAttribute;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// A signature nested in a signer's unauthenticated attributes
// (szOID_NESTED_SIGNATURE); one level, at most this many of its values.
constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";
constexpr DWORD kMaxNestedSignatures = 16;

// The imprint's hash algorithms by identifier, under their CNG names.
struct ImprintHash {
  const char* oid;
  LPCWSTR cngName;
};
constexpr ImprintHash kImprintHashes[] = {{"1.3.14.3.2.26", L"SHA1"},
                                          {"2.16.840.1.101.3.4.2.1", L"SHA256"},
                                          {"2.16.840.1.101.3.4.2.2", L"SHA384"},
                                          {"2.16.840.1.101.3.4.2.3", L"SHA512"}};
constexpr DWORD kLargestHash = 64;

struct MessageCloser {
  void operator()(void* hMsg) const { CryptMsgClose(hMsg); }
};
using MessageHandle = std::unique_ptr<void, MessageCloser>;

constexpr wchar_t kGetParamFailed[] = L"CryptMsgGetParam failed with ErrorCode";
constexpr wchar_t kDecodeFailed[] = L"CryptDecodeObject failed with ErrorCode";

}  // namespace

// The sites of a size query, its heap block and its fetch.
struct CCertificate::Sites {
  int size;
  int allocation;
  LPCWSTR allocationMessage;
  int fetch;
};

BOOL CCertificate::ReadTimestamp(BOOL bIncludeRfc3161) {
  if (!bIncludeRfc3161 || !m_pSignerInfo ||
      FindAttribute(m_pSignerInfo->UnauthAttrs, szOID_RSA_counterSign) != nullptr) {
    return ReadCounterSignerInfo();
  }
  FILETIME time{};
  Found found = SignerTimestamp(*m_pSignerInfo, time);
  if (found == Found::kNone) found = NestedTimestamp(time);
  if (found != Found::kTime) return FALSE;
  m_ftModernTimestamp = time;
  return TRUE;
}

CCertificate::Found CCertificate::SignerTimestamp(const CMSG_SIGNER_INFO& signer, FILETIME& time) {
  if (const auto* legacy = FindAttribute(signer.UnauthAttrs, szOID_RSA_counterSign)) {
    return CounterSignatureTime(*legacy, time);
  }
  if (const auto* token = FindAttribute(signer.UnauthAttrs, szOID_RFC3161_counterSign)) {
    return TokenTimestamp(*token, signer, time);
  }
  return Found::kNone;
}

CCertificate::Found CCertificate::TokenTimestamp(const CRYPT_ATTRIBUTE& token,
                                                 const CMSG_SIGNER_INFO& signer, FILETIME& time) {
  if (token.cValue == 0 || token.rgValue == nullptr) return Found::kStop;
  const MessageHandle msg(OpenMessage(token.rgValue[0], 401, 402));
  if (!msg) return Found::kStop;

  constexpr wchar_t kNoMemory[] = L"Unable to allocate memory for timestamp token.";
  DWORD cbType = 0;
  const auto type =
      MessageParam(msg.get(), CMSG_INNER_CONTENT_TYPE_PARAM, {403, 404, kNoMemory, 405}, &cbType);
  if (!type) return Found::kStop;
  if (cbType == 0 || type.get()[cbType - 1] != 0 ||
      lstrcmpA(reinterpret_cast<LPCSTR>(type.get()), szOID_TIMESTAMP_TOKEN) != 0) {
    return Refuse(CRYPT_E_INVALID_MSG_TYPE,
                  L"Timestamp token content type check failed with ErrorCode", 406);
  }
  // RFC 3161: the token holds the TSA's signature alone.
  DWORD signers = 0;
  DWORD cbSigners = sizeof signers;
  if (!CryptMsgGetParam(msg.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &cbSigners)) {
    ReportError(kGetParamFailed, 407);
    return Found::kStop;
  }
  if (signers != 1) {
    return Refuse(CRYPT_E_BAD_MSG, L"Timestamp token signer count check failed with ErrorCode",
                  408);
  }

  DWORD cbContent = 0;
  const auto content =
      MessageParam(msg.get(), CMSG_CONTENT_PARAM, {409, 410, kNoMemory, 411}, &cbContent);
  if (!content) return Found::kStop;
  const auto info = veltrano::tst::DecodeTstInfo(veltrano::ByteView(content.get(), cbContent));
  if (!info) {
    return Refuse(static_cast<HRESULT>(veltrano::der::PlatformCode(info.error())),
                  L"TSTInfo decode failed with ErrorCode", 412);
  }
  if (!ImprintMatches(*info, signer)) return Found::kStop;
  const auto ticks = veltrano::tst::GenTimeTicks(info->genTime);
  if (!ticks) {
    return Refuse(CRYPT_E_ASN1_CORRUPT, L"Timestamp genTime check failed with ErrorCode", 416);
  }
  time = veltrano::FileTimeOf(*ticks);
  return Found::kTime;
}

bool CCertificate::ImprintMatches(const veltrano::tst::TstInfo& info,
                                  const CMSG_SIGNER_INFO& signer) {
  const auto hash = std::find_if(
      std::begin(kImprintHashes), std::end(kImprintHashes), [&info](const ImprintHash& h) {
        return veltrano::der::OidTextEquals(info.imprintAlgorithm, h.oid);
      });
  if (hash == std::end(kImprintHashes)) {
    Refuse(CRYPT_E_UNKNOWN_ALGO, L"Timestamp imprint algorithm check failed with ErrorCode", 413);
    return false;
  }
  BYTE computed[kLargestHash];
  DWORD cbComputed = sizeof computed;
  if (!CryptHashCertificate2(hash->cngName, 0, nullptr, signer.EncryptedHash.pbData,
                             signer.EncryptedHash.cbData, computed, &cbComputed)) {
    ReportError(L"CryptHashCertificate2 failed with ErrorCode", 414);
    return false;
  }
  if (!(veltrano::ByteView(computed, cbComputed) == info.imprint)) {
    Refuse(CRYPT_E_HASH_VALUE, L"Timestamp imprint check failed with ErrorCode", 415);
    return false;
  }
  return true;
}

CCertificate::Found CCertificate::CounterSignatureTime(const CRYPT_ATTRIBUTE& counterSignature,
                                                       FILETIME& time) {
  if (counterSignature.cValue == 0 || counterSignature.rgValue == nullptr) return Found::kStop;
  const auto block = Decode(PKCS7_SIGNER_INFO, counterSignature.rgValue[0],
                            {426, 427, L"Unable to allocate memory for timestamp Info.", 428});
  if (!block) return Found::kStop;
  const auto& counterSigner = *reinterpret_cast<const CMSG_SIGNER_INFO*>(block.get());
  const CRYPT_ATTR_BLOB* value =
      veltrano::FindAttributeValue(counterSigner.AuthAttrs, szOID_RSA_signingTime);
  if (value == nullptr) return Found::kStop;
  DWORD cbTime = sizeof time;
  if (!CryptDecodeObject(kEncoding, szOID_RSA_signingTime, value->pbData, value->cbData, 0, &time,
                         &cbTime)) {
    ReportError(kDecodeFailed, 429);
    return Found::kStop;
  }
  return Found::kTime;
}

CCertificate::Found CCertificate::NestedTimestamp(FILETIME& earliest) {
  const CRYPT_ATTRIBUTE* nested = FindAttribute(m_pSignerInfo->UnauthAttrs, kNestedSignatureOid);
  if (nested == nullptr || nested->rgValue == nullptr) return Found::kNone;
  Found result = Found::kNone;
  for (DWORD i = 0; i < std::min(nested->cValue, kMaxNestedSignatures); ++i) {
    FILETIME time{};
    const Found found = NestedSignatureTimestamp(nested->rgValue[i], time);
    if (found == Found::kStop) return Found::kStop;
    if (found == Found::kTime &&
        (result == Found::kNone || veltrano::TicksOf(time) < veltrano::TicksOf(earliest))) {
      earliest = time;
      result = Found::kTime;
    }
  }
  return result;
}

CCertificate::Found CCertificate::NestedSignatureTimestamp(const CRYPT_ATTR_BLOB& nested,
                                                           FILETIME& time) {
  const MessageHandle msg(OpenMessage(nested, 421, 422));
  if (!msg) return Found::kStop;
  DWORD cbSigner = 0;
  const auto signer = MessageParam(
      msg.get(), CMSG_SIGNER_INFO_PARAM,
      {423, 424, L"Unable to allocate memory for nested Signer Info.", 425}, &cbSigner);
  if (!signer) return Found::kStop;
  // The nested signer's own timestamp, by the rules of signer 0's.
  return SignerTimestamp(*reinterpret_cast<const CMSG_SIGNER_INFO*>(signer.get()), time);
}

HCRYPTMSG CCertificate::OpenMessage(const CRYPT_ATTR_BLOB& encoded, int nOpenSite,
                                    int nUpdateSite) {
  MessageHandle msg(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!msg) {
    ReportError(L"CryptMsgOpenToDecode failed with ErrorCode", nOpenSite);
    return nullptr;
  }
  if (!CryptMsgUpdate(msg.get(), encoded.pbData, encoded.cbData, TRUE)) {
    ReportError(L"CryptMsgUpdate failed with ErrorCode", nUpdateSite);
    return nullptr;
  }
  return msg.release();
}

veltrano::HeapPtr<BYTE> CCertificate::MessageParam(HCRYPTMSG hMsg, DWORD dwParam,
                                                   const Sites& sites, DWORD* pcbData) {
  *pcbData = 0;
  if (!CryptMsgGetParam(hMsg, dwParam, 0, nullptr, pcbData)) {
    ReportError(kGetParamFailed, sites.size);
    return nullptr;
  }
  veltrano::HeapPtr<BYTE> block(static_cast<BYTE*>(veltrano::AllocateBlock(*pcbData)));
  if (!block) {
    ReportMessage(sites.allocationMessage, sites.allocation);
    return nullptr;
  }
  if (!CryptMsgGetParam(hMsg, dwParam, 0, block.get(), pcbData)) {
    ReportError(kGetParamFailed, sites.fetch);
    return nullptr;
  }
  return block;
}

veltrano::HeapPtr<BYTE> CCertificate::Decode(LPCSTR structType, const CRYPT_ATTR_BLOB& value,
                                             const Sites& sites) {
  DWORD cbDecoded = 0;
  if (!CryptDecodeObject(kEncoding, structType, value.pbData, value.cbData, 0, nullptr,
                         &cbDecoded)) {
    ReportError(kDecodeFailed, sites.size);
    return nullptr;
  }
  veltrano::HeapPtr<BYTE> block(static_cast<BYTE*>(veltrano::AllocateBlock(cbDecoded)));
  if (!block) {
    ReportMessage(sites.allocationMessage, sites.allocation);
    return nullptr;
  }
  if (!CryptDecodeObject(kEncoding, structType, value.pbData, value.cbData, 0, block.get(),
                         &cbDecoded)) {
    ReportError(kDecodeFailed, sites.fetch);
    return nullptr;
  }
  return block;
}

CCertificate::Found CCertificate::Refuse(HRESULT code, LPCWSTR pszMessage, int nSite) {
  SetLastError(static_cast<DWORD>(code));
  ReportError(pszMessage, nSite);
  return Found::kStop;
}
