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

ProcessTap::ProcessTap(AudioSystem& system, std::vector<AudioObjectID> processObjects, bool global)
    : system_(system), processObjects_(std::move(processObjects)), global_(global) {}

ProcessTap::~ProcessTap() { stop(); }

std::expected<void, Error> ProcessTap::start(const MakeSink& makeSink) {
  // The private sink comes first, so the capture stream has something to capture from.
  auto tap = system_.openTap(global_ ? std::vector<AudioObjectID>{} : processObjects_, global_);
  if (!tap) return std::unexpected(std::move(tap.error()));
  tap_ = std::move(*tap);

  auto format = tap_->format();
  if (!format) return std::unexpected(Error{ErrorCode::RateUnknown, {}});
  format_ = *format;

  auto sink = makeSink(format_);
  if (!sink) return std::unexpected(std::move(sink.error()));

  auto output = system_.defaultOutput();
  if (!output) return std::unexpected(Error{ErrorCode::NoOutput, {}});

  if (auto made = tap_->createCapture(*output); !made) return std::unexpected(std::move(made.error()));
  if (auto started = tap_->startCapture(std::move(*sink)); !started) return std::unexpected(std::move(started.error()));
  return {};
}

void ProcessTap::stop() { tap_.reset(); }

std::vector<std::string> ProcessTap::unmovableApplications() const {
  return tap_ ? tap_->unmovableApplications() : std::vector<std::string>{};
}

std::optional<Error> ProcessTap::failure() const { return tap_ ? tap_->failure() : std::nullopt; }

}  // namespace brontide
