// A run over a folder of N files with the in-memory list: entries per second
// for the whole change-time command (search, log, rows, column fitting,
// signature query, stamping), and for its parts alone. The second argument
// of the run is "one signed image in every K files" (0: none).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/WideText.h"
#include "run/HeadlessDialog.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"

namespace {

using veltrano::fixtures::TempDir;

// A folder of `count` small files with names of varied case; every
// `signedEvery`-th one (if nonzero) a signed, timestamped image.
void Populate(const TempDir& dir, int count, int signedEvery = 0) {
  const veltrano::fixtures::Bytes signedImage = veltrano::fixtures::BuildSignedPe();
  for (int i = 0; i < count; ++i) {
    const std::string name = (i % 2 ? "Setup-" : "tool-") + std::to_string(i) + ".exe";
    if (signedEvery != 0 && i % signedEvery == 0) {
      veltrano::fixtures::WriteFile(dir / name, signedImage);
    } else {
      veltrano::fixtures::WriteFile(dir / name, veltrano::fixtures::BytesOf("MZ"));
    }
  }
}

void BM_ChangeTimeOverFolder(benchmark::State& state) {
  TempDir data;
  TempDir work;
  std::filesystem::current_path(work.path());  // the log goes here
  Populate(data, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  CHeadlessDialog dlg;
  dlg.InitResultList();
  dlg.SelectFolder(veltrano::WideFromBytes(data.path().native()));
  for (auto _ : state) {
    dlg.OnBnClickedChangeTime();
    benchmark::DoNotOptimize(dlg.m_list.Rows().size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ChangeTimeOverFolder)
    ->Args({100, 0})
    ->Args({1000, 0})
    ->Args({1000, 10})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_SearchFolder(benchmark::State& state) {
  TempDir data;
  Populate(data, static_cast<int>(state.range(0)));
  const std::wstring pattern = veltrano::WideFromBytes(data.path().native()) + L"/*";
  for (auto _ : state) {
    WIN32_FIND_DATAW entry{};
    HANDLE h = FindFirstFileW(pattern.c_str(), &entry);
    int n = 0;
    if (h != INVALID_HANDLE_VALUE) {
      do ++n;
      while (FindNextFileW(h, &entry));
      FindClose(h);
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SearchFolder)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_FormatTimeText(benchmark::State& state) {
  const FILETIME ft{0xD53E8000u, 0x01D9A2B3u};
  for (auto _ : state) benchmark::DoNotOptimize(FormatTimeText(ft));
}
BENCHMARK(BM_FormatTimeText);

}  // namespace

BENCHMARK_MAIN();
