#include "linux/pipewire/PipeWireCapture.h"

#include "audio_tap/ProcessTap.h"

namespace brontide::linux::pipewire {

PipeWireCapture::PipeWireCapture(Log& log, PipeWireAudioSystem::Options options)
    : log_(log), retryLog_(log), options_(std::move(options)),
      system_(std::make_unique<PipeWireAudioSystem>(retryLog_, options_)),
      everConnected_(system_->available()),
      connections_(system_->connections()) {}

std::optional<Error> PipeWireCapture::unavailable() {
  if (everConnected_) {
    // The adapter reconnects on its own with a growing delay; a daemon already back is reached within this check,
    // so a restart never shows as an absence.
    if (!system_->available() && !system_->reconnectNow()) return Error{ErrorCode::NoSoundServer, {}};
    return std::nullopt;
  }
  // No tap was ever made on a connection that never worked, so it can be replaced.
  retryLog_.quiet = true;
  system_ = std::make_unique<PipeWireAudioSystem>(retryLog_, options_);
  retryLog_.quiet = false;
  if (!system_->available()) return Error{ErrorCode::NoSoundServer, {}};
  everConnected_ = true;
  connections_ = system_->connections();
  log_.notice("pipewire: connected to the sound server");
  return std::nullopt;
}

bool PipeWireCapture::restarted() {
  // A restart still killed the taps, and the new daemon may hand the same serials to the same apps.
  const auto connections = system_->connections();
  if (!everConnected_ || connections == connections_) return false;
  connections_ = connections;
  log_.notice("pipewire: the sound server restarted; tapping again");
  return true;
}

std::vector<AudioObjectID> PipeWireCapture::audioProcessObjects(std::string_view bundlePrefix) {
  return brontide::audioProcessObjects(*system_, bundlePrefix);
}

std::unique_ptr<CaptureTap> PipeWireCapture::makeTap(std::vector<AudioObjectID> processObjects, bool global) {
  return std::make_unique<ProcessTap>(*system_, std::move(processObjects), global);
}

}  // namespace brontide::linux::pipewire
