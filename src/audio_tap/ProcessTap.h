#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio_tap/AudioSystem.h"
#include "controller/Capture.h"

namespace brontide {

// Captures the mixed output of a set of audio clients (or of everything) and hands it to a sink as
// interleaved stereo floats. Main thread; the sink runs on "brontide.tap.io". Started once.
class ProcessTap final : public CaptureTap {
 public:
  // `system` must outlive the tap.
  ProcessTap(AudioSystem& system, std::vector<AudioObjectID> processObjects, bool global);
  ~ProcessTap() override;

  ProcessTap(const ProcessTap&) = delete;
  ProcessTap& operator=(const ProcessTap&) = delete;

  [[nodiscard]] std::expected<void, Error> start(const MakeSink& makeSink) override;
  void stop() override;
  [[nodiscard]] const std::vector<AudioObjectID>& processObjects() const override { return processObjects_; }
  [[nodiscard]] AudioStreamBasicDescription format() const override { return format_; }
  [[nodiscard]] std::vector<std::string> unmovableApplications() const override;
  [[nodiscard]] std::optional<Error> failure() const override;

  [[nodiscard]] bool global() const { return global_; }
  [[nodiscard]] bool running() const { return tap_ != nullptr; }

 private:
  AudioSystem& system_;
  std::vector<AudioObjectID> processObjects_;
  bool global_;
  AudioStreamBasicDescription format_{};
  std::unique_ptr<AudioTap> tap_;
};

}  // namespace brontide
