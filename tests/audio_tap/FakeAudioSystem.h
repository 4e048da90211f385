#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "audio_tap/AudioSystem.h"

namespace brontide::fakes {

// An in-memory audio system: records what exists and the order of calls; any step can be made to fail.
class FakeAudioSystem final : public AudioSystem {
 public:
  enum class Step { createTap, tapFormat, outputDevice, deviceUID, createAggregate, createIOProc, startDevice };

  std::vector<AudioClient> clients;
  std::int32_t pid = 4242;
  std::optional<Step> failAt;
  AudioStatus failStatus = -5;
  AudioStreamBasicDescription format{48000, kAudioFormatLinearPCM, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
                                     8, 1, 8, 2, 32, 0};

  std::vector<std::string> calls;
  std::set<AudioObjectID> taps, aggregates;
  std::set<IOProcID> procs, runningProcs;
  std::vector<TapDescription> tapDescriptions;
  std::vector<AggregateDeviceDescription> aggregateDescriptions;
  std::map<IOProcID, IOProc> procBodies;

  std::vector<AudioClient> audioClients() override { return clients; }
  std::int32_t ownPid() const override { return pid; }

  std::expected<AudioObjectID, AudioStatus> createProcessTap(const TapDescription& description) override {
    calls.push_back("createProcessTap");
    if (failAt == Step::createTap) return std::unexpected(failStatus);
    tapDescriptions.push_back(description);
    taps.insert(++nextID_);
    return nextID_;
  }
  std::optional<AudioStreamBasicDescription> tapFormat(AudioObjectID) override {
    calls.push_back("tapFormat");
    if (failAt == Step::tapFormat) return std::nullopt;
    return format;
  }
  AudioObjectID defaultOutputDevice() override {
    calls.push_back("defaultOutputDevice");
    return failAt == Step::outputDevice ? 0 : 77;
  }
  std::optional<std::string> deviceUID(AudioObjectID device) override {
    calls.push_back("deviceUID");
    if (device != 77 || failAt == Step::deviceUID) return std::nullopt;
    return "headless_out";
  }
  std::expected<AudioObjectID, AudioStatus> createAggregateDevice(const AggregateDeviceDescription& d) override {
    calls.push_back("createAggregateDevice");
    if (failAt == Step::createAggregate) return std::unexpected(failStatus);
    aggregateDescriptions.push_back(d);
    aggregates.insert(++nextID_);
    return nextID_;
  }
  std::expected<IOProcID, AudioStatus> createIOProc(AudioObjectID, IOProc proc) override {
    calls.push_back("createIOProc");
    if (failAt == Step::createIOProc) return std::unexpected(failStatus);
    procs.insert(++nextID_);
    procBodies[nextID_] = std::move(proc);
    return nextID_;
  }
  AudioStatus startDevice(AudioObjectID, IOProcID proc) override {
    calls.push_back("startDevice");
    if (failAt == Step::startDevice) return failStatus;
    runningProcs.insert(proc);
    return 0;
  }
  void stopDevice(AudioObjectID, IOProcID proc) override {
    calls.push_back("stopDevice");
    runningProcs.erase(proc);
  }
  void destroyIOProc(AudioObjectID, IOProcID proc) override {
    calls.push_back("destroyIOProc");
    procs.erase(proc);
    procBodies.erase(proc);
  }
  void destroyAggregateDevice(AudioObjectID device) override {
    calls.push_back("destroyAggregateDevice");
    aggregates.erase(device);
  }
  void destroyProcessTap(AudioObjectID tap) override {
    calls.push_back("destroyProcessTap");
    taps.erase(tap);
  }
  std::vector<std::string> unmovableApplications(AudioObjectID) override { return {}; }

  [[nodiscard]] bool empty() const { return taps.empty() && aggregates.empty() && procs.empty() && runningProcs.empty(); }

  // Runs one IO cycle of every running procedure.
  void cycle(AudioBufferList input) {
    for (auto proc : runningProcs) procBodies.at(proc)(input);
  }

 private:
  AudioObjectID nextID_ = 100;
};

}  // namespace brontide::fakes
