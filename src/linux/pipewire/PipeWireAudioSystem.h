#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio_tap/AudioSystem.h"
#include "base/Log.h"
#include "linux/pipewire/ApplicationIdentity.h"
#include "linux/pipewire/CaptureStreams.h"
#include "linux/pipewire/Graph.h"
#include "linux/pipewire/LinkRepair.h"
#include "linux/pipewire/PrivateSink.h"
#include "linux/pipewire/PwConnection.h"

namespace brontide::linux::pipewire {

// The AudioSystem on PipeWire: a live mirror of the graph on the "brontide.pipewire" loop, a private sink the
// tapped clients' streams are moved into, and capture streams on "brontide.tap.io". Follows the daemon through
// restarts (reconnecting with a growing delay) and the session manager through its own (rebuilding the tap).
// Public calls come from the main thread. Needs pw_init() beforehand.
class PipeWireAudioSystem final : public AudioSystem, private Graph::Listener {
 public:
  struct Options {
    std::string sinkName = "brontide_tap";
    std::string sinkDescription = "Brontide";
    // Lookups used by audioClients() (on the calling thread); defaults to /proc alone.
    std::optional<IdentityLookups> lookups;
  };

  explicit PipeWireAudioSystem(Log& log) : PipeWireAudioSystem(log, Options{}) {}
  PipeWireAudioSystem(Log& log, Options options);
  ~PipeWireAudioSystem() override;

  PipeWireAudioSystem(const PipeWireAudioSystem&) = delete;
  PipeWireAudioSystem& operator=(const PipeWireAudioSystem&) = delete;

  // False when no PipeWire daemon could be reached (or it has gone away).
  [[nodiscard]] bool available() const;
  // How many times a daemon was reached; a new count means the taps made before went with the old one.
  [[nodiscard]] std::uint64_t connections() const;
  // While the daemon is away, tries to reach it now instead of at the next retry; true once connected.
  [[nodiscard]] bool reconnectNow();

  std::vector<AudioClient> audioClients() override;
  std::int32_t ownPid() const override;
  std::expected<std::unique_ptr<AudioTap>, Error> openTap(const std::vector<AudioObjectID>& clients,
                                                               bool global) override;
  std::optional<std::string> defaultOutput() override;

  // Shutdown without waiting on the calling thread: the captures go, every moved stream is given back while the
  // private sink lives, and the loop thread destroys the sink once the session manager has relinked them (or
  // after a bound). `done` then runs on the loop thread, or at once without a daemon; the destructor has
  // nothing left to wait for. Main thread, once.
  void shutdown(std::function<void()> done);

  // The private sink's node id while it exists (diagnostics and tests).
  [[nodiscard]] std::optional<std::uint32_t> tapSinkNode() const;

 private:
  class Tap;
  using TimePoint = std::chrono::steady_clock::time_point;
  struct TapState {
    bool global;
    std::uint32_t rate;
    // Until then the private sink may still become ready; after it, `error` says why it did not.
    std::optional<TimePoint> readyBy{};
    int error = 0;
  };

  // Graph::Listener, on the loop thread.
  void nodeChanged(const Node& node) override;
  void clientChanged(const Client& client) override;
  void portAdded(const Port& port) override;
  void nodeRemoved(std::uint32_t node) override;
  void defaultSinkPublished() override;
  void defaultMetadataGone() override;

  static void onTimer(void* data, std::uint64_t expirations);
  void coreError(std::uint32_t id, int res, const std::string& message);
  void reconnectDaemon();
  void armTimer();
  [[nodiscard]] bool closeCaptures();
  void stepShutdown();
  void closeTap(std::uint64_t id, std::optional<std::uint64_t> capture);
  // Fails the taps whose private sink the server refused or did not make ready in time.
  void checkPendingTaps(TimePoint now);

  Log& log_;
  Options options_;
  IdentityLookups lookups_;
  // Declared in creation order, destroyed in reverse: captures, then the graph's users, then the connection.
  PwConnection connection_;
  Graph graph_{connection_, *this};
  PrivateSink sink_;
  LinkRepair repair_{connection_, graph_, log_};
  LoopSource timer_;
  std::unique_ptr<CaptureStreams> captures_;

  // Loop state, guarded by the "brontide.pipewire" loop lock.
  bool closing_ = false;
  std::map<std::uint64_t, TapState> taps_;
  std::uint64_t nextTap_ = 0;
  bool rebuildPending_ = false;
  // The daemon hung up: the mirror is dropped and the connection retried with a growing delay.
  std::optional<TimePoint> reconnectAt_;
  std::chrono::milliseconds reconnectDelay_{250};
  std::uint64_t connections_ = 0;
  // shutdown()'s callback while the sink closes, and whether it has.
  std::function<void()> shutdownDone_;
  bool closed_ = false;
};

}  // namespace brontide::linux::pipewire
