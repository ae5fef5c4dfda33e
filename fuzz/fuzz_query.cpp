// The whole query chain on a file with arbitrary content: CryptQueryObject,
// signer 0's information, then the decodes the inspector makes of its
// attributes. The content lives in a memory file reached by its /proc path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Touch.h"
#include "platform/WideText.h"

namespace {

const CRYPT_ATTR_BLOB* FirstValue(const CRYPT_ATTRIBUTES& attrs, LPCSTR oid) {
  for (DWORD i = 0; i < attrs.cAttr; ++i) {
    if (lstrcmpA(attrs.rgAttr[i].pszObjId, oid) == 0) {
      return attrs.rgAttr[i].cValue ? &attrs.rgAttr[i].rgValue[0] : nullptr;
    }
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veltrano::fuzz;
  static const int fd = memfd_create("veltrano-fuzz", MFD_CLOEXEC);
  static const std::wstring path = veltrano::WideFromBytes("/proc/self/fd/" + std::to_string(fd));
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    __builtin_trap();
  }

  HCERTSTORE store = nullptr;
  HCRYPTMSG msg = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, nullptr, nullptr, nullptr, &store, &msg, nullptr)) {
    return 0;
  }
  DWORD needed = 0;
  if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &needed)) {
    auto* block = new unsigned char[needed];
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, block, &needed)) __builtin_trap();
    const auto& si = *reinterpret_cast<const CMSG_SIGNER_INFO*>(block);
    Touch(si);
    if (const auto* opus = FirstValue(si.AuthAttrs, SPC_SP_OPUS_INFO_OBJID)) {
      if (auto* decoded = DecodeExact(SPC_SP_OPUS_INFO_OBJID, opus->pbData, opus->cbData)) {
        Touch(*reinterpret_cast<const SPC_SP_OPUS_INFO*>(decoded));
        delete[] decoded;
      }
    }
    if (const auto* counter = FirstValue(si.UnauthAttrs, szOID_RSA_counterSign)) {
      if (auto* decoded = DecodeExact(PKCS7_SIGNER_INFO, counter->pbData, counter->cbData)) {
        const auto& cs = *reinterpret_cast<const CMSG_SIGNER_INFO*>(decoded);
        Touch(cs);
        if (const auto* time = FirstValue(cs.AuthAttrs, szOID_RSA_signingTime)) {
          FILETIME ft{};
          DWORD cb = sizeof ft;
          CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, szOID_RSA_signingTime,
                            time->pbData, time->cbData, 0, &ft, &cb);
        }
        delete[] decoded;
      }
    }
    delete[] block;
  }
  if (!CryptMsgClose(msg) || !CertCloseStore(store, 0)) __builtin_trap();
  return 0;
}
