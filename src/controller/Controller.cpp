// Over 400 lines: the controller is one state machine (start, attach, play, stop, retry) whose steps share
// its run counter and timers; split across files its ordering rules would no longer read in one place.
#include "controller/Controller.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <span>
#include <utility>

#include "base/Format.h"
#include "base/VolumeLaws.h"

namespace brontide {

namespace {

using namespace std::chrono_literals;

constexpr auto kWatchPeriod = 2000ms;
constexpr auto kMeterPeriod = 50ms;
constexpr auto kReloadDelay = 1000ms;
constexpr auto kTestCaptureHold = 600ms;
constexpr double kForwardBufferSeconds = 1.0;
constexpr float kLevelDecay = 0.82f;
constexpr int kSilentTicksBeforeFlag = 120;
constexpr int kTicksPerLevelLog = 100;

constexpr const char* kSourceKey = "sourceBundle";
constexpr const char* kAutoStartKey = "autoStart";
constexpr const char* kOnboardedKey = "onboarded";
constexpr const char* kVolumeKey = "volume";

bool sameSet(std::vector<AudioObjectID> a, std::vector<AudioObjectID> b) {
  std::ranges::sort(a);
  std::ranges::sort(b);
  a.erase(std::unique(a.begin(), a.end()), a.end());
  b.erase(std::unique(b.begin(), b.end()), b.end());
  return a == b;
}

std::string liveText(const std::string& name, double sampleRate) {
  const double kilohertz = std::isfinite(sampleRate) ? std::trunc(sampleRate / 1000) : 0;
  return name + " \u00B7 " + std::to_string(static_cast<long long>(kilohertz)) + " kHz \u00B7 AAC 256 kbps";
}

}  // namespace

struct Controller::State {
  explicit State(Dependencies dependencies) : deps(std::move(dependencies)) {}

