#include "audio_tap/AudioCapture.h"

#include "audio_tap/ProcessTap.h"

namespace brontide {

std::vector<AudioObjectID> audioProcessObjects(AudioSystem& system, std::string_view bundlePrefix) {
  std::vector<AudioObjectID> objects;
  const auto ownPid = system.ownPid();
  for (const auto& client : system.audioClients()) {
    if (client.pid == ownPid) continue;
    for (const auto& identity : client.streamIdentities) {
      if (identity && identity->starts_with(bundlePrefix)) {
        objects.push_back(client.object);
        break;
      }
    }
  }
  return objects;
}

std::vector<AudioObjectID> AudioCapture::audioProcessObjects(std::string_view bundlePrefix) {
  return brontide::audioProcessObjects(system_, bundlePrefix);
}

std::unique_ptr<CaptureTap> AudioCapture::makeTap(std::vector<AudioObjectID> processObjects, bool global) {
  return std::make_unique<ProcessTap>(system_, std::move(processObjects), global);
}

}  // namespace brontide
