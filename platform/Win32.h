// The one header through which the program reaches the Windows API.
//
// On Windows it includes the real SDK headers. Elsewhere it declares the
// stand-in: the same names, signatures, constants and structure layouts as
// the published headers, for exactly the subset the program calls. Wide text
// is wchar_t throughout (32-bit on Linux, 16-bit on Windows).
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
// Lean: the full <windows.h> brings <winsock.h>, which clashes with the
// <winsock2.h> that wxWidgets includes. <wincrypt.h> and <wintrust.h> need
// <windows.h> first.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <wincrypt.h>
#include <wintrust.h>

#include <ctime>

// MinGW-w64's winerror.h lacks this code (681: the open stopped at a link).
#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681L
#endif

#else  // !_WIN32

#include <cstddef>
#include <cstdint>
#include <ctime>

// ---------------------------------------------------------------------------
// Basic types (windef.h, winnt.h)

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HRESULT = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using HANDLE = void*;
using PVOID = void*;
using errno_t = int;
using __time64_t = std::int64_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

// ---------------------------------------------------------------------------
// Error codes (winerror.h)

#define ERROR_SUCCESS 0UL
#define ERROR_FILE_NOT_FOUND 2UL
#define ERROR_PATH_NOT_FOUND 3UL
#define ERROR_TOO_MANY_OPEN_FILES 4UL
#define ERROR_ACCESS_DENIED 5UL
#define ERROR_INVALID_HANDLE 6UL
#define ERROR_NOT_ENOUGH_MEMORY 8UL
#define ERROR_INVALID_DATA 13UL
#define ERROR_NO_MORE_FILES 18UL
#define ERROR_WRITE_PROTECT 19UL
#define ERROR_GEN_FAILURE 31UL
#define ERROR_SHARING_VIOLATION 32UL
#define ERROR_NOT_SUPPORTED 50UL
#define ERROR_INVALID_PARAMETER 87UL
#define ERROR_INVALID_NAME 123UL
#define ERROR_FILENAME_EXCED_RANGE 206UL
#define ERROR_FILE_TOO_LARGE 223UL
#define ERROR_MORE_DATA 234UL
#define ERROR_STOPPED_ON_SYMLINK 681UL
#define ERROR_CANT_RESOLVE_FILENAME 1921UL

#define S_OK (static_cast<HRESULT>(0x00000000L))
#define E_FAIL (static_cast<HRESULT>(0x80004005L))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057L))
#define E_OUTOFMEMORY (static_cast<HRESULT>(0x8007000EL))

#define NTE_BAD_ALGID (static_cast<HRESULT>(0x80090008L))
#define CRYPT_E_MSG_ERROR (static_cast<HRESULT>(0x80091001L))
#define CRYPT_E_UNKNOWN_ALGO (static_cast<HRESULT>(0x80091002L))
#define CRYPT_E_INVALID_MSG_TYPE (static_cast<HRESULT>(0x80091004L))
#define CRYPT_E_HASH_VALUE (static_cast<HRESULT>(0x80091007L))
#define CRYPT_E_INVALID_INDEX (static_cast<HRESULT>(0x80091008L))
#define CRYPT_E_NO_MATCH (static_cast<HRESULT>(0x80092009L))
#define CRYPT_E_BAD_MSG (static_cast<HRESULT>(0x8009200DL))
#define CRYPT_E_ASN1_EOD (static_cast<HRESULT>(0x80093102L))
#define CRYPT_E_ASN1_CORRUPT (static_cast<HRESULT>(0x80093103L))
#define CRYPT_E_ASN1_LARGE (static_cast<HRESULT>(0x80093104L))
#define CRYPT_E_ASN1_BADTAG (static_cast<HRESULT>(0x8009310BL))
#define CRYPT_E_ASN1_MEMORY (static_cast<HRESULT>(0x80093106L))
#define CRYPT_E_OSS_ERROR (static_cast<HRESULT>(0x80093000L))

// ---------------------------------------------------------------------------
// Files (minwinbase.h, fileapi.h, handleapi.h, errhandlingapi.h, winbase.h)

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;
using LPFILETIME = FILETIME*;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
using LPSYSTEMTIME = SYSTEMTIME*;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

#define FILE_ATTRIBUTE_READONLY 0x00000001UL
#define FILE_ATTRIBUTE_HIDDEN 0x00000002UL
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010UL
#define FILE_ATTRIBUTE_NORMAL 0x00000080UL
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400UL

// A search record's dwReserved0 holds the reparse tag of a reparse point.
// Name surrogates (links and junctions) name another file; others (cloud
// placeholders, deduplicated files) are the file itself.
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003UL
#define IO_REPARSE_TAG_SYMLINK 0xA000000CUL
#define IsReparseTagNameSurrogate(_tag) (((_tag)&0x20000000))

#define FILE_READ_ATTRIBUTES 0x0080UL
#define FILE_WRITE_ATTRIBUTES 0x0100UL
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL

#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define FILE_SHARE_DELETE 0x00000004UL

#define CREATE_NEW 1UL
#define CREATE_ALWAYS 2UL
#define OPEN_EXISTING 3UL
#define OPEN_ALWAYS 4UL
#define TRUNCATE_EXISTING 5UL

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime);
BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime);
BOOL CloseHandle(HANDLE hObject);

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

int lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// ---------------------------------------------------------------------------
// Time (timezoneapi.h) and the C runtime's 64-bit time functions

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);

__time64_t _mktime64(struct tm* timeptr);
errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime);

// ---------------------------------------------------------------------------
// CryptoAPI (wincrypt.h)

using HCERTSTORE = void*;
using HCRYPTMSG = void*;
using HCRYPTPROV_LEGACY = ULONG_PTR;
// Passed as null only.
struct CERT_INFO;
using PCERT_INFO = CERT_INFO*;
struct CMSG_STREAM_INFO;
using PCMSG_STREAM_INFO = CMSG_STREAM_INFO*;

struct CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_UINT_BLOB = CRYPTOAPI_BLOB;
using CRYPT_OBJID_BLOB = CRYPTOAPI_BLOB;
using CERT_NAME_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DATA_BLOB = CRYPTOAPI_BLOB;
using CRYPT_HASH_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_ATTR_BLOB = CRYPTOAPI_BLOB;
using PCRYPT_ATTR_BLOB = CRYPTOAPI_BLOB*;

struct CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;
};

struct CRYPT_ATTRIBUTE {
  LPSTR pszObjId;
  DWORD cValue;
  PCRYPT_ATTR_BLOB rgValue;
};
using PCRYPT_ATTRIBUTE = CRYPT_ATTRIBUTE*;

struct CRYPT_ATTRIBUTES {
  DWORD cAttr;
  PCRYPT_ATTRIBUTE rgAttr;
};
using PCRYPT_ATTRIBUTES = CRYPT_ATTRIBUTES*;

struct CMSG_SIGNER_INFO {
  DWORD dwVersion;
  CERT_NAME_BLOB Issuer;
  CRYPT_INTEGER_BLOB SerialNumber;
  CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
  CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
  CRYPT_DATA_BLOB EncryptedHash;
  CRYPT_ATTRIBUTES AuthAttrs;
  CRYPT_ATTRIBUTES UnauthAttrs;
};
using PCMSG_SIGNER_INFO = CMSG_SIGNER_INFO*;

#define X509_ASN_ENCODING 0x00000001UL
#define PKCS_7_ASN_ENCODING 0x00010000UL

#define CERT_QUERY_OBJECT_FILE 0x00000001UL
#define CERT_QUERY_OBJECT_BLOB 0x00000002UL

#define CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED 10UL
#define CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED (1UL << CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED)

#define CERT_QUERY_FORMAT_BINARY 1UL
#define CERT_QUERY_FORMAT_FLAG_BINARY (1UL << CERT_QUERY_FORMAT_BINARY)

#define CMSG_SIGNED 2UL

#define CMSG_CONTENT_PARAM 2UL
#define CMSG_INNER_CONTENT_TYPE_PARAM 4UL
#define CMSG_SIGNER_COUNT_PARAM 5UL
#define CMSG_SIGNER_INFO_PARAM 6UL

// Structure types below 0x10000 are passed as small integers cast to a pointer.
#define PKCS7_SIGNER_INFO (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(500)))

#define szOID_RSA_signingTime "1.2.840.113549.1.9.5"
#define szOID_RSA_counterSign "1.2.840.113549.1.9.6"
#define szOID_TIMESTAMP_TOKEN "1.2.840.113549.1.9.16.1.4"
#define szOID_RFC3161_counterSign "1.3.6.1.4.1.311.3.3.1"

BOOL CryptQueryObject(DWORD dwObjectType, const void* pvObject, DWORD dwExpectedContentTypeFlags,
                      DWORD dwExpectedFormatTypeFlags, DWORD dwFlags,
                      DWORD* pdwMsgAndCertEncodingType, DWORD* pdwContentType, DWORD* pdwFormatType,
                      HCERTSTORE* phCertStore, HCRYPTMSG* phMsg, const void** ppvContext);
BOOL CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                      DWORD* pcbData);
BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);
BOOL CryptMsgClose(HCRYPTMSG hCryptMsg);
HCRYPTMSG CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                               HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                               PCMSG_STREAM_INFO pStreamInfo);
BOOL CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal);
BOOL CryptHashCertificate2(LPCWSTR pwszCNGHashAlgid, DWORD dwFlags, void* pvReserved,
                           const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                           DWORD* pcbComputedHash);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

// ---------------------------------------------------------------------------
// Authenticode (wintrust.h)

#define SPC_SP_OPUS_INFO_OBJID "1.3.6.1.4.1.311.2.1.12"

#define SPC_URL_LINK_CHOICE 1UL
#define SPC_MONIKER_LINK_CHOICE 2UL
#define SPC_FILE_LINK_CHOICE 3UL

using SPC_UUID = BYTE[16];

struct SPC_SERIALIZED_OBJECT {
  SPC_UUID ClassId;
  CRYPT_DATA_BLOB SerializedData;
};

struct SPC_LINK {
  DWORD dwLinkChoice;
  union {
    LPWSTR pwszUrl;
    SPC_SERIALIZED_OBJECT Moniker;
    LPWSTR pwszFile;
  };
};
using PSPC_LINK = SPC_LINK*;

struct SPC_SP_OPUS_INFO {
  LPCWSTR pwszProgramName;
  SPC_LINK* pMoreInfo;
  SPC_LINK* pPublisherInfo;
};
using PSPC_SP_OPUS_INFO = SPC_SP_OPUS_INFO*;

#endif  // _WIN32
