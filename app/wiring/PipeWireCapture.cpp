#include "app/wiring/PipeWireCapture.h"

#include "audio_tap/AudioCapture.h"
#include "audio_tap/ProcessTap.h"

namespace brontide::app {

PipeWireCapture::PipeWireCapture(Log& log, pw::PipeWireAudioSystem::Options options)
    : log_(log), retryLog_(log), options_(std::move(options)),
      system_(std::make_unique<pw::PipeWireAudioSystem>(retryLog_, options_)),
      everConnected_(system_->available()) {}

std::optional<TapError> PipeWireCapture::unavailable() {
  if (everConnected_) {
    // While the daemon is away the adapter reconnects on its own; its taps are dead until then.
    if (system_->available()) return std::nullopt;
    return TapError(kNoPipeWire);
  }
  // No tap was ever made on a connection that never worked, so it can be replaced.
  retryLog_.quiet = true;
  system_ = std::make_unique<pw::PipeWireAudioSystem>(retryLog_, options_);
  retryLog_.quiet = false;
  if (!system_->available()) return TapError(kNoPipeWire);
  everConnected_ = true;
  log_.notice("pipewire: connected to the sound server");
  return std::nullopt;
}

std::vector<AudioObjectID> PipeWireCapture::audioProcessObjects(std::string_view bundlePrefix) {
  return brontide::audioProcessObjects(*system_, bundlePrefix);
}

std::unique_ptr<CaptureTap> PipeWireCapture::makeTap(std::vector<AudioObjectID> processObjects, bool global) {
  return std::make_unique<ProcessTap>(*system_, std::move(processObjects), global);
}

}  // namespace brontide::app
