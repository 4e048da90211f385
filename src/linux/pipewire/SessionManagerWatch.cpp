#include "linux/pipewire/SessionManagerWatch.h"

#include <cstring>

namespace brontide::linux::pipewire {

void SessionManagerWatch::global(pw_registry* registry, std::uint32_t id, const char* type, const spa_dict* props) {
  if (id_ || std::strcmp(type, PW_TYPE_INTERFACE_Metadata) != 0) return;
  const char* name = props ? spa_dict_lookup(props, "metadata.name") : nullptr;
  if (!name || std::strcmp(name, "default") != 0) return;
  proxy_.reset(static_cast<pw_proxy*>(pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0)));
  if (!proxy_) return;
  id_ = id;
  static const pw_metadata_events kEvents = [] {
    pw_metadata_events events{};
    events.version = PW_VERSION_METADATA_EVENTS;
    events.property = &SessionManagerWatch::onProperty;
    return events;
  }();
  pw_metadata_add_listener(reinterpret_cast<pw_metadata*>(proxy_.get()), hook_.arm(), &kEvents, this);
}

void SessionManagerWatch::globalRemove(std::uint32_t id) {
  if (!id_ || *id_ != id) return;
  reset();
  away_ = true;
  gone_();
}

void SessionManagerWatch::reset() {
  hook_.remove();
  proxy_.reset();
  id_.reset();
}

int SessionManagerWatch::onProperty(void* self, std::uint32_t subject, const char* key, const char*, const char* value) {
  auto& watch = *static_cast<SessionManagerWatch*>(self);
  if (watch.away_ && subject == 0 && value && key && std::strcmp(key, "default.audio.sink") == 0) {
    watch.away_ = false;
    watch.back_();
  }
  return 0;
}

}  // namespace brontide::linux::pipewire
