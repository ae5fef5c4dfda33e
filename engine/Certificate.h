// CCertificate: reads the timestamp of one file's embedded Authenticode
// signature and writes it into the file's last-write time.
//
// One inspector serves one file. Its owner sets m_strFile, issues the
// signature query into m_dwEncoding..m_hMsg, writes the file's header line
// into m_log, then calls ReadSignerInfo, ReadOpusInfo, ReadCounterSignerInfo
// and StampFileTime in that order, stopping at the first that returns FALSE.
// Failed platform calls and failed heap requests are recorded in the log
// "CertificateLog.log", which the inspector keeps open for its whole life
// (until a write to it fails). Each record reaches the file in one write.
#pragma once

#include <optional>
#include <string>

#include "engine/Heap.h"
#include "engine/LogStream.h"
#include "engine/StampJournal.h"
#include "platform/Win32.h"

namespace veltrano::tst {
struct TstInfo;
}

class CCertificate {
 public:
  // Opens the log for appending (unless told not to, as a preview is);
  // every other member starts empty or null.
  explicit CCertificate(bool bOpenLog = true);
  // Closes the log, releases every block, closes the store and message.
  ~CCertificate();

  CCertificate(const CCertificate&) = delete;
  CCertificate& operator=(const CCertificate&) = delete;

  // Fetches signer 0's information from m_hMsg into m_pSignerInfo.
  BOOL ReadSignerInfo();
  // Requires the publisher (opus) attribute among the signer's authenticated
  // attributes and keeps copies of its program name and link texts. FALSE
  // without a record when the attribute is missing.
  BOOL ReadOpusInfo();
  // Decodes the timestamp counter-signature (an unauthenticated attribute)
  // into m_pCounterSignerInfo. FALSE without a record when there is none.
  BOOL ReadCounterSignerInfo();
  // The timestamp the file is stamped with. Without bIncludeRfc3161, or when
  // signer 0 has a legacy counter-signature attribute: ReadCounterSignerInfo,
  // exactly. Otherwise signer 0's RFC 3161 timestamp token, or, when it has
  // none, the earliest timestamp of its nested signatures, into
  // m_ftModernTimestamp (engine/ModernTimestamp.cpp). FALSE when there is
  // none; a record for a token or nested signature that cannot be used.
  BOOL ReadTimestamp(BOOL bIncludeRfc3161);
  // Decodes the counter-signer's signing time (UTC) into *pSigningTime, or
  // gives m_ftModernTimestamp when ReadTimestamp found that. FALSE without a
  // record, and *pSigningTime untouched, when there is none.
  BOOL ReadSigningTime(FILETIME* pSigningTime);
  // Opens m_strFile for attribute writing and sets its last-write time to the
  // signing time; creation and access times and the content stay as they
  // are. Through the same handle it reads the time the file held just before
  // (m_ftOldTime) and the time it holds after (m_ftNewTime), which a file
  // system that cannot store the signing time keeps otherwise: a record says
  // so. FALSE without a record when the file cannot be opened or stamped.
  // With m_bPreview the file is opened and its time read as for a stamp,
  // and nothing is set: m_ftNewTime is the time that would be. With
  // m_pJournal the journal is told before and after the stamp, and a journal
  // that cannot record the stamp prevents it.
  BOOL StampFileTime();
  // Writes an error record with the thread's last-error code, if the log is
  // open.
  void ReportError(LPCWSTR pszMessage, int nSite);

  std::wstring m_strFile;
  DWORD m_dwEncoding = 0;
  DWORD m_dwContentType = 0;
  DWORD m_dwFormatType = 0;
  HCERTSTORE m_hStore = nullptr;
  HCRYPTMSG m_hMsg = nullptr;
  veltrano::HeapPtr<wchar_t> m_pszProgramName;
  veltrano::HeapPtr<wchar_t> m_pszPublisherLink;
  veltrano::HeapPtr<wchar_t> m_pszMoreInfoLink;
  veltrano::HeapPtr<CMSG_SIGNER_INFO> m_pSignerInfo;
  veltrano::HeapPtr<CMSG_SIGNER_INFO> m_pCounterSignerInfo;
  // An RFC 3161 token's genTime or a nested signature's time (UTC, 100 ns).
  std::optional<FILETIME> m_ftModernTimestamp;
  veltrano::LogStream m_log;
  // Set by a StampFileTime that returned nonzero, at full precision (UTC):
  // the last-write time read through the stamping handle just before the
  // stamp, and the time read back after it (none when it could not be read;
  // in a preview, the time that would be asked for).
  FILETIME m_ftOldTime{};
  std::optional<FILETIME> m_ftNewTime;
  bool m_bPreview = false;
  IStampJournal* m_pJournal = nullptr;

 private:
  // A record without a code: the site line and the message alone (a failed
  // heap request, a time read back that differs).
  void ReportMessage(LPCWSTR pszMessage, int nSite);
  // After a stamp: reads the time back into m_ftNewTime through hFile and
  // tells the journal.
  void ReadBack(HANDLE hFile, const FILETIME& signingTime);

  // engine/ModernTimestamp.cpp. Each gives kNone when the attribute it reads
  // is missing, kTime with the time, or kStop when the chain ends there.
  enum class Found { kNone, kTime, kStop };
  struct Sites;
  Found SignerTimestamp(const CMSG_SIGNER_INFO& signer, FILETIME& time);
  Found TokenTimestamp(const CRYPT_ATTRIBUTE& token, const CMSG_SIGNER_INFO& signer,
                       FILETIME& time);
  Found CounterSignatureTime(const CRYPT_ATTRIBUTE& counterSignature, FILETIME& time);
  Found NestedTimestamp(FILETIME& earliest);
  Found NestedSignatureTimestamp(const CRYPT_ATTR_BLOB& nested, FILETIME& time);
  bool ImprintMatches(const veltrano::tst::TstInfo& info, const CMSG_SIGNER_INFO& signer);
  HCRYPTMSG OpenMessage(const CRYPT_ATTR_BLOB& encoded, int nOpenSite, int nUpdateSite);
  veltrano::HeapPtr<BYTE> MessageParam(HCRYPTMSG hMsg, DWORD dwParam, const Sites& sites,
                                       DWORD* pcbData);
  veltrano::HeapPtr<BYTE> Decode(LPCSTR structType, const CRYPT_ATTR_BLOB& value,
                                 const Sites& sites);
  Found Refuse(HRESULT code, LPCWSTR pszMessage, int nSite);
};

// An owned copy of a null-terminated wide text, or null when no heap block
// can be had (or the text is null).
veltrano::HeapPtr<wchar_t> DuplicateWideString(LPCWSTR psz);
