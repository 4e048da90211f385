#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Log.h"
#include "linux/pipewire/FanOutSink.h"
#include "linux/pipewire/Handles.h"
#include "linux/pipewire/PwConnection.h"
#include "linux/pipewire/RaopArguments.h"
#include "linux/pipewire/RaopSink.h"
#include "linux/pipewire/SessionManagerWatch.h"
#include "speaker_browser/AirPlayOutput.h"

namespace brontide::linux::pipewire {

// Every open receiver's RaopSink and the FanOutSink that feeds them, on the "brontide.airplay" loop thread, with
// its own connection to the PipeWire daemon, made again when the daemon restarts. Constructed and destroyed on
// the main thread; post() from any thread; everything else on the loop thread, from posted work.
class ReceiverSessions {
 public:
  using SinkId = AirPlayOutput::SinkId;
  using Command = std::function<void(ReceiverSessions&)>;

  // Called on the loop thread.
  struct Events {
    std::function<void(SinkId)> connected;
    std::function<void(SinkId)> streaming;
    std::function<void(SinkId, const std::string& reason)> failed;
    // The fan-out sink of this generation is in the graph: the player may be sent there.
    std::function<void(std::uint64_t generation)> fanOutReady;
  };

  ReceiverSessions(Log& log, Events events);
  ~ReceiverSessions();
  ReceiverSessions(const ReceiverSessions&) = delete;
  ReceiverSessions& operator=(const ReceiverSessions&) = delete;

  // False when the loop could not be made or started: nothing posted would ever run.
  [[nodiscard]] bool running() const { return running_; }
  // Runs `work` on the loop thread.
  void post(Command work);
  // Closes every sink, lets their modules go and leaves the daemon; `done` then runs on the loop thread. Commands
  // posted afterwards are dropped, and the destructor finds nothing left to wait for. Any thread.
  void shutdown(std::function<void()> done);

  void open(SinkId id, AirPlayReceiver receiver, double volume);
  void close(SinkId id, bool graceful = true);
  void setVolume(SinkId id, double volume);
  void routeToReceivers();
  void routeToDefault();
  void playLocally(bool on);

 private:
  static void onWake(void* self, std::uint64_t count);
  static void onCheck(void* self, std::uint64_t expirations);
  static void onReconnect(void* self, std::uint64_t expirations);
  static void onGlobal(void* self, std::uint32_t id, std::uint32_t permissions, const char* type,
                       std::uint32_t version, const spa_dict* props);
  static void onGlobalRemove(void* self, std::uint32_t id);

  void notice(const std::string& line) { log_.notice("airplay: " + line); }
  void wakeUp();
  void settle();
  void connect();
  void coreError(std::uint32_t id, int res, const std::string& message);
  void dropGraph(const std::string& reason, bool reconnect = true);
  void global(std::uint32_t id, const char* type, const spa_dict* props);
  void globalRemove(std::uint32_t id);
  void loadFanOut();
  void destroyFanOut();
  void announceFanOut();
  void feedReceivers();
  void feedLocal();
  void loadSink(RaopSink& sink);
  void bindNode(RaopSink& sink, std::uint32_t id);
  void check();
  void managerGone();
  void managerBack();
  void fail(RaopSink& sink, const std::string& reason, bool graceful = true);
  void finishShutdown();
  void finishShutdownOnceRetired();

  Log& log_;
  Events events_;
  std::mutex commandsMutex_;
  std::deque<Command> commands_;
  bool running_ = false;

  // Members in creation order: destruction (after the loop has stopped) runs in reverse.
  PwConnection connection_;
  LoopSource wake_;
  LoopSource checkTimer_;
  LoopSource reconnectTimer_;
  PwRegistry registry_;
  HookGuard registryHook_;
  FanOutSink fanOut_;
  SessionManagerWatch manager_;
  std::uint64_t announcedFanOut_ = 0;
  std::map<SinkId, std::unique_ptr<RaopSink>> sinks_;
  std::vector<std::unique_ptr<RaopSink>> retiring_;  // closed; their modules wait for the server to drop the node
  std::map<std::uint32_t, std::string> nodeNames_;   // every node of the graph
  std::map<std::uint32_t, std::uint32_t> inputPorts_;  // every input port of the graph, to its node
  bool toReceivers_ = false;
  // The computer's output beside the receivers: a loopback from the fan-out sink's monitor to the default sink.
  bool localWanted_ = false;
  LoadedModule localBranch_;
  double localDelay_ = kRaopLatencyMs / 1000.0;  // seconds, as loaded; until a sink reports, the one we ask
  bool broken_ = false;
  // Set by shutdown(); `shutDown_` once the graph is dropped, read by the destructor under the loop lock.
  bool shuttingDown_ = false;
  bool shutDown_ = false;
  std::function<void()> shutdownDone_;
};

}  // namespace brontide::linux::pipewire
