#include "speaker_browser/SpeakerListing.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "speaker_browser/SpeakerBrowser.h"

namespace brontide {

namespace {

struct Collection {
  Collection(const Collator& collator, std::string ownName, SpeakerListingDone done)
      : collator(collator), ownName(std::move(ownName)), done(std::move(done)) {}

  void finish() {
    if (finished) return;
    finished = true;
    std::vector<ServiceResult> resolved;
    for (auto& result : results) {
      if (result.txt) resolved.push_back(std::move(result));
    }
    done(arrangeSpeakers(resolved, ownName.empty() ? hostName : ownName, collator));
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
  std::vector<ServiceResult> results;
  bool ready = false;
  bool finished = false;
};

void appendEscaped(std::string& line, const std::string& field) {
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
}

}  // namespace

void collectSpeakers(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator, std::string ownName,
                     MainQueue::Duration wait, SpeakerListingDone done, MainQueue::Duration readyLimit) {
  // Shared by the browser's handlers and the two timers; whichever ends the collection first wins.
  auto collection = std::make_shared<Collection>(collator, std::move(ownName), std::move(done));
  ServiceBrowser::Handlers handlers;
  handlers.resultsChanged = [collection](std::vector<ServiceResult> results) { collection->results = std::move(results); };
  handlers.ready = [collection, &mainQueue, wait] {
    if (collection->ready) return;
    collection->ready = true;
    mainQueue.postDelayed(wait, [collection] { collection->finish(); });
  };
  handlers.hostName = [collection](std::string name) { collection->hostName = std::move(name); };
  browser.browse(kAirPlayServiceType, std::move(handlers));
  mainQueue.postDelayed(readyLimit, [collection] {
    if (!collection->ready) collection->fail("No se pueden buscar altavoces: avahi-daemon no responde.");
  });
}

std::string speakerLine(const Speaker& speaker) {
  std::string line;
  appendEscaped(line, speaker.name);
  line += '\t';
  appendEscaped(line, speaker.kind());
  line += '\t';
  appendEscaped(line, speaker.model);
  return line;
}

}  // namespace brontide
