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
  std::vector<std::pair<const void*, HandleKind>> live;

  auto Find(const void* object) {
    return std::find_if(live.begin(), live.end(),
                        [object](const auto& h) { return h.first == object; });
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterHandle(const void* object, HandleKind kind) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.Find(object);
  if (it != r.live.end()) {
    it->second = kind;
  } else {
    r.live.emplace_back(object, kind);
  }
}

bool IsLiveHandle(const void* object, HandleKind kind) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.Find(object);
  return it != r.live.end() && it->second == kind;
}

bool UnregisterHandle(const void* object, HandleKind kind) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.Find(object);
  if (it == r.live.end() || it->second != kind) return false;
  *it = r.live.back();
  r.live.pop_back();
  return true;
}

}  // namespace veltrano
