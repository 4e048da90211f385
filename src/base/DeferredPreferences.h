#pragma once

#include <map>
#include <memory>
#include <string>

#include "base/MainQueue.h"
#include "base/Preferences.h"

namespace brontide {

// Preferences whose values are current at once and reach `store` at most once per kWriteInterval, or at flush():
// a volume drag would otherwise rewrite the settings file at every step. Main thread.
class DeferredPreferences final : public Preferences {
 public:
  static constexpr MainQueue::Duration kWriteInterval{500};

  DeferredPreferences(Preferences& store, MainQueue& queue) : store_(store), queue_(queue) {}
  // Writes what is still pending.
  ~DeferredPreferences() override { flush(); }
  DeferredPreferences(const DeferredPreferences&) = delete;
  DeferredPreferences& operator=(const DeferredPreferences&) = delete;

  [[nodiscard]] std::optional<std::string> value(std::string_view key) const override;
  void setValue(std::string_view key, std::string_view value) override;
  void flush() override;

 private:
  Preferences& store_;
  MainQueue& queue_;
  std::map<std::string, std::string, std::less<>> pending_;
  bool writeScheduled_ = false;
  // The scheduled write holds this weakly: it may come due after the preferences are gone.
  std::shared_ptr<DeferredPreferences*> self_ = std::make_shared<DeferredPreferences*>(this);
};

}  // namespace brontide
