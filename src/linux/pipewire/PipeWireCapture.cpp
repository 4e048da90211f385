#include "linux/pipewire/PipeWireCapture.h"

#include "audio_tap/ProcessTap.h"

namespace brontide::linux::pipewire {

PipeWireCapture::PipeWireCapture(Log& log, PipeWireAudioSystem::Options options)
    : log_(log), retryLog_(log), options_(std::move(options)),
      system_(std::make_unique<PipeWireAudioSystem>(retryLog_, options_)),
      everConnected_(system_->available()),
      connections_(system_->connections()) {}

std::optional<TapError> PipeWireCapture::unavailable() {
  if (everConnected_) {
    // While the daemon is away the adapter reconnects on its own; its taps are dead until then.
    if (!system_->available()) return TapError(kNoPipeWire);
    // A restart quicker than a check still killed the taps, and the new daemon may hand the same
    // serials to the same apps: report the gap once, so the caller drops them and taps anew.
    const auto connections = system_->connections();
    if (connections == connections_) return std::nullopt;
    connections_ = connections;
    log_.notice("pipewire: the sound server restarted; tapping again");
    return TapError(kNoPipeWire);
  }
  // No tap was ever made on a connection that never worked, so it can be replaced.
  retryLog_.quiet = true;
  system_ = std::make_unique<PipeWireAudioSystem>(retryLog_, options_);
  retryLog_.quiet = false;
  if (!system_->available()) return TapError(kNoPipeWire);
  everConnected_ = true;
  connections_ = system_->connections();
  log_.notice("pipewire: connected to the sound server");
  return std::nullopt;
}

std::vector<AudioObjectID> PipeWireCapture::audioProcessObjects(std::string_view bundlePrefix) {
  return brontide::audioProcessObjects(*system_, bundlePrefix);
}

std::unique_ptr<CaptureTap> PipeWireCapture::makeTap(std::vector<AudioObjectID> processObjects, bool global) {
  return std::make_unique<ProcessTap>(*system_, std::move(processObjects), global);
}

}  // namespace brontide::linux::pipewire
