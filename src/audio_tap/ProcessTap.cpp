#include "audio_tap/ProcessTap.h"

#include <cstdio>
#include <memory>
#include <random>

#include "audio_tap/TapIOProc.h"

namespace brontide {
namespace {

// Upper-case 8-4-4-4-12 hexadecimal, version 4.
std::string randomUUID() {
  std::random_device device;
  std::mt19937_64 engine((std::uint64_t(device()) << 32) ^ device());
  std::uint64_t high = engine(), low = engine();
  high = (high & ~0xF000ull) | 0x4000ull;
  low = (low & ~(0xC000ull << 48)) | (0x8000ull << 48);
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", unsigned(high >> 32), unsigned((high >> 16) & 0xFFFF),
                unsigned(high & 0xFFFF), unsigned(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace

ProcessTap::ProcessTap(AudioSystem& system, std::vector<AudioObjectID> processObjects, bool global)
    : system_(system), processObjects_(std::move(processObjects)), global_(global) {}

ProcessTap::~ProcessTap() { stop(); }

std::expected<void, TapError> ProcessTap::start(const MakeSink& makeSink) {
  TapDescription description;
  if (global_) {
    description.global = true;
    description.muteBehavior = TapMuteBehavior::unmuted;
  } else {
    description.processes = processObjects_;
    description.muteBehavior = TapMuteBehavior::mutedWhenTapped;
  }
  description.uuid = randomUUID();
  description.name = "Brontide";
  description.isPrivate = true;

  auto tap = system_.createProcessTap(description);
  if (!tap) return std::unexpected(TapError("No se pudo crear el tap de audio. ¿Has dado permiso de captura de audio?", tap.error()));
  tapID_ = *tap;

  auto format = system_.tapFormat(tapID_);
  if (!format) return std::unexpected(TapError("No se pudo leer el formato del tap"));
  format_ = *format;

  auto sink = makeSink(format_);
  if (!sink) return std::unexpected(sink.error());

  const AudioObjectID output = system_.defaultOutputDevice();
  auto outputUID = system_.deviceUID(output);
  if (!outputUID) return std::unexpected(TapError("No se encontró la salida de audio del sistema"));

  AggregateDeviceDescription aggregate;
  aggregate.name = "Brontide-Tap";
  aggregate.uid = randomUUID();
  aggregate.mainSubDevice = *outputUID;
  aggregate.isPrivate = true;
  aggregate.isStacked = false;
  aggregate.tapAutoStart = true;
  aggregate.subDevices = {*outputUID};
  aggregate.taps = {{.driftCompensation = true, .uid = description.uuid}};
  auto device = system_.createAggregateDevice(aggregate);
  if (!device) return std::unexpected(TapError("No se pudo crear el dispositivo agregado", device.error()));
  aggregateID_ = *device;

  // The procedure owns its state (sink, scratch) for as long as the system keeps it.
  auto proc = std::make_shared<TapIOProc>(format_, std::move(*sink));
  auto procID = system_.createIOProc(aggregateID_, [proc](AudioBufferList input) { (*proc)(input); });
  if (!procID) return std::unexpected(TapError("No se pudo crear el IOProc", procID.error()));
  procID_ = *procID;

  if (AudioStatus status = system_.startDevice(aggregateID_, *procID_); status != 0)
    return std::unexpected(TapError("No se pudo iniciar la captura", status));
  return {};
}

void ProcessTap::stop() {
  if (aggregateID_ != 0) {
    if (procID_) {
      system_.stopDevice(aggregateID_, *procID_);
      system_.destroyIOProc(aggregateID_, *procID_);
    }
    system_.destroyAggregateDevice(aggregateID_);
    aggregateID_ = 0;
  }
  procID_.reset();
  if (tapID_ != 0) {
    system_.destroyProcessTap(tapID_);
    tapID_ = 0;
  }
}

std::vector<std::string> ProcessTap::unmovableApplications() const {
  return tapID_ != 0 ? system_.unmovableApplications(tapID_) : std::vector<std::string>{};
}

}  // namespace brontide
