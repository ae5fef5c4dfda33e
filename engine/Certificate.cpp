#include "engine/Certificate.h"

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>

#include "engine/Attributes.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kLogFileName[] = "CertificateLog.log";

using veltrano::FindAttributeValue;

// A number's digits in `base` (10 or 16, lowercase), written to end just
// before `end`; the first digit.
wchar_t* Digits(std::uint32_t value, unsigned base, wchar_t* end) {
  do {
    *--end = L"0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  return end;
}

// Writes a record's first line with its line break: "Certificate[", the site
// in decimal, "]:".
void WriteSiteLine(veltrano::LogStream& log, int nSite) {
  wchar_t text[12];
  wchar_t* const end = std::end(text);
  const auto magnitude = static_cast<std::uint32_t>(nSite < 0 ? -(nSite + 1) + 1u : nSite + 0u);
  wchar_t* first = Digits(magnitude, 10, end);
  if (nSite < 0) *--first = L'-';
  log << L"Certificate[" << std::wstring_view(first, static_cast<std::size_t>(end - first))
      << L"]:\n";
}

// The text of a URL or file link; null for any other choice.
LPCWSTR LinkText(const SPC_LINK* link) {
  if (link == nullptr) return nullptr;
  if (link->dwLinkChoice == SPC_URL_LINK_CHOICE) return link->pwszUrl;
  if (link->dwLinkChoice == SPC_FILE_LINK_CHOICE) return link->pwszFile;
  return nullptr;
}

}  // namespace

veltrano::HeapPtr<wchar_t> DuplicateWideString(LPCWSTR psz) {
  if (psz == nullptr) return nullptr;
  const std::size_t count = std::wcslen(psz);
  std::size_t bytes = std::numeric_limits<std::size_t>::max();
  if (count < bytes / sizeof(wchar_t) - 1) bytes = (count + 1) * sizeof(wchar_t);
  veltrano::HeapPtr<wchar_t> copy(static_cast<wchar_t*>(veltrano::AllocateBlock(bytes)));
  if (copy) std::wmemcpy(copy.get(), psz, count + 1);
  return copy;
}

CCertificate::CCertificate(bool bOpenLog) {
  if (bOpenLog) m_log.open(kLogFileName);
}

CCertificate::~CCertificate() {
  m_log.close();
  m_pSignerInfo.reset();
  m_pCounterSignerInfo.reset();
  m_pszProgramName.reset();
  m_pszPublisherLink.reset();
  m_pszMoreInfoLink.reset();
  CertCloseStore(m_hStore, 0);
  CryptMsgClose(m_hMsg);
}

void CCertificate::ReportError(LPCWSTR pszMessage, int nSite) {
  if (!m_log.is_open()) return;
  // Both lines go out with one flush, so the record reaches the file whole.
  // The code is read only once the message is out.
  WriteSiteLine(m_log, nSite);
  m_log << pszMessage << L"[0x";
  wchar_t code[8];
  const wchar_t* first = Digits(GetLastError(), 16, std::end(code));
  m_log << std::wstring_view(first, static_cast<std::size_t>(std::end(code) - first)) << L"]"
        << std::endl;
}

void CCertificate::ReportMessage(LPCWSTR pszMessage, int nSite) {
  if (!m_log.is_open()) return;
  WriteSiteLine(m_log, nSite);
  m_log << pszMessage << std::endl;
}

BOOL CCertificate::ReadSignerInfo() {
  DWORD cbSignerInfo = 0;
  if (!CryptMsgGetParam(m_hMsg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &cbSignerInfo)) {
    ReportError(L"CryptMsgGetParam failed with ErrorCode", 95);
    return FALSE;
  }
  veltrano::HeapPtr<CMSG_SIGNER_INFO> block(
      static_cast<CMSG_SIGNER_INFO*>(veltrano::AllocateBlock(cbSignerInfo)));
  if (!block) {
    ReportMessage(L"Unable to allocate memory for Signer Info.", 105);
    return FALSE;
  }
  if (!CryptMsgGetParam(m_hMsg, CMSG_SIGNER_INFO_PARAM, 0, block.get(), &cbSignerInfo)) {
    ReportError(L"CryptMsgGetParam failed with ErrorCode", 115);
    return FALSE;
  }
  m_pSignerInfo = std::move(block);
  return TRUE;
}

