// Cost of finding the signature in cabinets, installer packages and scripts,
// in memory (the parsing alone) with the bytes each lookup reads.
#include <benchmark/benchmark.h>

#include <map>

#include "platform/signature/Cabinet.h"
#include "platform/signature/CompoundFile.h"
#include "platform/signature/ScriptSignature.h"
#include "tests/fixtures/CabBuilder.h"
#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/ReadCounter.h"
#include "tests/fixtures/ScriptBuilder.h"

namespace {

using veltrano::fixtures::Bytes;

Bytes Signature(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 31);
  b[0] = 0x30;
  return b;
}

template <typename Locate>
void Run(benchmark::State& state, const Bytes& file, Locate locate) {
  std::uint64_t bytesRead = 0;
  for (auto _ : state) {
    veltrano::fixtures::CountingSource source(file);
    auto found = locate(source);
    if (!found) state.SkipWithError("no signature found");
    benchmark::DoNotOptimize(found);
    bytesRead = source.BytesRead();
  }
  state.counters["file_bytes"] = static_cast<double>(file.size());
  state.counters["bytes_read"] = static_cast<double>(bytesRead);
}

void BM_Cabinet(benchmark::State& state) {
  veltrano::fixtures::CabOptions o;
  o.fileData = Bytes(60000, 'x');
  o.signature = Signature(8000);
  const Bytes file = veltrano::fixtures::BuildCabinet(o);
  Run(state, file, [](const auto& s) { return veltrano::LocateCabSignature(s); });
}
BENCHMARK(BM_Cabinet);

// A package of state.range(0) MiB (512-byte sectors), the signature last.
const Bytes& Package(std::int64_t mebibytes) {
  static std::map<std::int64_t, Bytes> built;
  if (auto it = built.find(mebibytes); it != built.end()) return it->second;
  veltrano::fixtures::CfbOptions o;
  o.entries = {{u"Binary.payload", Bytes(static_cast<std::size_t>(mebibytes) << 20, 1)},
               {veltrano::fixtures::SignatureStreamName(), Signature(12000)}};
  for (int i = 0; i < 40; ++i) {
    const std::string name = "Table" + std::to_string(i);
    o.entries.push_back({std::u16string(name.begin(), name.end()), Bytes(200, 2)});
  }
  return built[mebibytes] = veltrano::fixtures::BuildCompoundFile(o).bytes;
}

void BM_InstallerPackage(benchmark::State& state) {
  Run(state, Package(state.range(0)),
      [](const auto& s) { return veltrano::LocateMsiSignature(s); });
}
BENCHMARK(BM_InstallerPackage)->Arg(1)->Arg(64);

// A script of state.range(0) KiB with the signature block at its end.
void BM_Script(benchmark::State& state) {
  veltrano::fixtures::ScriptOptions o;
  o.body.assign(static_cast<std::size_t>(state.range(0)) << 10, 'x');
  o.encoding = state.range(1) ? veltrano::fixtures::TextEncoding::kUtf16Le
                              : veltrano::fixtures::TextEncoding::kUtf8;
  const Bytes file = veltrano::fixtures::BuildSignedScript(Signature(12000), o);
  Run(state, file, [](const auto& s) { return veltrano::LocateScriptSignature(s, L"x.ps1"); });
}
BENCHMARK(BM_Script)->Args({4, 0})->Args({4096, 0})->Args({4096, 1});

}  // namespace

BENCHMARK_MAIN();
