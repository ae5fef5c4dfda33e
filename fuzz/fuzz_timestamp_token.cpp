// A signed message as the inspector opens an RFC 3161 timestamp token or a
// nested signature: CryptMsgOpenToDecode and CryptMsgUpdate, the content
// parameters and signer 0's information, then the TSTInfo reader and genTime
// over the content. The input is the message's encoding.
#include <cstddef>
#include <cstdint>

#include "fuzz/Touch.h"
#include "platform/signature/TstInfo.h"

namespace {

// A parameter fetched into a block of exactly its size, or null.
unsigned char* Param(HCRYPTMSG msg, DWORD param, DWORD* size) {
  *size = 0;
  if (!CryptMsgGetParam(msg, param, 0, nullptr, size)) return nullptr;
  auto* block = new unsigned char[*size == 0 ? 1 : *size];
  if (!CryptMsgGetParam(msg, param, 0, block, size)) __builtin_trap();
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veltrano;
  HCRYPTMSG msg =
      CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
  if (msg == nullptr) __builtin_trap();
  if (CryptMsgUpdate(msg, data, static_cast<DWORD>(size), TRUE)) {
    DWORD cb = 0;
    if (auto* type = Param(msg, CMSG_INNER_CONTENT_TYPE_PARAM, &cb)) {
      if (cb == 0 || type[cb - 1] != 0) __builtin_trap();
      fuzz::Touch(reinterpret_cast<LPCSTR>(type));
      delete[] type;
    }
    DWORD signers = 0;
    cb = sizeof signers;
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &cb)) __builtin_trap();
    if (auto* signer = Param(msg, CMSG_SIGNER_INFO_PARAM, &cb)) {
      fuzz::Touch(*reinterpret_cast<const CMSG_SIGNER_INFO*>(signer));
      delete[] signer;
    }
    if (auto* content = Param(msg, CMSG_CONTENT_PARAM, &cb)) {
      if (const auto info = tst::DecodeTstInfo(ByteView(content, cb))) {
        fuzz::Touch(info->imprint.data(), info->imprint.size());
        tst::GenTimeTicks(info->genTime);
      }
      delete[] content;
    }
  }
  if (!CryptMsgClose(msg)) __builtin_trap();
  return 0;
}
