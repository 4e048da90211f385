#include "app/wiring/Services.h"

#include "aac_encoder/AACEncoder.h"
#include "stream_server/StreamServer.h"

#include <string>
#include <utility>

namespace brontide::app {
namespace {

linux::pipewire::PipeWireAudioSystem::Options audioSystemOptions(linux::xdg::DesktopEntries& entries) {
  linux::pipewire::PipeWireAudioSystem::Options options;
  options.lookups = linux::xdg::identityLookups(entries);
  return options;
}

linux::xdg::XdgWorkspace::Options workspaceOptions(linux::pipewire::PipeWireCapture& capture) {
  auto options = linux::xdg::XdgWorkspace::Options::forThisSession();
  options.audioClients = [&capture] { return capture.audioClients(); };
  return options;
}

}  // namespace

Services::Services(Options options)
    : sessionBus_(mainQueue_, log_),
      desktopEntries_(linux::xdg::XdgDirs::fromEnvironment(), log_),
      capture_(log_, audioSystemOptions(desktopEntries_)),
      workspace_(workspaceOptions(capture_), desktopEntries_, log_),
      loginItems_(linux::xdg::XdgDirs::fromEnvironment()),
      player_(mainQueue_, log_),
      serviceBrowser_(mainQueue_, log_),
      // An empty own name: the browser leaves out the receiver advertised under the Avahi host name.
      speakers_(serviceBrowser_, mainQueue_, collator_, std::string()),
      airplayOutput_(mainQueue_, log_,
                     {.routePlayer = [this](std::optional<std::string> sink) { player_.setRouteTarget(sink); }}),
      routes_(serviceBrowser_, airplayOutput_, mainQueue_, collator_, preferences_, log_, std::string()) {
  routes_.usePasswords(passwordCheck_, keyring_);
  controller_ = Controller::create(Controller::Dependencies{
      .mainQueue = mainQueue_,
      .preferences = preferences_,
      .log = log_,
      .collator = collator_,
      .workspace = workspace_,
      .loginItems = loginItems_,
      .player = player_,
      .capture = capture_,
      .speakers = speakers_,
      .makeServer =
          [this](std::function<void(std::uint16_t)> onReady, std::function<void(Error)> onError)
          -> std::expected<std::shared_ptr<FrameServer>, Error> {
        auto server = StreamServer::create(mainQueue_, std::move(onReady), std::move(onError), &log_);
        if (!server) return std::unexpected(server.error());
        return std::shared_ptr<FrameServer>(std::move(*server));
      },
      .makeEncoder = [this](double sampleRate, std::uint32_t bitRate)
          -> std::expected<std::shared_ptr<FrameEncoder>, Error> {
        auto encoder = AACEncoder::create(sampleRate, bitRate, converters_);
        if (!encoder) return std::unexpected(encoder.error());
        return std::shared_ptr<FrameEncoder>(std::move(*encoder));
      },
      .allowAutoStart = options.allowAutoStart,
  });
  if (const std::string problem = settingsFile_.problem(); !problem.empty()) {
    log_.notice("preferences: " + problem + "; using the defaults");
  }
  settingsFile_.onWriteProblem([this](const std::string& problem) {
    log_.notice("preferences: cannot be saved (" + problem + "); this run keeps what is chosen");
    settingsProblem_ = problem;
    settingsProblemFound.notify();
  });
}

void Services::shutdown(std::function<void()> done) {
  if (std::exchange(shuttingDown_, true)) return;
  if (controller_) controller_->stop();
  // Whichever comes first: both adapters finished, or the limit.
  struct Pending {
    int left = 2;
    std::function<void()> done;
    void finishOne() {
      if (--left == 0 && done) std::exchange(done, nullptr)();
    }
  };
  auto pending = std::make_shared<Pending>(Pending{.done = std::move(done)});
  mainQueue_.postDelayed(kShutdownLimit, [this, pending] {
    if (!pending->done) return;
    log_.notice("shutdown: still closing after " + std::to_string(kShutdownLimit.count()) + " ms; quitting anyway");
    std::exchange(pending->done, nullptr)();
  });
  airplayOutput_.shutdown([pending] { pending->finishOne(); });
  capture_.audioSystem().shutdown([this, pending] { mainQueue_.post([pending] { pending->finishOne(); }); });
}

Services::~Services() {
  if (controller_) controller_->stop();
  controller_.reset();
}

}  // namespace brontide::app
