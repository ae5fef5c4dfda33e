// The CryptoAPI calls the program makes: the embedded-signature query, the
// signer information of the decoded message, and the three structure
// decodes of the inspector. Results follow the platform's protocol: a size
// query (no buffer) reports the bytes needed; a fetch fills one caller block
// that holds the structure and everything it points to.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "platform/signature/DescriptorSource.h"
#include "platform/signature/Pkcs7.h"
#include "platform/signature/ScriptSignature.h"
#include "platform/signature/SignatureLocator.h"
#include "platform/standin/CryptMessage.h"
#include "platform/standin/EntryContext.h"
#include "platform/standin/Handles.h"
#include "platform/standin/PathAt.h"
#include "platform/standin/PlacedStructures.h"
#include "platform/standin/PosixError.h"
#include "platform/standin/UniqueFd.h"

namespace {

using veltrano::ByteView;
using veltrano::HandleKind;
namespace der = veltrano::der;
namespace pkcs7 = veltrano::pkcs7;

constexpr DWORD kCertEncodingMask = 0x0000FFFF;

using Message = veltrano::CryptMessage;

// The store behind an HCERTSTORE. The program only closes it, so it holds
// nothing of its own: the certificates stay where they are, in the message.
struct Store {};

DWORD CodeOf(der::Error error) {
  switch (error) {
    case der::Error::kBadTag:
      return static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
    case der::Error::kEnd:
      return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
    case der::Error::kCorrupt:
      break;
  }
  return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
}

// Sets the last-error code (a Win32 code or an HRESULT) and returns FALSE.
BOOL Fail(long long code) {
  SetLastError(static_cast<DWORD>(code));
  return FALSE;
}
// The same for an open: no descriptor.
veltrano::UniqueFd Failed(long long code) {
  SetLastError(static_cast<DWORD>(code));
  return veltrano::UniqueFd();
}

enum class StructType { kUnknown, kSignerInfo, kOpusInfo, kSigningTime };

StructType StructTypeOf(LPCSTR lpszStructType) {
  // Types below 0x10000 are integers passed in the pointer; only larger
  // values are texts that may be read.
  const auto value = reinterpret_cast<ULONG_PTR>(lpszStructType);
  if (value <= 0xFFFF) {
    return value == reinterpret_cast<ULONG_PTR>(PKCS7_SIGNER_INFO) ? StructType::kSignerInfo
                                                                   : StructType::kUnknown;
  }
  if (std::strcmp(lpszStructType, SPC_SP_OPUS_INFO_OBJID) == 0) return StructType::kOpusInfo;
  if (std::strcmp(lpszStructType, szOID_RSA_signingTime) == 0) return StructType::kSigningTime;
  return StructType::kUnknown;
}

// Opens the regular file `path` names for reading, with its status in `st`;
// nothing, with the last error set, for anything else. Only a regular file is
// opened: its type is known before the open, so no FIFO, socket or device is
// opened as such (which could release a writer waiting on a FIFO, or start a
// device). The status is the one the search has just read for this entry when
// it was (the listed entry, EntryContext.h), and is read here otherwise. An
// entry that is swapped for something else in the instant between that
// status and the open can still be opened: the open is non-blocking, a link
// in the place of a listed entry is not followed, and a FIFO opened so is
// never read (pread refuses one). No open flag keeps a FIFO's open
// from releasing a writer waiting on it; only opening the entry as a path
// first and reopening that very file through /proc would, at two more system
// calls per entry. O_NOATIME keeps the read from touching the access time
// where the system allows it (to the owner).
veltrano::UniqueFd OpenRegularFile(const std::string& path, struct stat& st) {
  std::optional<veltrano::PathAt> at;
  int dir = AT_FDCWD;
  const char* name = nullptr;
  int noFollow = 0;
  if (const auto listed = veltrano::EntryContext::OfThisThread().TakeListed(path)) {
    dir = listed->dirFd;
    name = listed->name;
    st = listed->st;
    noFollow = O_NOFOLLOW;
  } else {
    at.emplace(path);
    if (at->error() != 0) return Failed(veltrano::OpenErrorFromErrno(at->error(), path));
    dir = at->dir();
    name = at->name();
    if (::fstatat(dir, name, &st, 0) != 0) return Failed(veltrano::OpenErrorFromErrno(errno, path));
  }
  if (S_ISDIR(st.st_mode)) return Failed(ERROR_ACCESS_DENIED);
  if (!S_ISREG(st.st_mode)) return Failed(CRYPT_E_NO_MATCH);
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | noFollow |
                    (veltrano::MayActAsOwner(st) ? O_NOATIME : 0);
  veltrano::UniqueFd file(::openat(dir, name, flags));
  if (!file && errno == EPERM) file.reset(::openat(dir, name, flags & ~O_NOATIME));
  if (!file) return Failed(veltrano::OpenErrorFromErrno(errno, path));
  return file;
}

// Decodes `encoded` as a T and delivers it placed. The decode of the size
// query is kept for the fetch that follows (EntryContext.h) when the input is
// small enough to keep a copy of; a larger one is decoded again instead.
template <typename T, typename Decode, typename Place, typename RebaseBlock>
BOOL DecodeAndDeliver(ByteView encoded, Decode decode, Place place, RebaseBlock rebase,
                      void* pvStructInfo, DWORD* pcbStructInfo) {
  veltrano::EntryContext& context = veltrano::EntryContext::OfThisThread();
  veltrano::Decoded<T>* kept = context.FindDecoded<T>(encoded);
  std::optional<veltrano::Decoded<T>> unkept;
  if (kept == nullptr) {
    auto value = decode(encoded);
    if (!value) return Fail(CodeOf(value.error()));
    kept = veltrano::EntryContext::Keeps(encoded)
               ? &context.KeepDecoded(encoded, std::move(*value))
               : &unkept.emplace(veltrano::Decoded<T>{std::move(*value), {}});
  }
  const T& value = kept->value;
  return veltrano::DeliverPlaced([&](veltrano::FlatBlock& block) { place(block, value); }, rebase,
                                 pvStructInfo, pcbStructInfo, &kept->placement);
}

}  // namespace

