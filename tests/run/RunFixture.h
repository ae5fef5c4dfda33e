// A run in its own current directory (which receives the log) over a folder
// of its own, in UTC+8, and the log stretches it expects.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/WideText.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/run/TestDialog.h"
#include "tests/support/Inspection.h"

// A file's whole content, or nothing when there is no such file.
inline std::optional<std::string> ReadIfPresent(const std::filesystem::path& file) {
  if (!std::filesystem::exists(file)) return std::nullopt;
  return veltrano::testing::ReadBytes(file);
}

inline std::wstring W(const std::string& bytes) { return veltrano::WideFromBytes(bytes); }

using Row = std::vector<std::wstring>;
using Event = CTestDialog::ButtonEvent;

inline constexpr std::int64_t kNow = 1705000000;  // January 2024

inline std::string QueryFailure(const std::string& path, const char* code) {
  return "Analyze Signed File[" + path + "]\nCertificate[74]:\n" +
         "CryptQueryObject failed with ErrorCode[" + code + "]\n";
}
inline constexpr char kNotSigned[] = "0x80092009";
inline constexpr char kDirectory[] = "0x5";
inline constexpr char kMissing[] = "0x2";

// A run in its own current directory (which receives the log) over a folder
// of its own, in UTC+8.
class BatchRun : public testing::Test {
 protected:
  BatchRun() : cwd(work.path()), zone("Asia/Shanghai", kNow) { dlg.InitResultList(); }

  std::optional<std::string> Log() { return ReadIfPresent(work / "CertificateLog.log"); }
  bool LogExists() { return std::filesystem::exists(work / "CertificateLog.log"); }

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
