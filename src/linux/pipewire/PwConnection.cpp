#include "linux/pipewire/PwConnection.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "linux/pipewire/LibraryVersion.h"

namespace brontide::linux::pipewire {
namespace {

const pw_core_events kCoreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  return events;
}();

// Our streams' data threads ask for real time (which the session grants through RTKit or the rlimits), so a
// busy machine does not make them miss cycles. PIPEWIRE_CONFIG_NAME, when set, is left to decide.
pw_context* newContext(pw_loop* loop) {
  const char* chosen = std::getenv("PIPEWIRE_CONFIG_NAME");
  if (chosen != nullptr && *chosen != '\0') return pw_context_new(loop, nullptr, 0);
  return pw_context_new(loop, pw_properties_new(PW_KEY_CONFIG_NAME, clientConfigName(LibraryVersion::loaded()), nullptr),
                        0);
}

}  // namespace

PwConnection::PwConnection(const std::string& threadName, pw_properties* coreProperties)
    : coreProperties_(coreProperties ? pw_properties_copy(coreProperties) : nullptr),
      loop_(pw_thread_loop_new(threadName.c_str(), nullptr)) {
  if (!loop_) {
    if (coreProperties) pw_properties_free(coreProperties);
    lastError_ = -errno;
    return;
  }
  context_.reset(newContext(loop()));
  if (!context_) {
    if (coreProperties) pw_properties_free(coreProperties);
    lastError_ = -errno;
    return;
  }
  // Context and core exist before the loop runs, so nothing races with their creation.
  core_.reset(pw_context_connect(context_.get(), coreProperties, 0));
  if (!core_) {
    lastError_ = -errno;
    return;
  }
  addCoreListener();
  if (pw_thread_loop_start(loop_.get()) < 0) {
    lastError_ = -errno;
    coreListener_.remove();
    core_.reset();
    return;
  }
  connected_ = true;
}

void PwConnection::addCoreListener() {
  static const pw_core_events events = [] {
    pw_core_events e = kCoreEvents;
    e.done = &PwConnection::handleDone;
    e.error = &PwConnection::handleError;
    return e;
  }();
  pw_core_add_listener(core_.get(), coreListener_.arm(), &events, this);
}

int PwConnection::reconnect() {
  coreListener_.remove();
  connected_ = false;
  core_.reset();
  core_.reset(pw_context_connect(context_.get(), coreProperties_ ? pw_properties_copy(coreProperties_.get()) : nullptr, 0));
  if (!core_) return lastError_ = -errno;
  addCoreListener();
  connected_ = true;
  daemonGone_ = false;
  lastError_ = 0;
  lastSeq_ = -1;
  return 0;
}

PwConnection::PwConnection(const std::string& threadName, Unstarted)
    : loop_(pw_thread_loop_new(threadName.c_str(), nullptr)) {
  if (!loop_) {
    lastError_ = -errno;
    return;
  }
  context_.reset(newContext(loop()));
  if (!context_) lastError_ = -errno;
}

int PwConnection::start() {
  if (!loop_ || !context_) return lastError_;
  if (const int res = pw_thread_loop_start(loop_.get()); res < 0) return lastError_ = res;
  return 0;
}

void PwConnection::stop() {
  if (loop_) pw_thread_loop_stop(loop_.get());
}

void PwConnection::disconnect() {
  coreListener_.remove();
  connected_ = false;
  core_.reset();
}

PwConnection::~PwConnection() {
  if (loop_) {
    {
      LoopLock lock(loop_.get());
      coreListener_.remove();
      connected_ = false;
      core_.reset();
    }
    pw_thread_loop_stop(loop_.get());
  }
  context_.reset();
  loop_.reset();
}

int PwConnection::roundTrip(std::chrono::milliseconds timeout) {
  if (!core_) return lastError_ ? lastError_ : -ENOTCONN;
  const int errorsBefore = errorCount_;
  const int seq = pw_core_sync(core_.get(), PW_ID_CORE, 0);
  if (seq < 0) return seq;
  const bool done = waitUntil([&] { return lastSeq_ == seq || errorCount_ != errorsBefore; }, timeout);
  if (errorCount_ != errorsBefore) return lastError_;
  return done ? 0 : -ETIMEDOUT;
}

void PwConnection::timedWait(std::chrono::milliseconds timeout) {
  timespec abstime{};
  pw_thread_loop_get_time(loop_.get(), &abstime, std::chrono::nanoseconds(timeout).count());
  pw_thread_loop_timed_wait_full(loop_.get(), &abstime);
}

void PwConnection::handleDone(void* data, std::uint32_t id, int seq) {
  auto* self = static_cast<PwConnection*>(data);
  if (id == PW_ID_CORE) self->lastSeq_ = seq;
  self->signal();
}

void PwConnection::handleError(void* data, std::uint32_t id, int /*seq*/, int res, const char* message) {
  auto* self = static_cast<PwConnection*>(data);
  if (id == PW_ID_CORE) {
    self->lastError_ = res;
    ++self->errorCount_;
    if (res == -EPIPE) self->daemonGone_ = true;
  }
  if (self->onError) self->onError(id, res, message ? message : "");
  self->signal();
}

}  // namespace brontide::linux::pipewire
