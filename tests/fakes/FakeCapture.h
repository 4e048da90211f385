#pragma once

#include <algorithm>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controller/Capture.h"

namespace brontide::fakes {

// What one tap was asked and did; outlives the tap so tests can look after it is dropped.
struct TapRecord {
  std::vector<AudioObjectID> processObjects;
  bool global = false;
  bool started = false;
  int stops = 0;
  bool destroyed = false;
  AudioStreamBasicDescription format;
  std::vector<std::string> unmovable;  // what unmovableApplications() reports

  // Hands a block to the tap's sink, as its IO thread would; false when there is no live sink.
  bool deliver(SampleBlock block) {
    std::lock_guard guard(mutex);
    if (!sink) return false;
    sink(block);
    return true;
  }

  std::mutex mutex;  // guards `sink`: a test may deliver from another thread
  TapSink sink;
};

class FakeTap final : public CaptureTap {
 public:
  FakeTap(std::shared_ptr<TapRecord> record, std::optional<TapError> failure)
      : record_(std::move(record)), failure_(std::move(failure)) {}
  ~FakeTap() override {
    record_->destroyed = true;
    dropSink();
  }

  std::expected<void, TapError> start(const MakeSink& makeSink) override {
    if (failure_) return std::unexpected(*failure_);
    auto sink = makeSink(record_->format);
    if (!sink) return std::unexpected(sink.error());
    std::lock_guard guard(record_->mutex);
    record_->sink = std::move(*sink);
    record_->started = true;
    return {};
  }
  void stop() override {
    ++record_->stops;
    dropSink();
  }
  [[nodiscard]] const std::vector<AudioObjectID>& processObjects() const override { return record_->processObjects; }
  [[nodiscard]] AudioStreamBasicDescription format() const override { return record_->format; }
  [[nodiscard]] std::vector<std::string> unmovableApplications() const override { return record_->unmovable; }

 private:
  void dropSink() {
    std::lock_guard guard(record_->mutex);
    record_->sink = nullptr;
  }
  std::shared_ptr<TapRecord> record_;
  std::optional<TapError> failure_;
};

// Running audio processes by identity; every tap made is recorded in `taps`. Main thread.
class FakeCapture final : public Capture {
 public:
  struct Process {
    AudioObjectID id;
    std::string bundleID;
  };

  std::optional<TapError> unavailable() override { return unavailability; }

  std::vector<AudioObjectID> audioProcessObjects(std::string_view bundlePrefix) override {
    ++queries;
    std::vector<AudioObjectID> found;
    for (const auto& p : processes) {
      if (p.bundleID.starts_with(bundlePrefix)) found.push_back(p.id);
    }
    return found;
  }

  std::unique_ptr<CaptureTap> makeTap(std::vector<AudioObjectID> processObjects, bool global) override {
    auto record = std::make_shared<TapRecord>();
    record->processObjects = std::move(processObjects);
    record->global = global;
    record->format = {sampleRate, kAudioFormatLinearPCM, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 8, 1, 8, 2,
                      32, 0};
    taps.push_back(record);
    std::optional<TapError> failure;
    if (!failures.empty()) {
      failure = failures.front();
      failures.erase(failures.begin());
    }
    return std::make_unique<FakeTap>(record, std::move(failure));
  }

  // Taps neither stopped nor destroyed.
  [[nodiscard]] int liveTaps() const {
    return static_cast<int>(std::ranges::count_if(taps, [](const auto& t) { return t->started && t->stops == 0 && !t->destroyed; }));
  }

  std::vector<Process> processes;
  double sampleRate = 48000;           // the format of the next tap
  std::vector<TapError> failures;      // the next starts fail with these, in order
  std::optional<TapError> unavailability;  // what unavailable() reports
  std::vector<std::shared_ptr<TapRecord>> taps;
  int queries = 0;
};

}  // namespace brontide::fakes