BOOL CCertificate::ReadOpusInfo() {
  if (!m_pSignerInfo) return FALSE;
  const CRYPT_ATTR_BLOB* value =
      FindAttributeValue(m_pSignerInfo->AuthAttrs, SPC_SP_OPUS_INFO_OBJID);
  if (value == nullptr) return FALSE;

  DWORD cbOpus = 0;
  if (!CryptDecodeObject(kEncoding, SPC_SP_OPUS_INFO_OBJID, value->pbData, value->cbData, 0,
                         nullptr, &cbOpus)) {
    ReportError(L"CryptDecodeObject failed with ErrorCode", 150);
    return FALSE;
  }
  veltrano::HeapPtr<SPC_SP_OPUS_INFO> opus(
      static_cast<SPC_SP_OPUS_INFO*>(veltrano::AllocateBlock(cbOpus)));
  if (!opus) {
    ReportMessage(L"Unable to allocate memory for Publisher Info.", 159);
    return FALSE;
  }
  if (!CryptDecodeObject(kEncoding, SPC_SP_OPUS_INFO_OBJID, value->pbData, value->cbData, 0,
                         opus.get(), &cbOpus)) {
    ReportError(L"CryptDecodeObject failed with ErrorCode", 174);
    return FALSE;
  }

  // A copy that cannot be made stays null; that does not fail the operation.
  m_pszProgramName = DuplicateWideString(opus->pwszProgramName);
  m_pszPublisherLink = DuplicateWideString(LinkText(opus->pPublisherInfo));
  m_pszMoreInfoLink = DuplicateWideString(LinkText(opus->pMoreInfo));
  return TRUE;
}

BOOL CCertificate::ReadCounterSignerInfo() {
  if (!m_pSignerInfo) return FALSE;
  const CRYPT_ATTR_BLOB* value =
      FindAttributeValue(m_pSignerInfo->UnauthAttrs, szOID_RSA_counterSign);
  if (value == nullptr) return FALSE;

  DWORD cbCounterSigner = 0;
  if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value->pbData, value->cbData, 0, nullptr,
                         &cbCounterSigner)) {
    ReportError(L"CryptDecodeObject failed with ErrorCode", 314);
    return FALSE;
  }
  veltrano::HeapPtr<CMSG_SIGNER_INFO> block(
      static_cast<CMSG_SIGNER_INFO*>(veltrano::AllocateBlock(cbCounterSigner)));
  if (!block) {
    ReportMessage(L"Unable to allocate memory for timestamp Info.", 322);
    return FALSE;
  }
  if (!CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value->pbData, value->cbData, 0, block.get(),
                         &cbCounterSigner)) {
    ReportError(L"CryptDecodeObject failed with ErrorCode", 337);
    return FALSE;
  }
  m_pCounterSignerInfo = std::move(block);
  return TRUE;
}

BOOL CCertificate::ReadSigningTime(FILETIME* pSigningTime) {
  if (m_ftModernTimestamp) {
    *pSigningTime = *m_ftModernTimestamp;
    return TRUE;
  }
  if (!m_pCounterSignerInfo) return FALSE;
  const CRYPT_ATTR_BLOB* value =
      FindAttributeValue(m_pCounterSignerInfo->AuthAttrs, szOID_RSA_signingTime);
  if (value == nullptr) return FALSE;

  DWORD cbTime = sizeof(FILETIME);
  if (!CryptDecodeObject(kEncoding, szOID_RSA_signingTime, value->pbData, value->cbData, 0,
                         pSigningTime, &cbTime)) {
    ReportError(L"CryptDecodeObject failed with ErrorCode", 383);
    return FALSE;
  }
  return TRUE;
}

BOOL CCertificate::StampFileTime() {
  // Reading the times back takes the right to read attributes as well.
  HANDLE hFile = CreateFileW(m_strFile.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return FALSE;

  FILETIME signingTime{};
  FILETIME oldTime{};
  // The old time comes from the very file that is stamped, just before.
  BOOL stamped = ReadSigningTime(&signingTime) && GetFileTime(hFile, nullptr, nullptr, &oldTime);
  if (stamped && !m_bPreview) {
    // The journal's line goes out before the file changes, so that a run cut
    // short in between leaves nothing an undo gets wrong.
    if (m_pJournal != nullptr) {
      stamped = m_pJournal->BeforeStamp(m_strFile, veltrano::ExactWriteTime(hFile, oldTime),
                                        veltrano::ExactTimeOf(signingTime));
    }
    stamped = stamped && SetFileTime(hFile, nullptr, nullptr, &signingTime);
  }
  if (stamped) {
    m_ftOldTime = oldTime;
    if (m_bPreview) {
      m_ftNewTime = signingTime;
    } else {
      ReadBack(hFile, signingTime);
    }
  }
  CloseHandle(hFile);
  return stamped;
}

void CCertificate::ReadBack(HANDLE hFile, const FILETIME& signingTime) {
  FILETIME newTime{};
  if (!GetFileTime(hFile, nullptr, nullptr, &newTime)) {
    ReportError(L"GetFileTime failed with ErrorCode", 418);
    return;
  }
  m_ftNewTime = newTime;
  if (m_pJournal != nullptr) {
    m_pJournal->AfterStamp(m_strFile, veltrano::ExactWriteTime(hFile, newTime));
  }
  if (newTime.dwLowDateTime != signingTime.dwLowDateTime ||
      newTime.dwHighDateTime != signingTime.dwHighDateTime) {
    ReportMessage(L"Time read back differs from the signing time.", 420);
  }
}
