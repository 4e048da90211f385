#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/Collator.h"
#include "base/MainQueue.h"
#include "base/Signal.h"
#include "controller/SpeakerDiscovery.h"
#include "speaker_browser/ServiceBrowser.h"
#include "speaker_browser/Speaker.h"

namespace brontide {

// The live, display-ready list of AirPlay receivers on the network. Main thread only.
class SpeakerBrowser final : public SpeakerDiscovery {
 public:
  // `ownName` is this computer's user-visible name: its own receiver is left out.
  SpeakerBrowser(ServiceBrowser& browser, MainQueue& mainQueue, const Collator& collator, std::string ownName);
  ~SpeakerBrowser() override;

  // Begins browsing; a second call does nothing.
  void start() override;

  [[nodiscard]] const std::vector<Speaker>& speakers() const;
  // True until the first search has come to an end.
  [[nodiscard]] bool searching() const;

  // Fires after every assignment to `speakers` or `searching`.
  Signal<> changed;

 private:
  struct State;
  std::shared_ptr<State> d_;
};

}  // namespace brontide
