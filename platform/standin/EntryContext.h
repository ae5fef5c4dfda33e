// What the stand-in remembers between calls about the entry in hand: the one
// place that passes state from one Win32-shaped call to the next.
//
// The program works through a folder an entry at a time, always in one order:
// FindFirstFileW / FindNextFileW hands out an entry; CryptQueryObject reads
// the signature of that entry's path; CryptMsgGetParam and CryptDecodeObject
// decode it, each as a size query followed by a fetch with the same input;
// CreateFileW opens the same path for attribute writing, SetFileTime stamps it.
// Each call is given only a path or a buffer, so on its own every call would
// look the path up, read its status, open the file and decode the bytes anew.
// This context carries what one call found to the next call of that order, on
// this thread, and so keeps the calls near the system-call floor: a stamped
// entry costs 16 system calls instead of 19, and nothing is decoded twice.
//
//   listed    FindFirstFileW / FindNextFileW -> CryptQueryObject
//             The entry just handed out: its folder's descriptor, its name and
//             the status the search read. The query takes it instead of
//             reading the status again, and opens the file relative to the
//             folder, without following a link. Valid while the search that
//             handed it out is open. Taken once, by a query of exactly the
//             entry's path (the folder, "/" and the name, or the path an exact
//             search was given); stale after the search's next entry or its
//             close, and after any query, which takes it whether or not it
//             matches. A symbolic link is never handed on.
//
//   queried   CryptQueryObject -> CreateFileW
//             The regular file a successful query read, still open for
//             reading, with its path; the query's message owns it. The open
//             for attribute writing of exactly that path takes the descriptor
//             over, once the descriptor's status and the path's have shown
//             that the path still names that very file, instead of opening the
//             file anew (and the query closing it): the time is set on the
//             very file whose signature was read, and the descriptor's status
//             gives the handle's first GetFileTime. When the path names
//             another file by then, that open fails. Valid while that message
//             is open; taken once; replaced by the next query that gives a
//             message; stale when its message is closed.
//
//   decoded   CryptDecodeObject -> CryptDecodeObject
//             The signer or publisher information decoded last, with a copy
//             of its input (of at most 64 KiB; a larger one is not kept) and
//             its placement (FlatBlock.h). A call for the same structure with
//             the same bytes at the same address (the fetch after a size
//             query) takes it instead of decoding and placing again. Replaced
//             by the next decode of anything else. It saves processor time
//             only.
//
// Any other order, another path or input in between, or another thread finds
// nothing to take and does the whole work itself: slower, never different
// (tests/platform/CallOrderTest.cpp holds the calls to that). The context
// owns nothing of the first two: the search and the message keep what they
// lend, and each piece names the handle it came from (with its registration's
// serial), so that a piece whose handle was closed, on any thread, is never
// used.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/signature/Bytes.h"
#include "platform/signature/Pkcs7.h"
#include "platform/standin/FlatBlock.h"
#include "platform/standin/Handles.h"
#include "platform/standin/UniqueFd.h"

namespace veltrano {

// A listed entry as the query takes it.
struct ListedEntry {
  int dirFd;         // the listed folder, or AT_FDCWD
  const char* name;  // relative to dirFd
  struct stat st;    // as the search read it: the entry's own, never a link's
};

// The file a query read, as its message keeps it.
struct HeldFile {
  UniqueFd fd;  // open for reading; none once taken
  std::string path;
};

// A decoded structure with what is known of its placement (FlatBlock.h).
template <typename T>
struct Decoded {
  T value;
  Placement placement;
};

class EntryContext {
 public:
  // This thread's context.
  static EntryContext& OfThisThread();

  // listed: `search` has just handed out `name` (followed by its NUL) of the
  // folder `dirFd`, whose path is `prefix` followed by the name; both stay in
  // the search.
  void Listed(const HandleRef& search, int dirFd, std::string_view prefix, std::string_view name,
              const struct stat& st) {
    listed_ = Listing{search, dirFd, prefix, name, st};
  }
  void ClearListed() { listed_ = Listing{}; }
  // The entry when `path` names it; nothing otherwise. Either way it is gone.
  std::optional<ListedEntry> TakeListed(std::string_view path);

  // queried: the message `message` holds `file`.
  void Queried(const HandleRef& message, HeldFile& file) { queried_ = Query{message, &file}; }
  // The file's descriptor, handed over, when the last query read `path` and
  // its message still holds it; none otherwise, and then it stays.
  UniqueFd TakeQueried(std::string_view path);

  // decoded: whether a decode of `encoded` is kept (a copy of inputs up to
  // 64 KiB; real ones take a few KiB).
  static bool Keeps(ByteView encoded) { return encoded.size() <= kMaxKeptBytes; }
  // The decode kept for exactly these bytes as a T, or null.
  template <typename T>
  Decoded<T>* FindDecoded(ByteView encoded) {
    if (decodedAddress_ != encoded.data() || decodedBytes_.size() != encoded.size() ||
        (!encoded.empty() && std::memcmp(decodedBytes_.data(), encoded.data(), encoded.size()))) {
      return nullptr;
    }
    return std::get_if<Decoded<T>>(&decoded_);
  }
  template <typename T>
  Decoded<T>& KeepDecoded(ByteView encoded, T value) {
    decodedAddress_ = encoded.data();
    decodedBytes_.assign(encoded.data(), encoded.data() + encoded.size());
    return decoded_.emplace<Decoded<T>>(Decoded<T>{std::move(value), {}});
  }

  // Drops whatever the search or message `owner`, which is closing, lent.
  void Forget(const void* owner);

 private:
  static constexpr std::size_t kMaxKeptBytes = 64 << 10;

  struct Listing {
    HandleRef search;
    int dirFd = -1;
    std::string_view prefix;
    std::string_view name;
    struct stat st {};
  };
  struct Query {
    HandleRef message;
    HeldFile* file = nullptr;
  };

  Listing listed_;
  Query queried_;
  const std::uint8_t* decodedAddress_ = nullptr;
  std::vector<std::uint8_t> decodedBytes_;
  std::variant<std::monostate, Decoded<pkcs7::SignerInfo>, Decoded<pkcs7::OpusInfo>> decoded_;
};

}  // namespace veltrano
