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
#include "base/Error.h"

namespace brontide {

// What the controller needs of audio capture (implemented over ProcessTap in the app's wiring).

using AudioObjectID = std::uint32_t;
// Called on "brontide.tap.io" once per IO cycle; must stay short and never wait for the main thread.
using TapSink = std::function<void(SampleBlock)>;
using MakeSink = std::function<std::expected<TapSink, Error>(const AudioStreamBasicDescription&)>;

// One capture of a set of processes (or of everything). Main thread.
class CaptureTap {
 public:
  virtual ~CaptureTap() = default;
  // Calls makeSink exactly once with the format, then delivers blocks to the sink.
  [[nodiscard]] virtual std::expected<void, Error> start(const MakeSink& makeSink) = 0;
  // Safe at any time, twice, after a failed start.
  virtual void stop() = 0;
  [[nodiscard]] virtual const std::vector<AudioObjectID>& processObjects() const = 0;
  [[nodiscard]] virtual AudioStreamBasicDescription format() const = 0;
  // Names of tapped applications whose audio refuses to be diverted (it keeps playing on the output).
  [[nodiscard]] virtual std::vector<std::string> unmovableApplications() const { return {}; }
  // A failure found after start() returned (the sound server never got the tap ready); the tap delivers nothing.
  [[nodiscard]] virtual std::optional<Error> failure() const { return std::nullopt; }
};

class Capture {
 public:
  virtual ~Capture() = default;
  // Why no capture is possible at all right now (no sound server to talk to), else nothing.
  // Asked before every lookup; an implementation may try to reconnect here.
  [[nodiscard]] virtual std::optional<Error> unavailable() { return std::nullopt; }
  // Whether the sound server restarted since the last call, quicker than a check: the taps made before went with
  // it and new ones can be made at once. Asked after unavailable() found nothing.
  [[nodiscard]] virtual bool restarted() { return false; }
  // The audio process objects whose identity begins with `bundlePrefix`, in the system's order.
  [[nodiscard]] virtual std::vector<AudioObjectID> audioProcessObjects(std::string_view bundlePrefix) = 0;
  [[nodiscard]] virtual std::unique_ptr<CaptureTap> makeTap(std::vector<AudioObjectID> processObjects,
                                                           bool global) = 0;
};

}  // namespace brontide
