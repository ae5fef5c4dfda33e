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

// Places a structure and the data it points to in one block. Run once
// without a block to measure, then again over the caller's block to write:
// both runs take the same pieces in the same order, so they agree on every
// offset. Every piece starts at a multiple of 8 from the block's start.
class FlatBlock {
 public:
  explicit FlatBlock(std::uint8_t* base) : base_(base) {}

  std::size_t size() const { return used_; }

  template <typename T>
  T* Take(std::size_t count = 1) {
    return static_cast<T*>(Reserve(sizeof(T) * count));
  }

  CRYPTOAPI_BLOB Blob(ByteView bytes) {
    auto* p = static_cast<BYTE*>(Reserve(bytes.size()));
    if (p != nullptr && !bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    return CRYPTOAPI_BLOB{static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : p};
  }

  // The bytes in reverse order (INTEGER content to little-endian).
  CRYPTOAPI_BLOB ReversedBlob(ByteView bytes) {
    auto* p = static_cast<BYTE*>(Reserve(bytes.size()));
    if (p != nullptr) {
      for (std::size_t i = 0; i < bytes.size(); ++i) p[i] = bytes.data()[bytes.size() - 1 - i];
    }
    return CRYPTOAPI_BLOB{static_cast<DWORD>(bytes.size()), bytes.empty() ? nullptr : p};
  }

  LPSTR Text(const std::string& text) {
    auto* p = static_cast<char*>(Reserve(text.size() + 1));
    if (p != nullptr) std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
  }

  // The dotted text of an identifier's (checked) content, written straight
  // into place: the block's room for it was measured by the same call.
  LPSTR OidText(ByteView content) {
    auto* p = static_cast<char*>(Reserve(0));
    const std::size_t length = der::WriteOidText(content, p);
    if (p != nullptr) p[length] = '\0';
    used_ += length + 1;
    return p;
  }

  // The text as wide characters with a terminator, converted straight into
  // place (measured by counting them).
  LPWSTR Text(const pkcs7::Text& text) {
    std::size_t length = 0;
    pkcs7::ForEachWideChar(text, [&length](wchar_t) { ++length; });
    auto* p = static_cast<wchar_t*>(Reserve((length + 1) * sizeof(wchar_t)));
    if (p == nullptr) return nullptr;
    wchar_t* out = p;
    pkcs7::ForEachWideChar(text, [&out](wchar_t c) { *out++ = c; });
    *out = L'\0';
    return p;
  }

 private:
  void* Reserve(std::size_t bytes) {
    used_ = (used_ + 7) & ~static_cast<std::size_t>(7);
    void* p = base_ == nullptr ? nullptr : base_ + used_;
    used_ += bytes;
    return p;
  }

  std::uint8_t* base_;
  std::size_t used_ = 0;
};

CRYPT_ALGORITHM_IDENTIFIER PlaceAlgorithm(FlatBlock& block, const pkcs7::Algorithm& alg) {
  CRYPT_ALGORITHM_IDENTIFIER out{};
  out.pszObjId = block.OidText(alg.oid);
  out.Parameters = block.Blob(alg.parameters);
  return out;
}

CRYPT_ATTRIBUTES PlaceAttributes(FlatBlock& block, const pkcs7::AttributeList& attrs) {
  CRYPT_ATTRIBUTES out{static_cast<DWORD>(attrs.count), nullptr};
  if (attrs.count == 0) return out;
  out.rgAttr = block.Take<CRYPT_ATTRIBUTE>(attrs.count);
  std::size_t i = 0;
  pkcs7::ForEachAttribute(attrs, [&](const pkcs7::Attribute& a) {
    CRYPT_ATTRIBUTE attr{};
    attr.pszObjId = block.OidText(a.oid);
    attr.cValue = static_cast<DWORD>(a.valueCount);
    if (a.valueCount != 0) {
      attr.rgValue = block.Take<CRYPT_ATTR_BLOB>(a.valueCount);
      std::size_t v = 0;
      pkcs7::ForEachValue(a, [&](ByteView value) {
        const CRYPT_ATTR_BLOB blob = block.Blob(value);
        if (attr.rgValue != nullptr) attr.rgValue[v] = blob;
        ++v;
      });
    }
    if (out.rgAttr != nullptr) out.rgAttr[i] = attr;
    ++i;
  });
  return out;
}

void PlaceSignerInfo(FlatBlock& block, const pkcs7::SignerInfo& si) {
  auto* info = block.Take<CMSG_SIGNER_INFO>();
  CMSG_SIGNER_INFO out{};
  out.dwVersion = si.version;
  out.Issuer = block.Blob(si.issuer);
  out.SerialNumber = block.ReversedBlob(si.serialNumber);
  out.HashAlgorithm = PlaceAlgorithm(block, si.digestAlgorithm);
  out.HashEncryptionAlgorithm = PlaceAlgorithm(block, si.digestEncryptionAlgorithm);
  out.EncryptedHash = block.Blob(si.encryptedDigest);
  out.AuthAttrs = PlaceAttributes(block, si.authenticatedAttributes);
  out.UnauthAttrs = PlaceAttributes(block, si.unauthenticatedAttributes);
  if (info != nullptr) *info = out;
}

SPC_LINK* PlaceLink(FlatBlock& block, const std::optional<pkcs7::Link>& link) {
  if (!link) return nullptr;
  auto* place = block.Take<SPC_LINK>();
  SPC_LINK out{};
  out.dwLinkChoice = static_cast<DWORD>(link->choice);
  switch (link->choice) {
    case pkcs7::Link::Choice::kUrl:
      out.pwszUrl = block.Text(link->text);
      break;
    case pkcs7::Link::Choice::kFile:
      out.pwszFile = block.Text(link->text);
      break;
    case pkcs7::Link::Choice::kMoniker:
      std::memcpy(out.Moniker.ClassId, link->classId.data(), sizeof(out.Moniker.ClassId));
      out.Moniker.SerializedData = block.Blob(link->serializedData);
      break;
  }
  if (place != nullptr) *place = out;
  return place;
}

void PlaceOpusInfo(FlatBlock& block, const pkcs7::OpusInfo& opus) {
  auto* info = block.Take<SPC_SP_OPUS_INFO>();
  SPC_SP_OPUS_INFO out{};
  if (opus.programName) out.pwszProgramName = block.Text(*opus.programName);
  out.pMoreInfo = PlaceLink(block, opus.moreInfo);
  out.pPublisherInfo = PlaceLink(block, opus.publisherInfo);
  if (info != nullptr) *info = out;
}

// Size query or fetch for a structure placed by `place`: with no buffer,
// reports the size; with one too small, ERROR_MORE_DATA and the size.
// `knownSize`, when given, keeps the size once measured (0: not yet).
template <typename Place>
BOOL Deliver(Place place, void* pvData, DWORD* pcbData, std::size_t* knownSize = nullptr) {
  std::size_t size = knownSize != nullptr ? *knownSize : 0;
  if (size == 0) {
    FlatBlock measure(nullptr);
    place(measure);
    size = measure.size();
    if (knownSize != nullptr) *knownSize = size;
  }
  if (size > std::numeric_limits<DWORD>::max()) {
    return Fail(CRYPT_E_ASN1_LARGE);
  }
  const auto needed = static_cast<DWORD>(size);
  if (pvData == nullptr) {
    *pcbData = needed;
    return TRUE;
  }
  if (*pcbData < needed) {
    *pcbData = needed;
    return Fail(ERROR_MORE_DATA);
  }
  FlatBlock write(static_cast<std::uint8_t*>(pvData));
  place(write);
  *pcbData = needed;
  return TRUE;
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
template <typename T, typename Decode, typename Place>
BOOL DecodeAndDeliver(ByteView encoded, Decode decode, Place place, void* pvStructInfo,
                      DWORD* pcbStructInfo) {
  veltrano::EntryContext& context = veltrano::EntryContext::OfThisThread();
  veltrano::Decoded<T>* kept = context.FindDecoded<T>(encoded);
  std::optional<veltrano::Decoded<T>> unkept;
  if (kept == nullptr) {
    auto value = decode(encoded);
    if (!value) return Fail(CodeOf(value.error()));
    kept = veltrano::EntryContext::Keeps(encoded)
               ? &context.KeepDecoded(encoded, std::move(*value))
               : &unkept.emplace(veltrano::Decoded<T>{std::move(*value)});
  }
  const T& value = kept->value;
  return Deliver([&](FlatBlock& block) { place(block, value); }, pvStructInfo, pcbStructInfo,
                 &kept->placedSize);
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
    message->file = veltrano::HeldFile{std::move(file), std::move(*path), st};
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
      if (message->measuredSigner != dwIndex) message->measuredSize = 0;
      message->measuredSigner = dwIndex;
      return Deliver([&si](FlatBlock& block) { PlaceSignerInfo(block, si); }, pvData, pcbData,
                     &message->measuredSize);
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
          [](FlatBlock& block, const pkcs7::SignerInfo& si) { PlaceSignerInfo(block, si); },
          pvStructInfo, pcbStructInfo);
    case StructType::kOpusInfo:
      return DecodeAndDeliver<pkcs7::OpusInfo>(
          encoded, pkcs7::DecodeOpusInfo,
          [](FlatBlock& block, const pkcs7::OpusInfo& opus) { PlaceOpusInfo(block, opus); },
          pvStructInfo, pcbStructInfo);
    case StructType::kSigningTime: {
      const auto ticks = pkcs7::DecodeUtcTime(encoded);
      if (!ticks) return Fail(CodeOf(ticks.error()));
      const FILETIME ft = veltrano::FileTimeOf(*ticks);
      return Deliver(
          [&ft](FlatBlock& block) {
            if (auto* p = block.Take<FILETIME>()) std::memcpy(p, &ft, sizeof ft);
          },
          pvStructInfo, pcbStructInfo);
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
