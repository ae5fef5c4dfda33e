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
#include "platform/ChosenFile.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "run/BatchCommand.h"

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

std::wstring TimeTextOfUnix(std::int64_t seconds) {
  try {
    return FormatTimeText(FileTimeOfUnix(seconds));
  } catch (const CTimeTextException&) {
    return L"";
  }
}

Inspection InspectFile(const std::wstring& path, const Watch& watch) {
  CBatchDialog dialog;
  dialog.InitResultList();
  const std::size_t slash = path.rfind(kPathSeparator);
  dialog.m_strFolder = path.substr(0, slash);
  // The entry as the search gives it; a missing file gets its name alone.
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindChosenFileW(path.c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  const std::wstring name = path.substr(slash + 1);
  std::copy(name.begin(), name.end(), entry.cFileName);

  CCertificate cert;
  if (watch) watch(cert);
  Inspection result;
  result.logOpen = cert.m_log.is_open();
  result.stamped = dialog.ProcessFile(entry, cert);
  result.lastError = GetLastError();
  result.newTime = dialog.m_list.GetItemText(0, 2);
  const auto copy = [](const veltrano::HeapPtr<wchar_t>& text) -> std::optional<std::wstring> {
    if (!text) return std::nullopt;
    return std::wstring(text.get());
  };
  result.programName = copy(cert.m_pszProgramName);
  result.publisherLink = copy(cert.m_pszPublisherLink);
  result.moreInfoLink = copy(cert.m_pszMoreInfoLink);
  // Where the chain stopped, from what the inspector holds: between the two
  // attribute reads only the opus copies tell the steps apart.
  const bool opusRead = result.programName || result.publisherLink || result.moreInfoLink;
  result.stoppedAt = result.stamped              ? Step::Done
                     : !cert.m_hMsg              ? Step::Query
                     : !cert.m_pSignerInfo       ? Step::SignerInfo
                     : cert.m_pCounterSignerInfo ? Step::Stamp
                     : opusRead                  ? Step::CounterSigner
                                                 : Step::OpusInfo;
  return result;
}

}  // namespace veltrano::testing
