#pragma once

#include <functional>
#include <memory>

#include "base/DeferredPreferences.h"
#include "controller/Controller.h"
#include "linux/avahi/AvahiServiceBrowser.h"
#include "linux/ffmpeg/FFmpegAudioConverter.h"
#include "linux/gstreamer/GstPlayer.h"
#include "linux/pipewire/PipeWireAirPlayOutput.h"
#include "linux/pipewire/PipeWireCapture.h"
#include "linux/qt/QSettingsPreferences.h"
#include "linux/qt/QtCollator.h"
#include "linux/qt/QtMainQueue.h"
#include "linux/rtsp/RtspPasswordCheck.h"
#include "linux/secret/SecretServiceKeyring.h"
#include "linux/systemd/JournalLog.h"
#include "linux/xdg/XdgAutostartLoginItems.h"
#include "linux/xdg/SessionBus.h"
#include "linux/xdg/XdgWorkspace.h"
#include "speaker_browser/AirPlayRoutes.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::app {

// The composition root: every adapter of this session, and the one Controller built on them.
// Construct on the main thread after the Q*Application and pw_init. Members are declared in
// creation order, so they are destroyed in reverse: the controller first, the log last.
class Services {
 public:
  struct Options {
    // List commands build the controller too, but it must never start streaming.
    bool allowAutoStart = true;
  };

  explicit Services(Options options);
  ~Services();

  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  // The way out: stops the controller, then closes the receivers' sinks and gives the tapped streams back on
  // the adapters' own threads; `done` runs on the main thread once both have finished, or after kShutdownLimit.
  // The main thread never waits meanwhile. A second call while one runs does nothing.
  void shutdown(std::function<void()> done);
  static constexpr MainQueue::Duration kShutdownLimit{3000};

  [[nodiscard]] Controller& controller() { return *controller_; }
  [[nodiscard]] std::shared_ptr<Controller> sharedController() { return controller_; }
  [[nodiscard]] SpeakerBrowser& speakers() { return speakers_; }
  [[nodiscard]] MainQueue& mainQueue() { return mainQueue_; }
  [[nodiscard]] Log& log() { return log_; }
  [[nodiscard]] const Collator& collator() const { return collator_; }
  [[nodiscard]] linux::xdg::XdgWorkspace& workspace() { return workspace_; }
  [[nodiscard]] linux::xdg::XdgAutostartLoginItems& loginItems() { return loginItems_; }
  [[nodiscard]] linux::avahi::AvahiServiceBrowser& serviceBrowser() { return serviceBrowser_; }
  [[nodiscard]] linux::gstreamer::GstPlayer& player() { return player_; }
  // The AirPlay menu's routes; browsing starts with routes().start().
  [[nodiscard]] AirPlayRoutes& routes() { return routes_; }
  // Why the settings file cannot be written, from the first write that failed; empty until one does.
  [[nodiscard]] const std::string& settingsProblem() const { return settingsProblem_; }
  Signal<> settingsProblemFound;

 private:
  std::string settingsProblem_;
  linux::systemd::JournalLog log_;
  linux::qt::QtMainQueue mainQueue_;
  linux::xdg::SessionBusGuard sessionBus_;
  linux::qt::QSettingsPreferences settingsFile_;
  DeferredPreferences preferences_{settingsFile_, mainQueue_};
  linux::qt::QtCollator collator_;
  // One index of the desktop's applications: the capture and the workspace name an application alike.
  linux::xdg::DesktopEntries desktopEntries_;
  linux::pipewire::PipeWireCapture capture_;
  linux::xdg::XdgWorkspace workspace_;
  linux::xdg::XdgAutostartLoginItems loginItems_;
  linux::ffmpeg::FFmpegAudioConverterFactory converters_;
  linux::gstreamer::GstPlayer player_;
  linux::avahi::AvahiServiceBrowser serviceBrowser_;
  SpeakerBrowser speakers_;
  linux::pipewire::PipeWireAirPlayOutput airplayOutput_;
  linux::rtsp::RtspPasswordCheck passwordCheck_{mainQueue_};
  linux::secret::SecretServiceKeyring keyring_;
  AirPlayRoutes routes_;
  std::shared_ptr<Controller> controller_;
  bool shuttingDown_ = false;
};

}  // namespace brontide::app
