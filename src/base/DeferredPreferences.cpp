#include "base/DeferredPreferences.h"

namespace brontide {

std::optional<std::string> DeferredPreferences::value(std::string_view key) const {
  if (const auto pending = pending_.find(key); pending != pending_.end()) return pending->second;
  return store_.value(key);
}

void DeferredPreferences::setValue(std::string_view key, std::string_view value) {
  pending_.insert_or_assign(std::string(key), std::string(value));
  if (writeScheduled_) return;
  writeScheduled_ = true;
  queue_.postDelayed(kWriteInterval, [weak = std::weak_ptr(self_)] {
    if (const auto self = weak.lock()) {
      (*self)->writeScheduled_ = false;
      (*self)->flush();
    }
  });
}

void DeferredPreferences::flush() {
  if (pending_.empty()) return;
  for (const auto& [key, value] : pending_) store_.setValue(key, value);
  pending_.clear();
  store_.flush();
}

}  // namespace brontide
