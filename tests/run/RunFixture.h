// The headless dialog recording what it does to the buttons and the title, and a
// run in its own current directory (which receives the log) over a folder of
// its own, in UTC+8, with the log stretches it expects.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/WideText.h"
#include "run/HeadlessDialog.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

class CTestDialog : public CHeadlessDialog {
 public:
  struct ButtonEvent {
    int id;
    bool enable;
    int rowsThen;  // rows in the list when it happened
    bool operator==(const ButtonEvent&) const = default;
  };
  std::vector<ButtonEvent> m_buttons;
  std::wstring m_title;
  // Per finished entry: the rows then and whether it was stamped. The walk
  // ends after m_stopAfter entries when that is set.
  std::vector<std::pair<int, BOOL>> m_entriesDone;
  std::optional<std::size_t> m_stopAfter;

 protected:
  void EnableDlgItem(int id, bool enable) override {
    m_buttons.push_back({id, enable, m_list.GetItemCount()});
  }
  void SetTitle(const std::wstring& title) override { m_title = title; }
  bool OnEntryDone(BOOL stamped) override {
    m_entriesDone.emplace_back(m_list.GetItemCount(), stamped);
    return !m_stopAfter || m_entriesDone.size() < *m_stopAfter;
  }
};

// A file's whole content, or nothing when there is no such file.
inline std::optional<std::string> ReadIfPresent(const std::filesystem::path& file) {
  if (!std::filesystem::exists(file)) return std::nullopt;
  return veltrano::testing::ReadBytes(file);
}

inline std::wstring W(const std::string& bytes) { return veltrano::WideFromBytes(bytes); }
inline std::wstring W(const std::filesystem::path& path) {
  return veltrano::testing::WidePath(path);
}

using Row = std::vector<std::wstring>;

inline constexpr std::int64_t kNow = 1705000000;  // January 2024

inline std::string QueryFailure(const std::string& path, const char* code) {
  return "Analyze Signed File[" + path + "]\nCertificate[74]:\n" +
         "CryptQueryObject failed with ErrorCode[" + code + "]\n";
}
inline constexpr char kNotSigned[] = "0x80092009";
inline constexpr char kDirectory[] = "0x5";
inline constexpr char kMissing[] = "0x2";
// The code a folder's query leaves.
inline const char* FolderQueryCode() {
  return veltrano::fixtures::WineGap(
             "Wine's CryptQueryObject gives CRYPT_E_NO_MATCH for a file it cannot open")
             ? kNotSigned
             : kDirectory;
}

class BatchRun : public testing::Test {
 protected:
  BatchRun() : cwd(work.path()), zone("Asia/Shanghai", kNow) { dlg.InitResultList(); }

  std::optional<std::string> Log() {
    const std::filesystem::path log = work / "CertificateLog.log";
    if (!std::filesystem::exists(log)) return std::nullopt;
    return veltrano::testing::ReadLog(log);
  }

  // Writes `bytes` as `name` in the data folder with the given old time;
  // returns its path.
  std::string Put(const std::string& name, const veltrano::fixtures::Bytes& bytes = {},
                  std::int64_t mtime = veltrano::fixtures::UtcSeconds(2022, 6, 1)) {
    const std::filesystem::path path = data / name;
    veltrano::fixtures::WriteFile(path, bytes);
    EXPECT_TRUE(veltrano::fixtures::SetModificationTime(path, mtime)) << path;
    return path.string();
  }

  // Runs the change-time command; the status of the error it throws, if any.
  std::optional<HRESULT> ChangeTime() {
    try {
      dlg.OnBnClickedChangeTime();
    } catch (const CTimeTextException& e) {
      return e.m_sc;
    }
    return std::nullopt;
  }

  veltrano::fixtures::TempDir work;
  veltrano::fixtures::TempDir data;
  veltrano::testing::CurrentDirectory cwd;
  veltrano::fixtures::ScopedTimeZone zone;
  CTestDialog dlg;
};
