#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "base/Collator.h"
#include "base/MainQueue.h"
#include "speaker_browser/ServiceBrowser.h"
#include "speaker_browser/Speaker.h"

namespace brontide {

using SpeakerListingDone = std::function<void(std::expected<std::vector<Speaker>, std::string>)>;

// One-shot collection for a command-line listing. Browses AirPlay devices and, `wait` after the browser is
// ready, hands `done` the devices whose TXT record is known, paired, filtered and ordered as SpeakerBrowser
// publishes them (an empty `ownName` means the browser's host name). If the browser is not ready within `readyLimit`
// (no DNS-SD daemon), `done` gets a user-facing message instead. Main thread; `done` runs once, on the main queue.
// `browser`, `mainQueue` and `collator` must outlive the collection.
void collectSpeakers(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator, std::string ownName,
                     MainQueue::Duration wait, SpeakerListingDone done,
                     MainQueue::Duration readyLimit = std::chrono::seconds(10));

// "name<TAB>kind<TAB>model" (no newline). Control characters in the fields are written as \xHH so that each
// speaker stays on one line.
[[nodiscard]] std::string speakerLine(const Speaker& speaker);

}  // namespace brontide
