#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// Called once per PipeWire cycle with the captured interleaved stereo floats, on "brontide.tap.io".
using CaptureCallback = std::function<void(SampleBlock)>;

// An open tap on the sound server. While it lives, the tapped clients' output streams (also those they open
// later) play into a private sink and are silent on the normal output; a global tap moves nothing. Destroying it
// stops its capture first, then gives the streams back. Main thread.
class AudioTap {
 public:
  virtual ~AudioTap() = default;

  // Interleaved stereo floats at the graph's rate; nothing when that rate is unknown.
  [[nodiscard]] virtual std::optional<AudioStreamBasicDescription> format() const = 0;
  // Makes the capture stream: of the private sink, or of `output` (a node name) for a global tap.
  // Fails with CaptureNotCreated.
  [[nodiscard]] virtual std::expected<void, Error> createCapture(const std::string& output) = 0;
  // Starts calling `proc` once per cycle. After the tap is destroyed no call runs or will start.
  // Fails with CaptureNotStarted.
  [[nodiscard]] virtual std::expected<void, Error> startCapture(CaptureCallback proc) = 0;
  // Names of tapped applications whose audio could not be diverted into the tap.
  [[nodiscard]] virtual std::vector<std::string> unmovableApplications() const = 0;
  // Set once the tap turns out not to work after all (its private sink never became ready): TapNotOpened.
  [[nodiscard]] virtual std::optional<Error> failure() const { return std::nullopt; }
};

// The sound server as the capture needs it. Main thread.
class AudioSystem {
 public:
  virtual ~AudioSystem() = default;

  // The audio clients, in the server's order. Cheap: reads a live mirror.
  [[nodiscard]] virtual std::vector<AudioClient> audioClients() = 0;
  // The process this program runs in; its own clients are never captured.
  [[nodiscard]] virtual std::int32_t ownPid() const = 0;

  // Opens a tap of these clients (by serial), or of everything when `global`, without waiting for the server.
  // Fails with TapNotOpened, or RateUnknown when the private sink cannot be sized yet; a failure found later is
  // the tap's failure().
  [[nodiscard]] virtual std::expected<std::unique_ptr<AudioTap>, Error> openTap(
      const std::vector<AudioObjectID>& clients, bool global) = 0;
  // The node name of the default output; nothing when there is none.
  [[nodiscard]] virtual std::optional<std::string> defaultOutput() = 0;
};

// The serials of the audio clients that own an output stream whose identity begins with `bundlePrefix`
// (case-sensitive; empty matches all), in the server's order, without sorting or removing duplicates.
// Clients of this very process are never included. Main thread.
[[nodiscard]] std::vector<AudioObjectID> audioProcessObjects(AudioSystem& system, std::string_view bundlePrefix);

}  // namespace brontide
