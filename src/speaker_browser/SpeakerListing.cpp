#include "speaker_browser/SpeakerListing.h"

#include <memory>
#include <utility>

#include "base/Format.h"
#include "speaker_browser/SpeakerCatalogue.h"

namespace brontide {

namespace {

struct Collection {
  Collection(const Collator& collator, std::string ownName, SpeakerListingDone done)
      : collator(collator), ownName(std::move(ownName)), done(std::move(done)) {}

  void finish() {
    if (finished) return;
    finished = true;
    std::vector<ServiceResult> resolved;
    for (auto& result : airplay) {
      if (result.txt) resolved.push_back(std::move(result));
    }
    std::vector<Speaker> speakers;
    for (auto& entry : catalogueDevices(resolved, raop, ownName.empty() ? hostName : ownName, collator))
      speakers.push_back(std::move(entry.speaker));
    done(std::move(speakers));
  }

  void fail(std::string message) {
    if (finished) return;
    finished = true;
    done(std::unexpected(std::move(message)));
  }

  const Collator& collator;
  const std::string ownName;
  SpeakerListingDone done;
  std::string hostName;
  std::vector<ServiceResult> airplay;
  std::vector<ServiceResult> raop;
  bool ready = false;
  bool finished = false;
};

}  // namespace

void collectSpeakers(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator, std::string ownName,
                     MainQueue::Duration wait, SpeakerListingDone done, MainQueue::Duration readyLimit) {
  // Shared by the browser's handlers and the two timers; whichever ends the collection first wins.
  auto collection = std::make_shared<Collection>(collator, std::move(ownName), std::move(done));
  const auto keep = [collection](std::vector<ServiceResult> Collection::*set) {
    return [collection, set](std::vector<ServiceResult> results) { (*collection).*set = std::move(results); };
  };
  browser.browse(kRaopServiceType, {.resultsChanged = keep(&Collection::raop), .ready = {}, .hostName = {}});
  ServiceBrowser::Handlers handlers;
  handlers.resultsChanged = keep(&Collection::airplay);
  handlers.ready = [collection, &mainQueue, wait] {
    if (collection->ready) return;
    collection->ready = true;
    mainQueue.postDelayed(wait, [collection] { collection->finish(); });
  };
  handlers.hostName = [collection](std::string name) { collection->hostName = std::move(name); };
  browser.browse(kAirPlayServiceType, std::move(handlers));
  mainQueue.postDelayed(readyLimit, [collection] {
    if (!collection->ready) collection->fail(kNoDnsSdDaemon);
  });
}

std::string speakerLine(const Speaker& speaker) {
  return escapeControlCharacters(speaker.name) + '\t' + escapeControlCharacters(speaker.kind()) + '\t' +
         escapeControlCharacters(speaker.model);
}

}  // namespace brontide
