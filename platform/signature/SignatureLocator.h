// Finding the embedded PKCS#7 signature inside a file (the part of
// CryptQueryObject that depends on the file's format).
//
// Locators read only the few ranges they need through a FileSource, never the
// whole file, and check every offset and length against the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace veltrano {

// No embedded signature larger than this is read (real ones are a few KiB to a
// few hundred KiB).
inline constexpr std::uint64_t kMaxSignatureBytes = 64ULL << 20;

// Random access to the bytes of one file.
class FileSource {
 public:
  virtual ~FileSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `length` bytes at `offset` into `out`. False when the range
  // is not inside the file or the read fails.
  virtual bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const = 0;

  // The bytes [offset, offset + length), or nothing (as ReadAt).
  std::optional<std::vector<std::uint8_t>> Read(std::uint64_t offset, std::uint64_t length) const;
};

// A FileSource over bytes in memory (tests, fuzz targets).
class MemorySource final : public FileSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::size_t length, std::uint8_t* out) const override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// Each locator returns the signature's bytes, starting with the outer element
// of the PKCS#7 ContentInfo (bytes after that element, such as padding, may
// follow and are ignored by the decoder), or nothing when the file is not of
// its format or carries no usable signature.
std::optional<std::vector<std::uint8_t>> LocatePeSignature(const FileSource& file);

// Cabinet: the "MSCF" header's per-cabinet reserve area (flag 0x0004, at
// least 20 bytes) holds the signature's file offset and length.
std::optional<std::vector<std::uint8_t>> LocateCabSignature(const FileSource& file);

// Windows Installer package (.msi, .msp, .mst) or any other OLE compound
// file: the root storage's stream "\x05DigitalSignature".
std::optional<std::vector<std::uint8_t>> LocateMsiSignature(const FileSource& file);

// No script larger than this is read; a bigger one has no usable signature.
inline constexpr std::uint64_t kMaxScriptBytes = 16ULL << 20;

// Signed scripts, recognised by the extension of `path` (letter case
// ignored): PowerShell (.ps1 .psm1 .psd1 with "# SIG # " lines; .ps1xml
// .psc1 .cdxml with "<!-- SIG # ... -->" lines) and Windows Script Host (.js
// "// SIG // ", .vbs "'' SIG '' ", .wsf "<signature>" element with
// "** SIG ** " lines). The text is UTF-8 or an 8-bit code page, or UTF-16 with
// a byte-order mark; the block's base64 lines are decoded strictly. Nothing
// for another extension, a file over kMaxScriptBytes, or a malformed block.
std::optional<std::vector<std::uint8_t>> LocateScriptSignature(const FileSource& file,
                                                               std::wstring_view path);

// True when `path` names a script (by extension) that is larger than
// kMaxScriptBytes, so its signature is not looked for.
bool IsOversizedScript(const FileSource& file, std::wstring_view path);

// Tries every supported format in turn. `path` is the file's name, used only
// for formats recognised by extension.
std::optional<std::vector<std::uint8_t>> LocateEmbeddedSignature(const FileSource& file,
                                                                 std::wstring_view path);

}  // namespace veltrano
