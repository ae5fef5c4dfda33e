#include "platform/standin/Handles.h"

#include <mutex>
#include <unordered_map>

namespace veltrano {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, HandleKind> live;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterHandle(const void* object, HandleKind kind) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.live[object] = kind;
}

bool IsLiveHandle(const void* object, HandleKind kind) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.live.find(object);
  return it != r.live.end() && it->second == kind;
}

bool UnregisterHandle(const void* object, HandleKind kind) {
  if (object == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.live.find(object);
  if (it == r.live.end() || it->second != kind) return false;
  r.live.erase(it);
  return true;
}

}  // namespace veltrano
