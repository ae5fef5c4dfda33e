// The registry of live handles that the stand-in gives out.
//
// A handle is the address of an object the stand-in owns. Before a call
// uses a handle it asks the registry whether that address is a live object
// of the expected kind, so a null, stale, foreign or wrong-kind handle is
// refused with an error code instead of being dereferenced.
#pragma once

#include <cstdint>

namespace veltrano {

enum class HandleKind { kFile, kCryptMsg, kCertStore, kFind };

// One registration of a handle: its serial tells it from a later object that
// the allocator happens to place at the same address.
struct HandleRef {
  const void* object = nullptr;
  HandleKind kind = HandleKind::kFile;
  std::uint64_t serial = 0;  // 0: none
};

// Records `object` as a live handle of `kind`.
HandleRef RegisterHandle(const void* object, HandleKind kind);
// True when `object` is a live handle of `kind`.
bool IsLiveHandle(const void* object, HandleKind kind);
// True when that very registration is still live.
bool IsLiveHandle(const HandleRef& handle);
// Forgets `object` if it is a live handle of `kind`; true when it was.
bool UnregisterHandle(const void* object, HandleKind kind);

}  // namespace veltrano