BOOL CryptQueryObject(DWORD dwObjectType, const void* pvObject, DWORD dwExpectedContentTypeFlags,
                      DWORD dwExpectedFormatTypeFlags, DWORD /*dwFlags*/,
                      DWORD* pdwMsgAndCertEncodingType, DWORD* pdwContentType, DWORD* pdwFormatType,
                      HCERTSTORE* phCertStore, HCRYPTMSG* phMsg, const void** ppvContext) try {
  if (pvObject == nullptr) return Fail(E_INVALIDARG);
  if (dwObjectType != CERT_QUERY_OBJECT_FILE && dwObjectType != CERT_QUERY_OBJECT_BLOB) {
    return Fail(E_INVALIDARG);
  }
  // Only a signature embedded in a file, in binary form, is looked for.
  if (dwObjectType != CERT_QUERY_OBJECT_FILE ||
      (dwExpectedContentTypeFlags & CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED) == 0 ||
      (dwExpectedFormatTypeFlags & CERT_QUERY_FORMAT_FLAG_BINARY) == 0) {
    return Fail(CRYPT_E_NO_MATCH);
  }

  const std::wstring_view widePath(static_cast<LPCWSTR>(pvObject));
  const auto path = veltrano::BytesFromWide(widePath);
  if (!path) return Fail(ERROR_INVALID_NAME);
  if (path->empty()) return Fail(ERROR_PATH_NOT_FOUND);

  struct stat st {};
  veltrano::UniqueFd file = OpenRegularFile(*path, st);
  if (!file) return FALSE;

  const veltrano::DescriptorSource source(file.get(), static_cast<std::uint64_t>(st.st_size));
  auto signature = veltrano::LocateEmbeddedSignature(source, widePath);
  if (!signature) {
    // A script too large to read says so instead of looking unsigned.
    return Fail(veltrano::IsOversizedScript(source, widePath) ? ERROR_FILE_TOO_LARGE
                                                              : CRYPT_E_NO_MATCH);
  }

  auto message = std::make_unique<Message>();
  message->bytes = std::move(*signature);
  auto decoded = pkcs7::DecodeSignedData(ByteView(message->bytes));
  if (!decoded) return Fail(CRYPT_E_NO_MATCH);
  message->data = std::move(*decoded);

  if (pdwMsgAndCertEncodingType != nullptr) {
    *pdwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  }
  if (pdwContentType != nullptr) *pdwContentType = CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED;
  if (pdwFormatType != nullptr) *pdwFormatType = CERT_QUERY_FORMAT_BINARY;
  if (ppvContext != nullptr) *ppvContext = nullptr;
  if (phCertStore != nullptr) {
    auto* store = new Store;
    veltrano::RegisterHandle(store, HandleKind::kCertStore);
    *phCertStore = store;
  }
  if (phMsg != nullptr) {
    message->file = veltrano::HeldFile{std::move(file), std::move(*path)};
    veltrano::EntryContext::OfThisThread().Queried(
        veltrano::RegisterHandle(message.get(), HandleKind::kCryptMsg), message->file);
    *phMsg = message.release();
  }
  return TRUE;
} catch (const std::bad_alloc&) {
  // Memory for this file's signature ran out: the file is not read, the
  // caller goes on.
  return Fail(E_OUTOFMEMORY);
}

