#pragma once

#include <dirent.h>
#include <pipewire/impl.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <unistd.h>

#include <cstdint>

#include <functional>
#include <string>
#include <utility>

#include "base/Fd.h"
#include "base/Owned.h"

namespace brontide::linux::pipewire {

using PwThreadLoop = Owned<pw_thread_loop, pw_thread_loop_destroy>;
using PwContext = Owned<pw_context, pw_context_destroy>;
using PwProperties = Owned<pw_properties, pw_properties_free>;
using PwStream = Owned<pw_stream, pw_stream_destroy>;
using PwProxy = Owned<pw_proxy, pw_proxy_destroy>;

inline void disconnectCore(pw_core* core) { pw_core_disconnect(core); }
using PwCore = Owned<pw_core, disconnectCore>;
inline void destroyRegistry(pw_registry* registry) { pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry)); }
using PwRegistry = Owned<pw_registry, destroyRegistry>;
using PwModule = Owned<pw_impl_module, pw_impl_module_destroy>;

// A timer, I/O or event source of a pw_loop, destroyed with it; the loop must outlive the guard.
class LoopSource {
 public:
  LoopSource() = default;
  LoopSource(pw_loop* loop, spa_source* source) : loop_(loop), source_(source) {}
  ~LoopSource() { reset(); }
  LoopSource(LoopSource&& other) noexcept
      : loop_(std::exchange(other.loop_, nullptr)), source_(std::exchange(other.source_, nullptr)) {}
  LoopSource& operator=(LoopSource&& other) noexcept {
    if (this != &other) {
      reset();
      loop_ = std::exchange(other.loop_, nullptr);
      source_ = std::exchange(other.source_, nullptr);
    }
    return *this;
  }

  [[nodiscard]] spa_source* get() const { return source_; }
  explicit operator bool() const { return source_ != nullptr; }
  void reset() {
    if (source_) pw_loop_destroy_source(loop_, source_);
    source_ = nullptr;
  }

 private:
  pw_loop* loop_ = nullptr;
  spa_source* source_ = nullptr;
};

// Removes a listener hook on destruction; the object it listens to must still exist then.
class HookGuard {
 public:
  HookGuard() { spa_zero(hook_); }
  ~HookGuard() { remove(); }
  HookGuard(const HookGuard&) = delete;
  HookGuard& operator=(const HookGuard&) = delete;

  spa_hook* get() { return &hook_; }
  // Marks the hook as added (the add_listener call has filled it in).
  spa_hook* arm() {
    armed_ = true;
    return &hook_;
  }
  void remove() {
    if (armed_) spa_hook_remove(&hook_);
    armed_ = false;
  }

 private:
  spa_hook hook_;
  bool armed_ = false;
};

// Holds a thread loop's lock for a scope. Never from the loop's own thread.
class LoopLock {
 public:
  explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
  ~LoopLock() { pw_thread_loop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pw_thread_loop* loop_;
};

using Directory = Owned<DIR, closedir>;

// Arms a timer source of `loop` to fire once after `seconds`, or every `seconds` with `repeat`.
inline void armTimer(pw_loop* loop, const LoopSource& timer, int seconds, bool repeat = false) {
  timespec when{.tv_sec = seconds, .tv_nsec = 0};
  pw_loop_update_timer(loop, timer.get(), &when, repeat ? &when : nullptr, false);
}

// A module loaded into this process that may also unload itself (a raop sink after a stream error, a loopback
// when one of its ends goes): the guard then lets go of it and calls `gone` on the loop thread. reset() unloads
// it without calling `gone`.
class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule() { reset(); }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // False, with errno set, when the module did not load.
  bool load(pw_context* context, const char* name, const std::string& args, std::function<void()> gone) {
    reset();
    module_.reset(pw_context_load_module(context, name, args.c_str(), nullptr));
    if (!module_) return false;
    gone_ = std::move(gone);
    static const pw_impl_module_events kEvents = [] {
      pw_impl_module_events events{};
      events.version = PW_VERSION_IMPL_MODULE_EVENTS;
      events.destroy = &LoadedModule::onDestroy;
      return events;
    }();
    pw_impl_module_add_listener(module_.get(), hook_.arm(), &kEvents, this);
    return true;
  }
  explicit operator bool() const { return module_ != nullptr; }
  void reset() {
    hook_.remove();
    module_.reset();
  }

 private:
  static void onDestroy(void* data) {
    auto& self = *static_cast<LoadedModule*>(data);
    self.hook_.remove();
    (void)self.module_.release();
    if (self.gone_) self.gone_();
  }

  PwModule module_;
  HookGuard hook_;
  std::function<void()> gone_;
};

// The core's registry, listened to by `global` and `globalRemove` with `data`; the hook is removed before the
// registry goes when declared after it.
template <auto Global, auto GlobalRemove>
PwRegistry listenToRegistry(pw_core* core, HookGuard& hook, void* data) {
  static const pw_registry_events kEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = Global;
    events.global_remove = GlobalRemove;
    return events;
  }();
  PwRegistry registry(pw_core_get_registry(core, PW_VERSION_REGISTRY, 0));
  if (registry) pw_registry_add_listener(registry.get(), hook.arm(), &kEvents, data);
  return registry;
}

// The EnumFormat of our streams: 32-bit float, stereo (FL FR), at `rate`, built in `builder`.
inline const spa_pod* stereoFloatFormat(spa_pod_builder& builder, std::uint32_t rate) {
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_F32;
  info.rate = rate;
  info.channels = 2;
  info.position[0] = SPA_AUDIO_CHANNEL_FL;
  info.position[1] = SPA_AUDIO_CHANNEL_FR;
  return spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info);
}

}  // namespace brontide::linux::pipewire
