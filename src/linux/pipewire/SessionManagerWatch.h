#pragma once

#include <pipewire/extensions/metadata.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "linux/pipewire/Handles.h"

namespace brontide::linux::pipewire {

// Tells when the session manager goes (its "default" metadata leaves the registry) and when it is back (it
// publishes a default sink again, by which time its policy links new streams). Fed by a registry listener; loop
// thread only.
class SessionManagerWatch {
 public:
  SessionManagerWatch(std::function<void()> gone, std::function<void()> back)
      : gone_(std::move(gone)), back_(std::move(back)) {}

  void global(pw_registry* registry, std::uint32_t id, const char* type, const spa_dict* props);
  void globalRemove(std::uint32_t id);
  // The daemon connection is gone: forget the metadata without calling gone.
  void reset();

  [[nodiscard]] bool away() const { return away_; }

 private:
  static int onProperty(void* self, std::uint32_t subject, const char* key, const char* type, const char* value);

  std::function<void()> gone_;
  std::function<void()> back_;
  std::optional<std::uint32_t> id_;
  PwProxy proxy_;
  HookGuard hook_;
  bool away_ = false;
};

}  // namespace brontide::linux::pipewire
