// Cost of the signature query and the decodes the inspector makes, on a
// realistic crafted file, and of the query on files of growing size (sparse
// files up to 3.75 GiB) to show that it does not depend on the file's size.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/WideText.h"
#include "platform/Win32.h"
#include "platform/signature/DescriptorSource.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"

namespace {

namespace fx = veltrano::fixtures;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

fx::TempDir& Dir() {
  static fx::TempDir dir;
  return dir;
}

// A 1 MiB PE32+ image with four certificates in its signature.
const std::wstring& RealisticFile() {
  static const std::wstring path = [] {
    fx::SignatureOptions sig;
    sig.certificates = 4;
    fx::PeOptions pe;
    pe.pe32Plus = true;
    pe.sections = 4;
    pe.sectionSize = 256 * 1024;
    const auto file = Dir() / "realistic.exe";
    fx::WriteFile(file, fx::BuildSignedPe(sig, pe));
    return veltrano::WideFromBytes(file.string());
  }();
  return path;
}

const CRYPT_ATTR_BLOB* FirstValue(const CRYPT_ATTRIBUTES& attrs, LPCSTR oid) {
  for (DWORD i = 0; i < attrs.cAttr; ++i) {
    if (lstrcmpA(attrs.rgAttr[i].pszObjId, oid) == 0 && attrs.rgAttr[i].cValue != 0) {
      return &attrs.rgAttr[i].rgValue[0];
    }
  }
  return nullptr;
}

bool Query(const std::wstring& path, HCERTSTORE* store, HCRYPTMSG* msg) {
  return CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                          0, nullptr, nullptr, nullptr, store, msg, nullptr);
}

// What one inspector does: query, signer 0, opus, counter-signer, time.
void BM_InspectorChain(benchmark::State& state) {
  const std::wstring& path = RealisticFile();
  std::vector<std::max_align_t> signer, opus, counter;
  for (auto _ : state) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG msg = nullptr;
    if (!Query(path, &store, &msg)) state.SkipWithError("query failed");
    DWORD size = 0;
    CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size);
    signer.resize(size / sizeof(std::max_align_t) + 1);
    CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, signer.data(), &size);
    const auto& si = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signer.data());

    const CRYPT_ATTR_BLOB* o = FirstValue(si.AuthAttrs, SPC_SP_OPUS_INFO_OBJID);
    CryptDecodeObject(kEncoding, SPC_SP_OPUS_INFO_OBJID, o->pbData, o->cbData, 0, nullptr, &size);
    opus.resize(size / sizeof(std::max_align_t) + 1);
    CryptDecodeObject(kEncoding, SPC_SP_OPUS_INFO_OBJID, o->pbData, o->cbData, 0, opus.data(),
                      &size);

    const CRYPT_ATTR_BLOB* c = FirstValue(si.UnauthAttrs, szOID_RSA_counterSign);
    CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, c->pbData, c->cbData, 0, nullptr, &size);
    counter.resize(size / sizeof(std::max_align_t) + 1);
    CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, c->pbData, c->cbData, 0, counter.data(), &size);
    const auto& cs = *reinterpret_cast<const CMSG_SIGNER_INFO*>(counter.data());

    const CRYPT_ATTR_BLOB* t = FirstValue(cs.AuthAttrs, szOID_RSA_signingTime);
    FILETIME ft{};
    size = sizeof ft;
    CryptDecodeObject(kEncoding, szOID_RSA_signingTime, t->pbData, t->cbData, 0, &ft, &size);
    benchmark::DoNotOptimize(ft);
    CryptMsgClose(msg);
    CertCloseStore(store, 0);
  }
}
BENCHMARK(BM_InspectorChain);

// The query alone on a file of state.range(0) MiB whose table ends the file.
void BM_QueryBySize(benchmark::State& state) {
  const std::uint64_t size = static_cast<std::uint64_t>(state.range(0)) << 20;
  const auto file = Dir() / ("sparse-" + std::to_string(state.range(0)) + ".exe");
  fx::WriteSparseSignedPe(file, size, fx::BuildSignature());
  const std::wstring path = veltrano::WideFromBytes(file.string());
  const std::uint64_t before = veltrano::BytesReadFromFiles();
  for (auto _ : state) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG msg = nullptr;
    if (!Query(path, &store, &msg)) state.SkipWithError("query failed");
    CryptMsgClose(msg);
    CertCloseStore(store, 0);
  }
  state.counters["bytes_read_per_query"] =
      benchmark::Counter(static_cast<double>(veltrano::BytesReadFromFiles() - before) /
                         static_cast<double>(state.iterations()));
  std::filesystem::remove(file);
}
BENCHMARK(BM_QueryBySize)->Arg(1)->Arg(64)->Arg(1024)->Arg(3840);

}  // namespace

BENCHMARK_MAIN();
