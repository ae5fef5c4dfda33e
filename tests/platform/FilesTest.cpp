// CreateFileW / SetFileTime / CloseHandle: only the modification time
// changes, to the exact 100-ns value, and the content is never touched.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "platform/Win32.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"

namespace veltrano {
namespace {

using namespace fixtures;

std::wstring Wide(const std::filesystem::path& p) { return WideFromBytes(p.string()); }

HANDLE OpenForAttributes(const std::wstring& path, DWORD access = FILE_WRITE_ATTRIBUTES) {
  return CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

struct stat Stat(const std::filesystem::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return st;
}

class FilesTest : public ::testing::Test {
 protected:
  // A file with known content and access/modification times.
  std::filesystem::path MakeFile(const std::string& name) {
    const auto path = dir_ / name;
    WriteFile(path, content_);
    const timespec times[2] = {{1000000000, 111111111}, {1100000000, 222222222}};
    EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
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
    const struct stat before = Stat(path);
    HANDLE h = OpenForAttributes(Wide(path));
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft)) << GetLastError();
    EXPECT_TRUE(CloseHandle(h));

    const struct stat after = Stat(path);
    EXPECT_EQ(TicksOf(FileTimeOf(after.st_mtim)), TicksOf(ft));
    EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
    EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
    EXPECT_EQ(ReadFile(path), content_);
  }
}

TEST_F(FilesTest, OpenFailuresGiveThePlatformsCodes) {
  std::filesystem::create_directory(dir_ / "folder");
  const auto file = MakeFile("plain.exe");
  const std::pair<std::wstring, DWORD> cases[] = {
      {Wide(dir_ / "missing.exe"), ERROR_FILE_NOT_FOUND},
      {Wide(dir_ / "nofolder" / "a.exe"), ERROR_PATH_NOT_FOUND},
      {Wide(file) + L"/inner", ERROR_PATH_NOT_FOUND},
      {Wide(dir_ / "folder"), ERROR_ACCESS_DENIED},
      {L"", ERROR_PATH_NOT_FOUND},
      {Wide(dir_.path()) + L"/" + std::wstring(300, L'n'), ERROR_FILENAME_EXCED_RANGE},
      {std::wstring(L"x") + static_cast<wchar_t>(0xDC10), ERROR_INVALID_NAME},
  };
  for (const auto& [path, code] : cases) {
    SCOPED_TRACE(code);
    SetLastError(0);
    EXPECT_EQ(OpenForAttributes(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), code);
  }
  // Content access and creating files are not what this stand-in offers.
  EXPECT_EQ(CreateFileW(Wide(file).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileW(Wide(dir_ / "new").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                        0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new"));
}

}  // namespace
}  // namespace veltrano