  Dependencies deps;
  std::vector<AppChoice> apps;
  bool running = false;
  CaptureState state = CaptureState::stopped();
  std::string detail;
  // What the stream would show in `detail`, and a message held over it until the user acts.
  std::string streamDetail;
  std::string notice;
  float level = 0;
  double volume = 1.0;
  bool muted = false;
  bool launchAtLogin = false;
  // Shared so an encoder's frame callback can hold the server of its run weakly.
  std::shared_ptr<FrameServer> server;
  std::uint16_t port = 0;
  std::unique_ptr<CaptureTap> tap;
  // Shared with the tap's sink, which runs on the capture thread and may outlive our reference briefly.
  std::shared_ptr<FrameEncoder> encoder;
  // Outlives every tap whose sink feeds it.
  std::shared_ptr<LevelMeter> meter = std::make_shared<LevelMeter>();
  int silentTicks = 0;
  int logTicks = 0;
  float windowPeak = 0;
  bool captureSilent = false;
  std::unique_ptr<RepeatingTimer> watchTimer;
  std::unique_ptr<RepeatingTimer> meterTimer;
  std::vector<Player::ObservationToken> observers;
  // Bumped by start() and stop(): work scheduled in one run never acts in a later one.
  std::uint64_t run = 0;
};

namespace {

template <class T, class V>
void assign(Controller& controller, Controller::Field field, T& member, V&& value) {
  member = std::forward<V>(value);
  controller.changed.notify(field);
}

}  // namespace

Controller::Controller(Dependencies dependencies) : d_(std::make_unique<State>(std::move(dependencies))) {
  auto& d = *d_;
  if (const auto stored = d.deps.preferences.value(kVolumeKey)) {
    if (const auto number = parseNumber(*stored)) d.volume = volume::clampPosition(*number);
  }
  d.launchAtLogin = d.deps.loginItems.status() == LoginItems::Status::enabled;
}

std::shared_ptr<Controller> Controller::create(Dependencies dependencies) {
  // Callbacks hold the controller weakly, so it must be shared before the first one is handed out.
  std::shared_ptr<Controller> controller(new Controller(std::move(dependencies)));
  auto& d = *controller->d_;
  d.deps.player.setAllowsExternalPlayback(true);
  d.deps.player.setAutomaticallyWaitsToMinimizeStalling(true);
  controller->refreshApps();
  d.deps.speakers.start();
  if (d.deps.allowAutoStart && controller->autoStart() && controller->onboarded()) controller->start();
  return controller;
}

Controller::~Controller() { release(); }

std::function<void()> Controller::stepOfThisRun(void (Controller::*member)()) {
  return [weak = weak_from_this(), run = d_->run, member] {
    const auto self = weak.lock();
    if (!self || !self->d_->running || self->d_->run != run) return;
    ((*self).*member)();
  };
}

std::function<void()> Controller::postedStepOfThisRun(void (Controller::*member)()) {
  return [&queue = d_->deps.mainQueue, step = stepOfThisRun(member)] { queue.post(step); };
}

void Controller::start() {
  auto& d = *d_;
  // The onboarding flow calls start() without looking at `running`: one server and one pair of timers only.
  if (d.running) return;
  const auto run = ++d.run;
  assign(*this, Field::running, d.running, true);
  assign(*this, Field::state, d.state, CaptureState::waiting());
  setDetail("Arrancando\u2026");
  dismissNotice();

  // A server from an earlier run may still report late: only the current run's callbacks act.
  const auto weak = weak_from_this();
  auto onReady = [weak, run](std::uint16_t port) {
    const auto self = weak.lock();
    if (!self || !self->d_->running || self->d_->run != run) return;
    self->d_->port = port;
    self->attachTapIfPossible();
  };
  auto onError = [weak, run](Error error) {
    const auto self = weak.lock();
    if (!self || !self->d_->running || self->d_->run != run) return;
    self->showError(std::move(error));
  };
  auto server = d.deps.makeServer(std::move(onReady), std::move(onError));
  if (!server) {
    showError(std::move(server.error()));
    assign(*this, Field::running, d.running, false);
    return;
  }
  d.server = std::move(*server);
  d.watchTimer = d.deps.mainQueue.scheduleRepeating(kWatchPeriod, postedStepOfThisRun(&Controller::attachTapIfPossible));
  d.meterTimer = d.deps.mainQueue.scheduleRepeating(kMeterPeriod, postedStepOfThisRun(&Controller::meterTick));
}

void Controller::release() {
  auto& d = *d_;
  ++d.run;
  if (d.watchTimer) d.watchTimer->invalidate();
  d.watchTimer.reset();
  if (d.meterTimer) d.meterTimer->invalidate();
  d.meterTimer.reset();
  if (d.tap) d.tap->stop();
  d.tap.reset();
  d.encoder.reset();
  if (d.server) d.server->stop();
  d.server.reset();
  d.port = 0;
  d.deps.player.pause();
  d.deps.player.replaceCurrentItem(0);
  for (const auto token : d.observers) d.deps.player.removeObservation(token);
  d.observers.clear();
}

void Controller::stop() {
  auto& d = *d_;
  release();
  assign(*this, Field::running, d.running, false);
  assign(*this, Field::level, d.level, 0.0f);
  assign(*this, Field::state, d.state, CaptureState::stopped());
  setDetail({});
  dismissNotice();
  // Stop is also the way out (quit, SIGTERM): what the user chose last must reach the file.
  d.deps.preferences.flush();
}

// ---- Source application list

const std::vector<AppChoice>& Controller::apps() const { return d_->apps; }

void Controller::refreshApps() {
  auto& d = *d_;
  const auto own = d.deps.workspace.ownBundleID();
  std::vector<AppChoice> entries;
  for (auto& app : d.deps.workspace.runningApplications()) {
    if (!app.ordinary || !app.bundleID) continue;
    const auto& id = *app.bundleID;
    if (own && id == *own) continue;
    if (std::ranges::any_of(entries, [&](const AppChoice& e) { return e.bundleID == id; })) continue;
    entries.push_back(AppChoice{id, app.localizedName.value_or(id)});
  }
  std::ranges::stable_sort(entries, [&](const AppChoice& a, const AppChoice& b) {
    return d.deps.collator.compare(a.name, b.name) < 0;
  });
  const auto selected = selectedBundle();
  if (std::ranges::none_of(entries, [&](const AppChoice& e) { return e.bundleID == selected; })) {
    entries.insert(entries.begin(), AppChoice{selected, selected == kDefaultSource ? "Spotify" : selected});
  }
  assign(*this, Field::apps, d.apps, std::move(entries));
}

std::string Controller::sourceName() const {
  const auto selected = selectedBundle();
  const auto it = std::ranges::find(d_->apps, selected, &AppChoice::bundleID);
  return it != d_->apps.end() ? it->name : selected;
}

// ---- Persisted preferences: read on every access, stored at once

std::string Controller::selectedBundle() const {
  auto stored = d_->deps.preferences.value(kSourceKey);
  // An empty prefix would match every application's processes.
  return stored && !stored->empty() ? std::move(*stored) : std::string(kDefaultSource);
}

void Controller::setSelectedBundle(const std::string& bundleID) {
  d_->deps.preferences.setValue(kSourceKey, bundleID);
  changed.notify(Field::selectedBundle);
}

bool Controller::autoStart() const {
  const auto stored = d_->deps.preferences.value(kAutoStartKey);
  return stored ? parseFlag(*stored).value_or(false) : false;
}

void Controller::setAutoStart(bool on) {
  d_->deps.preferences.setValue(kAutoStartKey, on ? "true" : "false");
  changed.notify(Field::autoStart);
  dismissNotice();
}

bool Controller::onboarded() const {
  const auto stored = d_->deps.preferences.value(kOnboardedKey);
  return stored ? parseFlag(*stored).value_or(false) : false;
}

void Controller::setOnboarded(bool on) {
  d_->deps.preferences.setValue(kOnboardedKey, on ? "true" : "false");
  changed.notify(Field::onboarded);
}

bool Controller::running() const { return d_->running; }
const CaptureState& Controller::state() const { return d_->state; }
const std::string& Controller::detail() const { return d_->detail; }
float Controller::level() const { return d_->level; }
bool Controller::captureSilent() const { return d_->captureSilent; }
std::uint16_t Controller::port() const { return d_->port; }
Player& Controller::player() const { return d_->deps.player; }
Workspace& Controller::workspace() const { return d_->deps.workspace; }

// ---- Volume, mute and gain

double Controller::volume() const { return d_->volume; }

void Controller::setVolume(double volume) {
  auto& d = *d_;
  // A value that is no number would be stored as "nan" and read back as full volume.
  if (std::isnan(volume)) return;
  assign(*this, Field::volume, d.volume, volume::clampPosition(volume));
  if (d.volume > 0) setMuted(false);
  pushGain();
  d.deps.preferences.setValue(kVolumeKey, formatNumber(d.volume));
}

bool Controller::muted() const { return d_->muted; }

void Controller::setMuted(bool muted) {
  assign(*this, Field::muted, d_->muted, muted);
  pushGain();
}

float Controller::currentGain() const {
  if (d_->muted) return 0;
  return volume::commonGain(d_->volume);
}

void Controller::pushGain() {
  if (!d_->encoder) return;
  d_->encoder->setGain(currentGain());
}

// ---- Launch at login

bool Controller::launchAtLogin() const { return d_->launchAtLogin; }

void Controller::setLaunchAtLogin(bool on) {
  auto& d = *d_;
  auto& items = d.deps.loginItems;
  const auto result = on ? items.registerMainApp() : items.unregisterMainApp();
  dismissNotice();
  if (!result) {
    d.notice = "No se pudo cambiar el inicio de sesi\u00F3n: " + result.error();
    assign(*this, Field::detail, d.detail, d.notice);
  }
  assign(*this, Field::launchAtLogin, d.launchAtLogin, items.status() == LoginItems::Status::enabled);
}

void Controller::dismissNotice() {
  auto& d = *d_;
  if (d.notice.empty()) return;
  d.notice.clear();
  assign(*this, Field::detail, d.detail, d.streamDetail);
}

void Controller::setDetail(std::string text) {
  auto& d = *d_;
  d.streamDetail = std::move(text);
  // A held message outlives the watch ticks that rewrite the stream's line.
  if (d.notice.empty()) assign(*this, Field::detail, d.detail, d.streamDetail);
}

void Controller::showError(Error error) {
  auto& d = *d_;
  // A failure that lasts is retried on every watch tick: one line when it begins or changes.
  if (d.state.failure() != error) d.deps.log.notice("failed: " + logText(error));
  auto text = userText(error);
  assign(*this, Field::state, d.state, CaptureState::error(std::move(error)));
  setDetail(std::move(text));
}

// ---- Playback of the loopback stream

void Controller::loadStream() {
  auto& d = *d_;
  auto& player = d.deps.player;
  for (const auto token : d.observers) player.removeObservation(token);
  d.observers.clear();
  const auto address = "http://127.0.0.1:" + std::to_string(d.port) + "/live.aac";
  const auto item = player.makeItem(address, kForwardBufferSeconds);
  const auto reload = postedStepOfThisRun(&Controller::reloadSoon);
  d.observers.push_back(player.observe(item, Player::ItemEvent::failedToPlayToEnd, reload));
  d.observers.push_back(player.observe(item, Player::ItemEvent::didPlayToEnd, reload));
  d.observers.push_back(player.observe(item, Player::ItemEvent::playbackStalled, [&queue = d.deps.mainQueue,
                                                                                   weak = weak_from_this(),
                                                                                   run = d.run] {
    queue.post([weak, run] {
      const auto self = weak.lock();
      if (!self || !self->d_->running || self->d_->run != run) return;
      self->d_->deps.player.play();
    });
  }));
  player.replaceCurrentItem(item);
  player.play();
}

void Controller::reloadSoon() {
  if (!d_->running) return;
  d_->deps.mainQueue.postDelayed(kReloadDelay, stepOfThisRun(&Controller::loadStream));
}

// ---- Level meter and silence

void Controller::meterTick() {
  auto& d = *d_;
  const float raw = d.meter->takePeak();
  // Samples beyond full scale (or infinite ones) must not push the displayed level past 1.
  const float shown = std::min(currentGain() * raw, 1.0f);
  const float decayed = d.level * kLevelDecay;
  assign(*this, Field::level, d.level, shown > decayed ? shown : decayed);
  trackSilence(raw);
}

void Controller::trackSilence(float peak) {
  auto& d = *d_;
  if (!d.running || d.state.kind() != CaptureState::Case::live) {
    d.silentTicks = 0;
    assign(*this, Field::captureSilent, d.captureSilent, false);
    return;
  }
  if (d.windowPeak <= peak) d.windowPeak = peak;
  if (++d.logTicks >= kTicksPerLevelLog) {
    const float gain = d.encoder ? d.encoder->gain() : -1.0f;
    d.deps.log.notice(formatString("level peak=%f gain=%f", static_cast<double>(d.windowPeak),
                                   static_cast<double>(gain)));
    d.logTicks = 0;
    d.windowPeak = 0;
  }
  if (peak <= 0) {
    ++d.silentTicks;
  } else {
    d.silentTicks = 0;
  }
  assign(*this, Field::captureSilent, d.captureSilent, d.silentTicks > kSilentTicksBeforeFlag);
}

void Controller::testCapture(std::function<void(std::optional<Error> failure)> done) {
  auto& d = *d_;
  if (auto problem = d.deps.capture.unavailable()) {
    d.deps.log.notice("test capture: " + logText(*problem));
    done(std::move(problem));
    return;
  }
  auto processes = d.deps.capture.audioProcessObjects(selectedBundle());
  const bool global = processes.empty();
  // Shared: the delayed stop below keeps it alive; the live tap is never touched.
  std::shared_ptr<CaptureTap> tap = d.deps.capture.makeTap(std::move(processes), global);
  auto started = tap->start([](const AudioStreamBasicDescription&) -> std::expected<TapSink, Error> {
    return TapSink([](SampleBlock) {});
  });
  if (!started) {
    tap->stop();
    d.deps.log.notice("test capture: " + logText(started.error()));
    done(std::move(started.error()));
    return;
  }
  d.deps.mainQueue.postDelayed(kTestCaptureHold, [weak = weak_from_this(), tap, done = std::move(done)] {
    const auto self = weak.lock();
    if (!self) return;
    // A sink the server refused meanwhile; one still not ready is no failure yet.
    auto failed = tap->failure();
    tap->stop();
    if (failed) self->d_->deps.log.notice("test capture: " + logText(*failed));
    done(std::move(failed));
  });
}

// ---- Tap attachment

void Controller::reportUnmovableApplications() {
  auto& d = *d_;
  // The tap learns this only after its streams were moved, so it is looked at on the watch ticks that follow.
  if (d.state != CaptureState::live()) return;
  const auto unmovable = d.tap->unmovableApplications();
  const auto text = unmovable.empty() ? liveText(sourceName(), d.tap->format().mSampleRate)
                                      : unmovable.front() + " no permite desviar su audio.";
  if (text == d.streamDetail) return;
  if (!unmovable.empty()) d.deps.log.notice("stream not diverted: " + unmovable.front());
  setDetail(text);
}

void Controller::dropDeadCapture() {
  auto& d = *d_;
  // A tap on a vanished sound server delivers nothing and never recovers: drop it, keep the encoder.
  if (d.tap) {
    d.tap->stop();
    d.tap.reset();
  }
  // The player's output went with the server too; with no item, the next attach reloads it.
  if (d.deps.player.currentItem() != 0) {
    d.deps.player.pause();
    d.deps.player.replaceCurrentItem(0);
    for (const auto token : d.observers) d.deps.player.removeObservation(token);
    d.observers.clear();
  }
}

void Controller::attachTapIfPossible() {
  auto& d = *d_;
  if (!d.running || d.port == 0) return;
  if (auto problem = d.deps.capture.unavailable()) {
    dropDeadCapture();
    showError(std::move(*problem));
    return;
  }
  // A server back within one check is no failure to show: tap anew at once.
  if (d.deps.capture.restarted()) dropDeadCapture();
  // Taps are made without waiting for the sound server: one it could not get ready is shown, and made anew.
  if (auto failed = d.tap ? d.tap->failure() : std::nullopt) {
    d.tap->stop();
    d.tap.reset();
    showError(std::move(*failed));
    return;
  }
  auto processes = d.deps.capture.audioProcessObjects(selectedBundle());
  if (processes.empty()) {
    if (d.tap) return;
    assign(*this, Field::state, d.state, CaptureState::waiting());
    setDetail("Abre " + sourceName() + " y dale al play.");
    return;
  }
  if (d.tap) {
    if (sameSet(d.tap->processObjects(), processes)) {
      reportUnmovableApplications();
      return;
    }
    d.tap->stop();
    d.tap.reset();
  }

  const auto processCount = processes.size();
  auto tap = d.deps.capture.makeTap(std::move(processes), false);
  // Frames go to the server of this run only; a dropped server is skipped, not kept alive.
  std::weak_ptr<FrameServer> server = d.server;
  bool madeEncoder = false;
  // CaptureTap::start calls the factory synchronously, on this thread, before it returns.
  auto started = tap->start([&](const AudioStreamBasicDescription& format) -> std::expected<TapSink, Error> {
    if (!d.encoder || d.encoder->sampleRate() != format.mSampleRate) {
      auto made = d.deps.makeEncoder(format.mSampleRate, kBitRate);
      if (!made) return std::unexpected(std::move(made.error()));
      (*made)->setOnFrame([server](std::span<const std::uint8_t> frame) {
        if (const auto target = server.lock()) target->broadcast(frame);
      });
      d.encoder = std::move(*made);
      pushGain();
      madeEncoder = true;
    }
    // The sink runs on the capture thread: it holds what it feeds and never the controller.
    return TapSink([encoder = d.encoder, meter = d.meter](SampleBlock block) {
      encoder->append(block);
      meter->feed(block);
    });
  });
  if (!started) {
    tap->stop();
    showError(std::move(started.error()));
    return;
  }

  d.tap = std::move(tap);
  if (madeEncoder || d.deps.player.currentItem() == 0) loadStream();
  // A source that started after the list was read is named from the running applications.
  if (std::ranges::find(d.apps, selectedBundle(), &AppChoice::bundleID) == d.apps.end()) refreshApps();
  const auto format = d.tap->format();
  assign(*this, Field::state, d.state, CaptureState::live());
  setDetail(liveText(sourceName(), format.mSampleRate));
  d.deps.log.notice(formatString("tap started: %ld process(es), %f Hz, %u ch", static_cast<long>(processCount),
                                 format.mSampleRate, format.mChannelsPerFrame));
}

}  // namespace brontide
