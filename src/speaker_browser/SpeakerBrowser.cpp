#include "speaker_browser/SpeakerBrowser.h"

#include <chrono>
#include <utility>

namespace brontide {

namespace {

constexpr auto kSearchEnd = std::chrono::seconds(3);

}  // namespace

// Handlers and delayed work hold this weakly: once the SpeakerBrowser is gone they do nothing.
struct SpeakerBrowser::State : std::enable_shared_from_this<State> {
  State(SpeakerBrowser& owner, ServiceBrowser& browser, MainQueue& queue, const Collator& collator, std::string ownName)
      : owner(owner), browser(browser), queue(queue), collator(collator), ownName(std::move(ownName)) {}

  [[nodiscard]] std::string_view effectiveOwnName() const { return ownName.empty() ? hostName : ownName; }

  void update(bool isRaop, std::vector<ServiceResult> results) {
    (isRaop ? raop : airplay) = std::move(results);
    known = true;
    arrange();
  }

  void arrange() {
    speakers.clear();
    for (auto& entry : catalogueDevices(airplay, raop, effectiveOwnName(), collator))
      speakers.push_back(std::move(entry.speaker));
    if (!speakers.empty()) searching = false;
    owner.changed.notify();
  }

  void endSearch() {
    searching = false;
    owner.changed.notify();
  }

  void setHostName(std::string name) {
    const auto before = std::string(effectiveOwnName());
    hostName = std::move(name);
    // The own receiver may already be listed under the name just learnt.
    if (effectiveOwnName() != before && known) arrange();
  }

  SpeakerBrowser& owner;
  ServiceBrowser& browser;
  MainQueue& queue;
  const Collator& collator;
  const std::string ownName;
  std::string hostName;
  bool started = false;
  std::vector<Speaker> speakers;
  bool searching = true;
  std::vector<ServiceResult> airplay;
  std::vector<ServiceResult> raop;
  bool known = false;  // some result set has arrived
};

SpeakerBrowser::SpeakerBrowser(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator,
                               std::string ownName)
    : d_(std::make_shared<State>(*this, browser, mainQueue, collator, std::move(ownName))) {}

SpeakerBrowser::~SpeakerBrowser() = default;

void SpeakerBrowser::start() {
  if (d_->started) return;
  d_->started = true;
  std::weak_ptr<State> weak = d_;
  const auto results = [weak](bool isRaop) {
    return [weak, isRaop](std::vector<ServiceResult> set) {
      const auto state = weak.lock();
      if (!state) return;
      // Publishing is a step of its own on the main queue, as the list may arrive from a browser callback.
      state->queue.post([weak, isRaop, set = std::move(set)]() mutable {
        if (const auto s = weak.lock()) s->update(isRaop, std::move(set));
      });
    };
  };
  d_->browser.browse(kRaopServiceType, {.resultsChanged = results(true), .ready = {}, .hostName = {}});
  ServiceBrowser::Handlers handlers;
  handlers.resultsChanged = results(false);
  handlers.ready = [weak] {
    const auto state = weak.lock();
    if (!state) return;
    state->queue.postDelayed(std::chrono::duration_cast<MainQueue::Duration>(kSearchEnd), [weak] {
      if (const auto s = weak.lock()) s->endSearch();
    });
  };
  handlers.hostName = [weak](std::string name) {
    if (const auto state = weak.lock()) state->setHostName(std::move(name));
  };
  d_->browser.browse(kAirPlayServiceType, std::move(handlers));
}

const std::vector<Speaker>& SpeakerBrowser::speakers() const { return d_->speakers; }

bool SpeakerBrowser::searching() const { return d_->searching; }

}  // namespace brontide