BOOL CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                      DWORD* pcbData) {
  if (!veltrano::IsLiveHandle(hCryptMsg, HandleKind::kCryptMsg) || pcbData == nullptr) {
    return Fail(E_INVALIDARG);
  }
  auto* message = static_cast<Message*>(hCryptMsg);
  switch (dwParamType) {
    case CMSG_SIGNER_INFO_PARAM: {
      if (dwIndex >= message->data.signerCount) return Fail(CRYPT_E_INVALID_INDEX);
      const pkcs7::SignerInfo si = pkcs7::SignerAt(message->data, dwIndex);
      if (message->placedSigner != dwIndex) message->signerPlacement = veltrano::Placement{};
      message->placedSigner = dwIndex;
      return veltrano::DeliverPlaced(
          [&si](veltrano::FlatBlock& block) { veltrano::PlaceSignerInfo(block, si); },
          veltrano::RebaseSignerInfo, pvData, pcbData, &message->signerPlacement);
    }
    default:
      return veltrano::GetContentParam(*message, dwParamType, pvData, pcbData);
  }
}

BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD /*dwFlags*/, void* pvStructInfo,
                       DWORD* pcbStructInfo) try {
  if (pcbStructInfo == nullptr) return Fail(E_INVALIDARG);
  // No decoder is installed for other encodings or types; the platform
  // reports the failed lookup of one as ERROR_FILE_NOT_FOUND.
  const StructType type = StructTypeOf(lpszStructType);
  if ((dwCertEncodingType & kCertEncodingMask) != X509_ASN_ENCODING ||
      type == StructType::kUnknown) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  if (cbEncoded == 0) return Fail(CRYPT_E_ASN1_EOD);
  if (pbEncoded == nullptr) return Fail(E_INVALIDARG);
  const ByteView encoded(pbEncoded, cbEncoded);

  switch (type) {
    case StructType::kSignerInfo:
      return DecodeAndDeliver<pkcs7::SignerInfo>(
          encoded, [](ByteView in) { return pkcs7::DecodeSignerInfo(in); },
          veltrano::PlaceSignerInfo, veltrano::RebaseSignerInfo, pvStructInfo, pcbStructInfo);
    case StructType::kOpusInfo:
      return DecodeAndDeliver<pkcs7::OpusInfo>(encoded, pkcs7::DecodeOpusInfo,
                                               veltrano::PlaceOpusInfo, veltrano::RebaseOpusInfo,
                                               pvStructInfo, pcbStructInfo);
    case StructType::kSigningTime: {
      const auto ticks = pkcs7::DecodeUtcTime(encoded);
      if (!ticks) return Fail(CodeOf(ticks.error()));
      const FILETIME ft = veltrano::FileTimeOf(*ticks);
      return veltrano::Deliver(
          sizeof ft, [&ft](std::uint8_t* to) { std::memcpy(to, &ft, sizeof ft); }, pvStructInfo,
          pcbStructInfo);
    }
    case StructType::kUnknown:
      break;
  }
  return Fail(ERROR_FILE_NOT_FOUND);
} catch (const std::bad_alloc&) {
  return Fail(E_OUTOFMEMORY);
}

BOOL CryptMsgClose(HCRYPTMSG hCryptMsg) {
  if (hCryptMsg == nullptr) return TRUE;
  if (!veltrano::UnregisterHandle(hCryptMsg, HandleKind::kCryptMsg)) return Fail(E_INVALIDARG);
  veltrano::EntryContext::OfThisThread().Forget(hCryptMsg);
  delete static_cast<Message*>(hCryptMsg);
  return TRUE;
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD /*dwFlags*/) {
  if (hCertStore == nullptr) return TRUE;
  if (!veltrano::UnregisterHandle(hCertStore, HandleKind::kCertStore)) return Fail(E_INVALIDARG);
  delete static_cast<Store*>(hCertStore);
  return TRUE;
}
