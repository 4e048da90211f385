#pragma once

#include <algorithm>
#include <atomic>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "controller/Controller.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/MemoryPreferences.h"
#include "fakes/RecordingLog.h"
#include "fakes/SimpleCollator.h"
#include "fakes/VirtualMainQueue.h"

// Fakes of every port the controller calls. Main thread unless a member says otherwise.
namespace brontide::fakes {

// The first of `failures`, removed: the fakes fail their next calls with these, in order.
template <class T>
std::optional<T> takeFirst(std::vector<T>& failures) {
  if (failures.empty()) return std::nullopt;
  T first = std::move(failures.front());
  failures.erase(failures.begin());
  return first;
}

// What one tap was asked and did; outlives the tap so tests can look after it is dropped.
struct TapRecord {
  std::vector<AudioObjectID> processObjects;
  bool global = false;
  int stops = 0;
  AudioStreamBasicDescription format;
  std::vector<std::string> unmovable;  // what unmovableApplications() reports
  std::optional<Error> lateFailure;    // what failure() reports once started

  // Hands a block to the tap's sink, as its IO thread would; false when there is no live sink. Any thread.
  bool deliver(SampleBlock block) {
    std::lock_guard guard(mutex);
    if (sink) sink(block);
    return sink != nullptr;
  }
  [[nodiscard]] bool live() {
    std::lock_guard guard(mutex);
    return sink != nullptr;
  }
  void setSink(TapSink replacement) {
    std::lock_guard guard(mutex);
    sink = std::move(replacement);
  }

  std::mutex mutex;  // guards `sink`: a test may deliver from another thread
  TapSink sink;      // from a successful start until stop or destruction
};

class FakeTap final : public CaptureTap {
 public:
  FakeTap(std::shared_ptr<TapRecord> record, std::optional<Error> failure)
      : record_(std::move(record)), failure_(std::move(failure)) {}
  ~FakeTap() override { record_->setSink(nullptr); }

  std::expected<void, Error> start(const MakeSink& makeSink) override {
    if (failure_) return std::unexpected(*failure_);
    auto sink = makeSink(record_->format);
    if (!sink) return std::unexpected(sink.error());
    record_->setSink(std::move(*sink));
    return {};
  }
  void stop() override {
    ++record_->stops;
    record_->setSink(nullptr);
  }
  [[nodiscard]] const std::vector<AudioObjectID>& processObjects() const override { return record_->processObjects; }
  [[nodiscard]] AudioStreamBasicDescription format() const override { return record_->format; }
  [[nodiscard]] std::vector<std::string> unmovableApplications() const override { return record_->unmovable; }
  [[nodiscard]] std::optional<Error> failure() const override { return record_->lateFailure; }

 private:
  std::shared_ptr<TapRecord> record_;
  std::optional<Error> failure_;
};

// Running audio processes by identity; every tap made is recorded in `taps`.
class FakeCapture final : public Capture {
 public:
  std::optional<Error> unavailable() override { return unavailability; }
  bool restarted() override { return std::exchange(restart, false); }
  std::vector<AudioObjectID> audioProcessObjects(std::string_view bundlePrefix) override {
    ++queries;
    std::vector<AudioObjectID> found;
    for (const auto& [id, bundleID] : processes)
      if (bundleID.starts_with(bundlePrefix)) found.push_back(id);
    return found;
  }
  std::unique_ptr<CaptureTap> makeTap(std::vector<AudioObjectID> processObjects, bool global) override {
    auto record = std::make_shared<TapRecord>();
    record->processObjects = std::move(processObjects);
    record->global = global;
    record->format = {sampleRate, kAudioFormatLinearPCM, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 8, 1, 8, 2,
                      32, 0};
    taps.push_back(record);
    return std::make_unique<FakeTap>(record, takeFirst(failures));
  }

  // Taps started and neither stopped nor destroyed.
  [[nodiscard]] int liveTaps() const {
    return static_cast<int>(std::ranges::count_if(taps, [](const auto& t) { return t->live(); }));
  }

  std::vector<std::pair<AudioObjectID, std::string>> processes;  // by bundle ID
  double sampleRate = 48000;               // the format of the next tap
  std::vector<Error> failures;          // the next starts fail with these
  std::optional<Error> unavailability;  // what unavailable() reports
  bool restart = false;                    // restarted() reports it once
  std::vector<std::shared_ptr<TapRecord>> taps;
  int queries = 0;
};

// Counts what it is given (any thread); emitFrame() plays the encoder's queue handing out a frame.
class FakeEncoder final : public FrameEncoder {
 public:
  explicit FakeEncoder(double sampleRate) : sampleRate_(sampleRate) {}

  [[nodiscard]] double sampleRate() const override { return sampleRate_; }
  void setOnFrame(OnFrame onFrame) override { onFrame_ = std::move(onFrame); }
  void setGain(float gain) override { gain_ = gain; }
  [[nodiscard]] float gain() const override { return gain_; }
  void append(SampleBlock samples) override {
    ++appended;
    samplesAppended += samples.count;
  }
  void emitFrame(std::span<const std::uint8_t> frame) {
    if (onFrame_) onFrame_(frame);
  }

  std::atomic<int> appended{0};
  std::atomic<std::size_t> samplesAppended{0};

 private:
  double sampleRate_;
  OnFrame onFrame_;
  std::atomic<float> gain_{1.0f};
};

// Makes FakeEncoders (or fails as told) and remembers each one weakly.
class FakeEncoderFactory {
 public:
  [[nodiscard]] MakeEncoder make() {
    return [this](double sampleRate, std::uint32_t bitRate) -> std::expected<std::shared_ptr<FrameEncoder>, Error> {
      bitRates.push_back(bitRate);
      if (auto failure = takeFirst(failures)) return std::unexpected(*failure);
      auto encoder = std::make_shared<FakeEncoder>(sampleRate);
      made.push_back(encoder);
      return encoder;
    };
  }
  // The newest encoder, while someone still holds it.
  [[nodiscard]] std::shared_ptr<FakeEncoder> latest() const { return made.empty() ? nullptr : made.back().lock(); }

