#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Collator.h"
#include "base/Log.h"
#include "base/MainQueue.h"
#include "base/Signal.h"
#include "controller/AppChoice.h"
#include "controller/Capture.h"
#include "controller/CaptureState.h"
#include "controller/FrameEncoder.h"
#include "controller/FrameServer.h"
#include "controller/LevelMeter.h"
#include "controller/LoginItems.h"
#include "controller/Player.h"
#include "base/Preferences.h"
#include "controller/SpeakerDiscovery.h"
#include "controller/Workspace.h"

namespace brontide {

// Owns the streaming pipeline and everything the user sees of it. Main thread only.
// Every callback it hands out holds it weakly, hence shared ownership.
class Controller : public std::enable_shared_from_this<Controller> {
 public:
  // The collaborators; each must outlive the controller.
  struct Dependencies {
    MainQueue& mainQueue;
    Preferences& preferences;
    Log& log;
    const Collator& collator;
    Workspace& workspace;
    LoginItems& loginItems;
    Player& player;
    Capture& capture;
    SpeakerDiscovery& speakers;
    MakeServer makeServer;
    MakeEncoder makeEncoder;
    // List commands (`--apps`, `--speakers`) build a controller that must never start streaming.
    bool allowAutoStart = true;
  };

  // The observable fields; `changed` fires after every assignment to one of them.
  enum class Field {
    apps, selectedBundle, autoStart, onboarded, running, state, detail,
    level, volume, muted, launchAtLogin, captureSilent,
  };

  static constexpr const char* kDefaultSource = "com.spotify.client";
  static constexpr std::uint32_t kBitRate = 256000;

  // Runs the construction steps (preferences, player setup, app list, speaker browser, auto start).
  [[nodiscard]] static std::shared_ptr<Controller> create(Dependencies dependencies);
  ~Controller();

  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  Signal<Field> changed;

  void start();
  void stop();

  [[nodiscard]] const std::vector<AppChoice>& apps() const;
  void refreshApps();

  [[nodiscard]] std::string selectedBundle() const;
  void setSelectedBundle(const std::string& bundleID);
  [[nodiscard]] bool autoStart() const;
  void setAutoStart(bool on);
  [[nodiscard]] bool onboarded() const;
  void setOnboarded(bool on);

  [[nodiscard]] bool running() const;
  [[nodiscard]] const CaptureState& state() const;
  [[nodiscard]] const std::string& detail() const;
  [[nodiscard]] float level() const;
  [[nodiscard]] bool captureSilent() const;

  [[nodiscard]] double volume() const;
  void setVolume(double volume);
  [[nodiscard]] bool muted() const;
  void setMuted(bool muted);
  // 0 when muted, else volume² narrowed to 32 bits.
  [[nodiscard]] float currentGain() const;

  [[nodiscard]] bool launchAtLogin() const;
  // A failure is held in `detail` until the next start, stop, option change or dismissNotice().
  void setLaunchAtLogin(bool on);
  // The user has seen the held message (the panel closed): `detail` follows the stream again.
  void dismissNotice();

  // A short capture that triggers and checks access to the sound server.
  // `done` runs on the main thread with no value on success or the failure.
  void testCapture(std::function<void(std::optional<Error> failure)> done);

  // The display name of the source: its entry in `apps`, else its identity.
  [[nodiscard]] std::string sourceName() const;

  [[nodiscard]] std::uint16_t port() const;
  [[nodiscard]] Player& player() const;
  [[nodiscard]] Workspace& workspace() const;

 private:
  explicit Controller(Dependencies dependencies);

  void attachTapIfPossible();
  // Drops the tap and the player's item: both went with a vanished or restarted sound server.
  void dropDeadCapture();
  // The stream's own `detail`; shown unless a notice is held.
  void setDetail(std::string text);
  // The error state, its text in `detail` and, when it is new, a log line.
  void showError(Error error);
  // Tells the user, in `detail`, about tapped applications whose sound could not be diverted.
  void reportUnmovableApplications();
  void loadStream();
  void reloadSoon();
  void meterTick();
  void trackSilence(float peak);
  void pushGain();
  // Releases timers, tap, encoder, server, player item and observations without notifying.
  void release();
  // A step that runs `member` only while the run it was made in lasts; holds the controller weakly.
  [[nodiscard]] std::function<void()> stepOfThisRun(void (Controller::*member)());
  // The same step, posted to the main queue when called (timer ticks and player observations).
  [[nodiscard]] std::function<void()> postedStepOfThisRun(void (Controller::*member)());

  struct State;
  std::unique_ptr<State> d_;
};

}  // namespace brontide
