// A signed message opened for decoding and fed its bytes (CryptMsgOpenToDecode,
// CryptMsgUpdate), and the content parameters of any message: how the
// inspector opens an RFC 3161 timestamp token or a nested signature, which
// sit inside the signature the query has read. Only signed messages are
// decoded, and, as without streaming on the platform, in one final update.
#include <cstring>
#include <memory>
#include <string>

#include "platform/standin/CryptMessage.h"
#include "platform/standin/FlatBlock.h"
#include "platform/standin/Handles.h"

namespace veltrano {
namespace {

constexpr DWORD kMsgEncodingMask = 0xFFFF0000;
constexpr char kDataOid[] = "1.2.840.113549.1.7.1";

BOOL Fail(long long code) {
  SetLastError(static_cast<DWORD>(code));
  return FALSE;
}

// The inner content as the platform gives it: data's octets unwrapped, any
// other type's element whole, its OCTET STRING header included.
ByteView ContentOf(const pkcs7::SignedData& data) {
  if (der::OidTextEquals(data.contentType, kDataOid)) {
    der::Reader r(data.content);
    if (const auto octets = r.Expect(der::tag::kOctetString)) return octets->content;
  }
  return data.content;
}

}  // namespace

BOOL GetContentParam(const CryptMessage& message, DWORD dwParamType, void* pvData, DWORD* pcbData) {
  const pkcs7::SignedData& data = message.data;
  // A message that has not been decoded has no content yet.
  if (data.contentType.empty() && dwParamType != CMSG_SIGNER_COUNT_PARAM) {
    return Fail(CRYPT_E_INVALID_MSG_TYPE);
  }
  switch (dwParamType) {
    case CMSG_CONTENT_PARAM: {
      const ByteView content = ContentOf(data);
      if (content.size() > 0xFFFFFFFFu) return Fail(CRYPT_E_ASN1_LARGE);
      return Deliver(
          content.size(),
          [&content](std::uint8_t* p) {
            if (!content.empty()) std::memcpy(p, content.data(), content.size());
          },
          pvData, pcbData);
    }
    case CMSG_INNER_CONTENT_TYPE_PARAM:
      return Deliver(
          der::WriteOidText(data.contentType, nullptr) + 1,
          [&data](std::uint8_t* p) {
            auto* text = reinterpret_cast<char*>(p);
            text[der::WriteOidText(data.contentType, text)] = '\0';
          },
          pvData, pcbData);
    case CMSG_SIGNER_COUNT_PARAM: {
      const auto count = static_cast<DWORD>(data.signerCount);
      return Deliver(
          sizeof count, [count](std::uint8_t* p) { std::memcpy(p, &count, sizeof count); }, pvData,
          pcbData);
    }
    default:
      return Fail(CRYPT_E_INVALID_MSG_TYPE);
  }
}

}  // namespace veltrano

HCRYPTMSG CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD /*dwFlags*/, DWORD dwMsgType,
                               HCRYPTPROV_LEGACY /*hCryptProv*/, PCERT_INFO /*pRecipientInfo*/,
                               PCMSG_STREAM_INFO pStreamInfo) {
  if ((dwMsgEncodingType & veltrano::kMsgEncodingMask) != PKCS_7_ASN_ENCODING ||
      pStreamInfo != nullptr) {
    veltrano::Fail(E_INVALIDARG);
    return nullptr;
  }
  if (dwMsgType != 0 && dwMsgType != CMSG_SIGNED) {
    veltrano::Fail(CRYPT_E_INVALID_MSG_TYPE);
    return nullptr;
  }
  auto message = std::make_unique<veltrano::CryptMessage>();
  message->awaitingBytes = true;
  veltrano::RegisterHandle(message.get(), veltrano::HandleKind::kCryptMsg);
  return message.release();
}

BOOL CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal) {
  using veltrano::Fail;
  if (!veltrano::IsLiveHandle(hCryptMsg, veltrano::HandleKind::kCryptMsg) ||
      (pbData == nullptr && cbData != 0)) {
    return Fail(E_INVALIDARG);
  }
  auto& message = *static_cast<veltrano::CryptMessage*>(hCryptMsg);
  if (!message.awaitingBytes || !fFinal) return Fail(CRYPT_E_MSG_ERROR);
  message.awaitingBytes = false;
  if (cbData != 0) message.bytes.assign(pbData, pbData + cbData);
  auto decoded = veltrano::pkcs7::DecodeSignedData(veltrano::ByteView(message.bytes));
  if (!decoded) return Fail(veltrano::der::PlatformCode(decoded.error()));
  message.data = std::move(*decoded);
  return TRUE;
}
