#include "speaker_browser/SpeakerBrowser.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_set>
#include <utility>

namespace brontide {

namespace {

constexpr auto kSearchEnd = std::chrono::seconds(3);

bool isHomePod(const Speaker& speaker) { return speaker.model.starts_with("AudioAccessory"); }

std::string modelOf(const ServiceResult& result) {
  if (!result.txt) return {};
  const auto it = result.txt->find("model");
  return it == result.txt->end() ? std::string{} : it->second;
}

}  // namespace

std::vector<Speaker> arrangeSpeakers(std::span<const ServiceResult> results, std::string_view ownName,
                                     const Collator& collator) {
  std::vector<Speaker> kept;
  std::unordered_set<std::string_view> taken;
  for (const auto& result : results) {
    if (result.local || result.name == ownName) continue;
    if (!taken.insert(result.name).second) continue;
    kept.push_back(Speaker{result.name, modelOf(result)});
  }
  std::ranges::stable_sort(kept, [&collator](const Speaker& a, const Speaker& b) {
    const bool homePodA = isHomePod(a);
    if (homePodA != isHomePod(b)) return homePodA;
    return collator.compare(a.name, b.name) < 0;
  });
  return kept;
}

// Handlers and delayed work hold this weakly: once the SpeakerBrowser is gone they do nothing.
struct SpeakerBrowser::State : std::enable_shared_from_this<State> {
  State(SpeakerBrowser& owner, ServiceBrowser& browser, MainQueue& queue, const Collator& collator, std::string ownName)
      : owner(owner), browser(browser), queue(queue), collator(collator), ownName(std::move(ownName)) {}

  [[nodiscard]] std::string_view effectiveOwnName() const { return ownName.empty() ? hostName : ownName; }

  void update(std::vector<ServiceResult> results) {
    speakers = arrangeSpeakers(results, effectiveOwnName(), collator);
    lastResults = std::move(results);
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
    if (effectiveOwnName() != before && lastResults) update(*lastResults);
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
  std::optional<std::vector<ServiceResult>> lastResults;
};

SpeakerBrowser::SpeakerBrowser(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator,
                               std::string ownName)
    : d_(std::make_shared<State>(*this, browser, mainQueue, collator, std::move(ownName))) {}

SpeakerBrowser::~SpeakerBrowser() = default;

void SpeakerBrowser::start() {
  if (d_->started) return;
  d_->started = true;
  std::weak_ptr<State> weak = d_;
  ServiceBrowser::Handlers handlers;
  handlers.resultsChanged = [weak](std::vector<ServiceResult> results) {
    const auto state = weak.lock();
    if (!state) return;
    // Publishing is a step of its own on the main queue, as the list may arrive from a browser callback.
    state->queue.post([weak, results = std::move(results)]() mutable {
      if (const auto s = weak.lock()) s->update(std::move(results));
    });
  };
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
