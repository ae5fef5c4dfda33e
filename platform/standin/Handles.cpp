#include "platform/standin/Handles.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace veltrano {
namespace {

// The live handles, few at any time (a search, a file, a message and its
// store): a flat list is searched faster than a table is kept, and takes no
// allocation per handle once it has grown.
struct Registry {
  std::mutex mutex;
  std::vector<HandleRef> live;
  std::uint64_t lastSerial = 0;

  auto Find(const void* object) {
    return std::find_if(live.begin(), live.end(),
                        [object](const HandleRef& h) { return h.object == object; });
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

HandleRef RegisterHandle(const void* object, HandleKind kind) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const HandleRef handle{object, kind, ++r.lastSerial};
  const auto it = r.Find(object);
  if (it != r.live.end()) {
    *it = handle;
  } else {
    r.live.push_back(handle);
  }
  return handle;
}

bool IsLiveHandle(const void* object, HandleKind kind) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.Find(object);
  return it != r.live.end() && it->kind == kind;
}

bool IsLiveHandle(const HandleRef& handle) {
  if (handle.object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.Find(handle.object);
  return it != r.live.end() && it->serial == handle.serial;
}

bool UnregisterHandle(const void* object, HandleKind kind) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.Find(object);
  if (it == r.live.end() || it->kind != kind) return false;
  *it = r.live.back();
  r.live.pop_back();
  return true;
}

}  // namespace veltrano
