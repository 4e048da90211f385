#pragma once

#include <string_view>
#include <vector>

#include "audio_tap/AudioSystem.h"
#include "controller/Capture.h"

namespace brontide {

// The serials of the audio clients that own an output stream whose identity begins with `bundlePrefix`
// (case-sensitive; empty matches all), in the server's order, without sorting or removing duplicates.
// Clients of this very process are never included. Main thread.
[[nodiscard]] std::vector<AudioObjectID> audioProcessObjects(AudioSystem& system, std::string_view bundlePrefix);

// The controller's capture port over an AudioSystem. Main thread.
class AudioCapture final : public Capture {
 public:
  // `system` must outlive this object and every tap it makes.
  explicit AudioCapture(AudioSystem& system) : system_(system) {}

  [[nodiscard]] std::vector<AudioObjectID> audioProcessObjects(std::string_view bundlePrefix) override;
  [[nodiscard]] std::unique_ptr<CaptureTap> makeTap(std::vector<AudioObjectID> processObjects, bool global) override;

 private:
  AudioSystem& system_;
};

}  // namespace brontide
