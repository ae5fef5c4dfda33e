#include "platform/standin/EntryContext.h"

namespace veltrano {

EntryContext& EntryContext::OfThisThread() {
  thread_local EntryContext context;
  return context;
}

std::optional<ListedEntry> EntryContext::TakeListed(std::string_view path) {
  const Listing listed = std::exchange(listed_, Listing{});
  // The views live in the search: read only while it is the one that lent them.
  if (!IsLiveHandle(listed.search) || path.size() != listed.prefix.size() + listed.name.size() ||
      !path.starts_with(listed.prefix) || !path.ends_with(listed.name)) {
    return std::nullopt;
  }
  return ListedEntry{listed.dirFd, listed.name.data(), listed.st};
}

UniqueFd EntryContext::TakeQueried(std::string_view path) {
  HeldFile* file = queried_.file;
  if (file == nullptr || !IsLiveHandle(queried_.message) || !file->fd || file->path != path) {
    return UniqueFd();
  }
  queried_ = Query{};
  return std::move(file->fd);
}

void EntryContext::Forget(const void* owner) {
  if (listed_.search.object == owner) listed_ = Listing{};
  if (queried_.message.object == owner) queried_ = Query{};
}

}  // namespace veltrano
