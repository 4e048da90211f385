#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/AudioFormat.h"
#include "controller/Capture.h"

namespace brontide {

// One audio client of the sound server as the capture lookup and the app list see it.
struct AudioClient {
  AudioObjectID object = 0;          // the client's serial: never reused, unlike its id
  std::optional<std::int32_t> pid;   // the application's process, when known
  std::string name;                  // application.name, possibly empty
  std::optional<std::string> identity;  // the application identity (first output stream's, else the client's own)
  // The identity of each output stream ("Stream/Output/Audio") the client owns, in the server's order;
  // absent where it cannot be worked out.
  std::vector<std::optional<std::string>> streamIdentities;

  [[nodiscard]] bool playsAudio() const { return !streamIdentities.empty(); }
};

// What a tap captures and whether the tapped clients go silent on the normal output.
enum class TapMuteBehavior : std::int32_t { unmuted = 0, mutedWhenTapped = 2 };

struct TapDescription {
  std::vector<AudioObjectID> processes;  // ignored when global
  bool global = false;
  std::string uuid;
  std::string name;
  bool isPrivate = true;
  TapMuteBehavior muteBehavior = TapMuteBehavior::unmuted;
};

// The device that carries a tap: the capture of the tap's mix, clocked by the main sub-device.
struct AggregateDeviceDescription {
  std::string name;
  std::string uid;
  std::string mainSubDevice;  // the output device's unique identifier
  bool isPrivate = true;
  bool isStacked = false;
  bool tapAutoStart = true;
  std::vector<std::string> subDevices;
  struct SubTap {
    bool driftCompensation = true;
    std::string uid;  // the tap description's UUID
  };
  std::vector<SubTap> taps;
};

// One buffer of an IO cycle's input.
struct AudioBuffer {
  std::uint32_t numberChannels = 0;
  std::uint32_t dataByteSize = 0;
  const void* data = nullptr;
};
using AudioBufferList = std::span<const AudioBuffer>;
// Runs on the IO thread ("brontide.tap.io") once per cycle.
using IOProc = std::function<void(AudioBufferList input)>;
using IOProcID = std::uint64_t;

// A failed call's library result code (negative errno on PipeWire); never 0.
using AudioStatus = std::int32_t;

// The sound server's object model as the capture code needs it. Queries and tap calls come from the
// main thread; the IO procedures run on the system's IO thread.
class AudioSystem {
 public:
  virtual ~AudioSystem() = default;

  // The audio clients, in the server's order. Cheap: reads a live mirror.
  [[nodiscard]] virtual std::vector<AudioClient> audioClients() = 0;
  // The process this program runs in; its own clients are never captured.
  [[nodiscard]] virtual std::int32_t ownPid() const = 0;

  [[nodiscard]] virtual std::expected<AudioObjectID, AudioStatus> createProcessTap(const TapDescription&) = 0;
  [[nodiscard]] virtual std::optional<AudioStreamBasicDescription> tapFormat(AudioObjectID tap) = 0;
  // The default output device; 0 when there is none.
  [[nodiscard]] virtual AudioObjectID defaultOutputDevice() = 0;
  [[nodiscard]] virtual std::optional<std::string> deviceUID(AudioObjectID device) = 0;
  [[nodiscard]] virtual std::expected<AudioObjectID, AudioStatus> createAggregateDevice(
      const AggregateDeviceDescription&) = 0;
  [[nodiscard]] virtual std::expected<IOProcID, AudioStatus> createIOProc(AudioObjectID device, IOProc proc) = 0;
  // 0 on success.
  [[nodiscard]] virtual AudioStatus startDevice(AudioObjectID device, IOProcID proc) = 0;
  // After it returns no IO procedure call runs or will start.
  virtual void stopDevice(AudioObjectID device, IOProcID proc) = 0;
  virtual void destroyIOProc(AudioObjectID device, IOProcID proc) = 0;
  virtual void destroyAggregateDevice(AudioObjectID device) = 0;
  virtual void destroyProcessTap(AudioObjectID tap) = 0;

  // Names of tapped applications whose audio could not be diverted into the tap.
  [[nodiscard]] virtual std::vector<std::string> unmovableApplications(AudioObjectID tap) = 0;
};

}  // namespace brontide
