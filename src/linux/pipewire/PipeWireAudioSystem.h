#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio_tap/ApplicationIdentity.h"
#include "audio_tap/AudioSystem.h"
#include "base/Log.h"
#include "linux/pipewire/Handles.h"
#include "linux/pipewire/PwConnection.h"
#include "linux/pipewire/StreamMover.h"

namespace brontide::pw {

// The AudioSystem on PipeWire. A live mirror of clients, nodes, ports, links and the "default" and
// "settings" metadata is kept on the "brontide.pipewire" loop; taps are a private virtual sink into which
// the tapped clients' output streams are moved, and their capture streams run on "brontide.tap.io".
// Public calls come from the main thread. Needs pw_init() beforehand.
class PipeWireAudioSystem final : public AudioSystem, private StreamMover::Backend {
 public:
  struct Options {
    std::string sinkName = "brontide_tap";  // stable: a per-run name makes the session manager's state grow
    std::string sinkDescription = "Brontide";
    // Lookups used by audioClients() (on the calling thread); defaults to the real file system.
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

  std::vector<AudioClient> audioClients() override;
  std::int32_t ownPid() const override;
  std::expected<AudioObjectID, AudioStatus> createProcessTap(const TapDescription& description) override;
  std::optional<AudioStreamBasicDescription> tapFormat(AudioObjectID tap) override;
  AudioObjectID defaultOutputDevice() override;
  std::optional<std::string> deviceUID(AudioObjectID device) override;
  std::expected<AudioObjectID, AudioStatus> createAggregateDevice(const AggregateDeviceDescription& description) override;
  std::expected<IOProcID, AudioStatus> createIOProc(AudioObjectID device, IOProc proc) override;
  AudioStatus startDevice(AudioObjectID device, IOProcID proc) override;
  void stopDevice(AudioObjectID device, IOProcID proc) override;
  void destroyIOProc(AudioObjectID device, IOProcID proc) override;
  void destroyAggregateDevice(AudioObjectID device) override;
  void destroyProcessTap(AudioObjectID tap) override;
  std::vector<std::string> unmovableApplications(AudioObjectID tap) override;

  // The tap sink's node id while it exists (diagnostics and tests).
  [[nodiscard]] std::optional<std::uint32_t> tapSinkNode() const;

 private:
  struct Object;
  struct Metadata;
  struct Sink;
  struct Tap;
  struct Aggregate;
  using TimePoint = std::chrono::steady_clock::time_point;

  // StreamMover::Backend, on the loop thread.
  std::optional<MetadataValue> read(std::uint32_t node, std::string_view key) override;
  void write(std::uint32_t node, std::string_view key, const std::optional<MetadataValue>& value) override;

  static void onGlobal(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
                       std::uint32_t version, const spa_dict* props);
  static void onGlobalRemove(void* data, std::uint32_t id);
  static void onTimer(void* data, std::uint64_t expirations);

  void addRegistry();
  void reconnectDaemon();
  void bindObject(std::uint32_t id, const char* type, std::uint32_t version, const spa_dict* props);
  void bindMetadata(std::uint32_t id, std::uint32_t version, const std::string& name);
  void objectPropsChanged(Object& object);
  void metadataChanged(Metadata& metadata, std::uint32_t subject, const char* key, const char* type, const char* value);
  void defaultMetadataGone();

  [[nodiscard]] std::uint32_t graphRate() const;
  [[nodiscard]] std::optional<std::string> defaultSinkName() const;
  [[nodiscard]] const Object* nodeBySerial(AudioObjectID serial) const;
  [[nodiscard]] bool sinkReady() const;
  int createSink(std::uint32_t rate);
  void destroySink();
  void checkSinkReady();
  void clearLeftovers();
  void moveStreams(Tap& tap);
  void moveStream(Tap& tap, const Object& node);
  void checkMoved(AudioObjectID tap, std::uint32_t node);
  void reconnectCaptureStreams();
  int connectCapture(Aggregate& aggregate);
  void armTimer();
  void waitForSinkUnlinked(std::chrono::milliseconds timeout);
  [[nodiscard]] bool linked(std::uint32_t output, std::uint32_t input) const;
  [[nodiscard]] bool hasLinks(std::uint32_t node, bool asOutput) const;
  void linkNodes(std::uint32_t output, std::uint32_t input);
  void checkLinksByHand();
  [[nodiscard]] std::optional<std::uint32_t> nodeIdByName(const std::string& name) const;

  Log& log_;
  Options options_;
  IdentityLookups lookups_;
  // Declared in creation order; torn down explicitly in the destructor.
  std::unique_ptr<PwConnection> connection_;
  std::unique_ptr<PwConnection> io_;
  pw_registry* registry_ = nullptr;
  HookGuard registryListener_;
  spa_source* timer_ = nullptr;
  bool closing_ = false;

  // Loop state, guarded by the "brontide.pipewire" loop lock.
  std::uint64_t nextOrder_ = 0;
  std::map<std::uint32_t, std::unique_ptr<Object>> objects_;  // nodes and clients by id
  struct Port {
    std::uint32_t node;
    bool output;
    std::string channel;
  };
  std::map<std::uint32_t, Port> ports_;
  struct Link {
    std::uint32_t outputNode;
    std::uint32_t inputNode;
  };
  std::map<std::uint32_t, Link> links_;
  std::unique_ptr<Metadata> defaultMetadata_;
  std::unique_ptr<Metadata> settingsMetadata_;
  std::unique_ptr<Sink> sink_;
  std::map<AudioObjectID, std::unique_ptr<Tap>> taps_;
  StreamMover mover_{*this};
  bool rebuildPending_ = false;
  // After a session manager restart it never links nodes that existed before it (WirePlumber 0.4.13):
  // the tap then links its own streams and gives them back to the default sink itself.
  bool linksByHand_ = false;
  std::optional<TimePoint> nextLinkCheck_;
  std::vector<std::uint32_t> givenBack_;  // streams to link to the default sink if left unlinked
  std::vector<PwProxy> ownLinks_;
  // The daemon hung up: the mirror is dropped and the connection retried with a growing delay.
  std::optional<TimePoint> reconnectAt_;
  std::chrono::milliseconds reconnectDelay_{250};
  std::uint64_t connections_ = 0;
  struct MoveCheck {
    TimePoint at;
    AudioObjectID tap;
    std::uint32_t node;
  };
  std::vector<MoveCheck> moveChecks_;
  AudioObjectID nextTapID_ = 0;

  // Guarded by the "brontide.tap.io" loop lock; created and destroyed on the main thread.
  std::map<AudioObjectID, std::unique_ptr<Aggregate>> aggregates_;
  AudioObjectID nextAggregateID_ = 0;
  IOProcID nextProcID_ = 0;
};

}  // namespace brontide::pw
