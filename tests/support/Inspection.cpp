#include "tests/support/Inspection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "engine/Certificate.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"

namespace veltrano::testing {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

CurrentDirectory::CurrentDirectory(const fs::path& dir) : previous_(fs::current_path()) {
  fs::current_path(dir);
}

CurrentDirectory::~CurrentDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FileStamps StampsOf(const fs::path& file) {
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0) Fail("stat " + file.string());
  return FileStamps{st.st_atim, st.st_mtim};
}

void SetStamps(const fs::path& file, const FileStamps& stamps) {
  const timespec times[2] = {stamps.access, stamps.modification};
  if (utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    Fail("utimensat " + file.string());
}

FileStamps DistinctStamps() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return FileStamps{timespec{now.tv_sec + 3600, 123456789},
                    timespec{981173106, 700000000}};  // 2001-02-03 04:05:06.7 UTC
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Fail("open " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("write " + file.string());
}

std::wstring WidePath(const fs::path& file) { return WideFromBytes(file.native()); }

std::string HeaderLine(const fs::path& file) {
  return "Analyze Signed File[" + file.native() + "]\n";
}

FILETIME FileTimeOfUnix(std::int64_t seconds) {
  return FileTimeOf(
      static_cast<std::uint64_t>(seconds * static_cast<std::int64_t>(kTicksPerSecond) +
                                 static_cast<std::int64_t>(kEpochDifferenceTicks)));
}

Inspection InspectFile(const std::wstring& path, const AfterQuery& afterQuery) {
  Inspection result;
  CCertificate cert;
  cert.m_strFile = path;
  result.logOpen = cert.m_log.is_open();
  if (result.logOpen) cert.m_log << L"Analyze Signed File[" << cert.m_strFile << L"]" << std::endl;

  const auto copy = [](const veltrano::HeapPtr<wchar_t>& text) -> std::optional<std::wstring> {
    if (!text) return std::nullopt;
    return std::wstring(text.get());
  };
  const auto finish = [&](Step step) {
    result.stoppedAt = step;
    result.lastError = GetLastError();
    result.programName = copy(cert.m_pszProgramName);
    result.publisherLink = copy(cert.m_pszPublisherLink);
    result.moreInfoLink = copy(cert.m_pszMoreInfoLink);
    return result;
  };

  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, cert.m_strFile.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &cert.m_dwEncoding, &cert.m_dwContentType, &cert.m_dwFormatType,
                        &cert.m_hStore, &cert.m_hMsg, nullptr)) {
    cert.ReportError(L"CryptQueryObject failed with ErrorCode", 74);
    return finish(Step::Query);
  }
  if (afterQuery) afterQuery(cert);
  if (!cert.ReadSignerInfo()) return finish(Step::SignerInfo);
  if (!cert.ReadOpusInfo()) return finish(Step::OpusInfo);
  if (!cert.ReadCounterSignerInfo()) return finish(Step::CounterSigner);
  result.stamped = cert.StampFileTime();
  if (!result.stamped) return finish(Step::Stamp);
  FILETIME shown{};
  cert.ReadSigningTime(&shown);
  result.displayed = shown;
  return finish(Step::Done);
}

}  // namespace veltrano::testing