  std::vector<std::weak_ptr<FakeEncoder>> made;
  std::vector<std::uint32_t> bitRates;
  std::vector<Error> failures;
};

// Collects broadcast bytes; any thread.
class FakeServer final : public FrameServer {
 public:
  void broadcast(std::span<const std::uint8_t> bytes) override {
    std::lock_guard guard(mutex_);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  void stop() override {}
  [[nodiscard]] std::vector<std::uint8_t> bytes() const {
    std::lock_guard guard(mutex_);
    return bytes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> bytes_;
};

// Makes FakeServers (or fails as told); keeps each one's callbacks so a test can report ready or an error,
// also for a server its owner has already dropped.
class FakeServerFactory {
 public:
  struct Made {
    std::weak_ptr<FakeServer> server;
    std::function<void(std::uint16_t)> ready;
    std::function<void(Error)> fail;
  };

  [[nodiscard]] MakeServer make() {
    return [this](std::function<void(std::uint16_t)> onReady, std::function<void(Error)> onError)
               -> std::expected<std::shared_ptr<FrameServer>, Error> {
      if (auto failure = takeFirst(failures)) return std::unexpected(*failure);
      auto server = std::make_shared<FakeServer>();
      made.push_back(Made{server, std::move(onReady), std::move(onError)});
      return server;
    };
  }
  [[nodiscard]] const Made& latest() const { return made.back(); }

  std::vector<Made> made;
  std::vector<Error> failures;
};

// A player that records what it is told; the test raises item events with notifyCurrent().
class FakePlayer final : public Player {
 public:
  struct Item {
    ItemId id = 0;
    std::string address;
    double preferredForwardBufferSeconds = 0;
  };
  struct Observation {
    ItemId item = 0;
    ItemEvent event{};
    std::function<void()> handler;
  };

  void setAllowsExternalPlayback(bool allowed) override { allowsExternalPlayback = allowed; }
  void setAutomaticallyWaitsToMinimizeStalling(bool waits) override { waitsToMinimizeStalling = waits; }
  ItemId makeItem(const std::string& address, double preferredForwardBufferSeconds) override {
    items.push_back(Item{++lastItem_, address, preferredForwardBufferSeconds});
    return lastItem_;
  }
  void replaceCurrentItem(ItemId item) override {
    current_ = item;
    if (item == 0) playing = false;
  }
  [[nodiscard]] ItemId currentItem() const override { return current_; }
  void play() override {
    ++playCalls;
    playing = current_ != 0;
  }
  void pause() override { playing = false; }
  ObservationToken observe(ItemId item, ItemEvent event, std::function<void()> handler) override {
    observations.emplace(++lastToken_, Observation{item, event, std::move(handler)});
    return lastToken_;
  }
  void removeObservation(ObservationToken token) override { observations.erase(token); }

  // Delivers `event` for the current item to its observers, as the real player does on the main thread.
  void notifyCurrent(ItemEvent event) {
    std::vector<std::function<void()>> handlers;
    for (const auto& [token, o] : observations)
      if (o.item == current_ && o.event == event) handlers.push_back(o.handler);
    for (const auto& handler : handlers) handler();
  }

  bool allowsExternalPlayback = false;
  bool waitsToMinimizeStalling = false;
  bool playing = false;
  int playCalls = 0;
  std::vector<Item> items;
  std::map<ObservationToken, Observation> observations;

 private:
  ItemId lastItem_ = 0;
  ItemId current_ = 0;
  ObservationToken lastToken_ = 0;
};

// A login-item registration whose outcome the test chooses.
class FakeLoginItems final : public LoginItems {
 public:
  std::expected<void, std::string> registerMainApp() override { return change(statusAfterRegister); }
  std::expected<void, std::string> unregisterMainApp() override { return change(Status::notRegistered); }
  [[nodiscard]] Status status() const override { return current; }

  Status current = Status::notRegistered;
  Status statusAfterRegister = Status::enabled;
  std::optional<std::string> failure;  // every change fails with it while set

 private:
  std::expected<void, std::string> change(Status to) {
    if (failure) return std::unexpected(*failure);
    current = to;
    return {};
  }
};

class FakeSpeakerDiscovery final : public SpeakerDiscovery {
 public:
  void start() override { ++starts; }
  int starts = 0;
};

// Every port the controller calls, faked, on a virtual clock. Inherit it (or declare it first) so the fakes
// outlive the controller.
struct ControllerFakes {
  std::shared_ptr<Controller> makeController(bool allowAutoStart = true) {
    return makeController(preferences, allowAutoStart);
  }
  std::shared_ptr<Controller> makeController(Preferences& settings, bool allowAutoStart = true) {
    return Controller::create(Controller::Dependencies{queue, settings, log, collator, workspace, loginItems, player,
                                                       capture, discovery, servers.make(), encoders.make(),
                                                       allowAutoStart});
  }

  VirtualMainQueue queue;
  MemoryPreferences preferences;
  RecordingLog log;
  SimpleCollator collator;
  FakeWorkspace workspace;
  FakeLoginItems loginItems;
  FakePlayer player;
  FakeCapture capture;
  FakeSpeakerDiscovery discovery;
  FakeServerFactory servers;
  FakeEncoderFactory encoders;
};

}  // namespace brontide::fakes
