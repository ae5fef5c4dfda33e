// CreateFileW / SetFileTime / CloseHandle: only the modification time
// changes, to the exact 100-ns value, and the content is never touched.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

namespace veltrano {
namespace {

using namespace fixtures;

using testing::FileStamps;
using testing::StampsOf;

std::wstring Wide(const std::filesystem::path& p) { return testing::WidePath(p); }

HANDLE OpenForAttributes(const std::wstring& path, DWORD access = FILE_WRITE_ATTRIBUTES) {
  return CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

class FilesTest : public ::testing::Test {
 protected:
  // A file with known content and access/modification times.
  std::filesystem::path MakeFile(const std::string& name) {
    const auto path = dir_ / name;
    WriteFile(path, content_);
    testing::SetStamps(path, FileStamps{{1000000000, 111111100}, {1100000000, 222222200}});
    return path;
  }
  TempDir dir_;
  const Bytes content_ = BuildSignedPe();
};

TEST_F(FilesTest, SetsOnlyTheModificationTimeToThe100Nanosecond) {
  const FILETIME times[] = {
      FileTimeOf(kDefaultSigningTimeTicks + 1234567),  // 2019-04-05 06:07:08.1234567
      FileTimeOf(kEpochDifferenceTicks - 3 * kTicksPerSecond * 86400 * 365 + 5),  // 1967
      FileTimeOf(kEpochDifferenceTicks),                                          // the epoch
      FileTimeOf(kEpochDifferenceTicks - 1),  // 100 ns before it
  };
  for (const FILETIME& ft : times) {
    SCOPED_TRACE(TicksOf(ft));
    const auto path = MakeFile("stamp.exe");
    const FileStamps before = StampsOf(path);
    // The handle reads the times it sets; reading takes FILE_READ_ATTRIBUTES.
    HANDLE h = OpenForAttributes(Wide(path), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    // The first time is set before any read, and still read back as set.
    FILETIME read[2] = {FileTimeOf(before.modification)};
    if (&ft != &times[0]) {
      EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, &read[0])) << GetLastError();
    }
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft)) << GetLastError();
    EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, &read[1])) << GetLastError();
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(TicksOf(read[0]), TicksOf(FileTimeOf(before.modification)));
    EXPECT_EQ(TicksOf(read[1]), TicksOf(ft));

    const FileStamps after = StampsOf(path);
    EXPECT_EQ(TicksOf(FileTimeOf(after.modification)), TicksOf(ft));
    EXPECT_EQ(TicksOf(FileTimeOf(after.access)), TicksOf(FileTimeOf(before.access)));
    EXPECT_EQ(ReadFile(path), content_);
  }
}

TEST_F(FilesTest, OpenFailuresGiveThePlatformsCodes) {
  std::filesystem::create_directory(dir_ / "folder");
  const auto file = MakeFile("plain.exe");
  const std::pair<std::wstring, DWORD> cases[] = {
      {Wide(dir_ / "missing.exe"), ERROR_FILE_NOT_FOUND},
      {Wide(dir_ / "nofolder" / "a.exe"), ERROR_PATH_NOT_FOUND},
      {Wide(file / "inner"), ERROR_PATH_NOT_FOUND},
      {Wide(dir_ / "folder"), ERROR_ACCESS_DENIED},
      {L"", ERROR_PATH_NOT_FOUND},
      {Wide(dir_ / std::wstring(300, L'n')), ERROR_FILENAME_EXCED_RANGE},
#ifndef _WIN32
      // A name Linux cannot store (a lone surrogate has no bytes); on
      // Windows it is a valid name like any other.
      {std::wstring(L"x") + static_cast<wchar_t>(0xDC10), ERROR_INVALID_NAME},
#endif
  };
  for (const auto& [path, code] : cases) {
    SCOPED_TRACE(code);
    SetLastError(0);
    EXPECT_EQ(OpenForAttributes(path), INVALID_HANDLE_VALUE);
    if (code == ERROR_FILENAME_EXCED_RANGE &&
        WineGap("Wine gives ERROR_FILE_NOT_FOUND for a name longer than a path may be"))
      continue;
    EXPECT_EQ(GetLastError(), code);
  }
#ifndef _WIN32
  // Content access and creating files are not what this stand-in offers
  // (Windows offers both; the program asks for neither).
  EXPECT_EQ(CreateFileW(Wide(file).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileW(Wide(dir_ / "new").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                        0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new"));
  // Another owner's file is refused for attribute writing: for a user other
  // than root, root's (as root, the hostile-folder rows run as another user).
  struct stat st {};
  if (stat("/etc/passwd", &st) == 0 && st.st_uid != geteuid()) {
    EXPECT_EQ(OpenForAttributes(L"/etc/passwd"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
#endif
}

}  // namespace
}  // namespace veltrano
