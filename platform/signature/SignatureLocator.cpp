#include "platform/signature/SignatureLocator.h"

#include <algorithm>
#include <cstring>

#include "platform/signature/Cabinet.h"
#include "platform/signature/CompoundFile.h"
#include "platform/signature/PeImage.h"
#include "platform/signature/ScriptSignature.h"

namespace veltrano {
namespace {

// The first bytes of a file, read once when first asked for: every format
// probe starts by reading the file's head (the PE, cabinet and compound-file
// headers all lie in the first 512 bytes), and a file of no format is read
// once in all. Other reads go to the file.
class HeadCachedSource final : public FileSource {
 public:
  static constexpr std::size_t kHeadBytes = 512;

  explicit HeadCachedSource(const FileSource& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override {
    if (!loaded_) {
      loaded_ = true;
      headSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(kHeadBytes, Size()));
      if (!file_.ReadAt(0, headSize_, head_)) headSize_ = 0;
    }
    if (offset > headSize_ || length > headSize_ - offset) return file_.ReadAt(offset, length, out);
    if (length != 0) std::memcpy(out, head_ + offset, length);
    return true;
  }

 private:
  const FileSource& file_;
  mutable bool loaded_ = false;
  mutable std::size_t headSize_ = 0;
  mutable std::uint8_t head_[kHeadBytes];
};

}  // namespace

std::optional<std::vector<std::uint8_t>> LocateEmbeddedSignature(const FileSource& file,
                                                                 std::wstring_view path) {
  // Formats recognised by their content come first, then those recognised
  // by the file name. The first locator that finds a signature wins.
  const HeadCachedSource source(file);
  if (auto signature = LocatePeSignature(source)) return signature;
  if (auto signature = LocateCabSignature(source)) return signature;
  if (auto signature = LocateMsiSignature(source)) return signature;
  return LocateScriptSignature(source, path);
}

}  // namespace veltrano
