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
#include "speaker_browser/SpeakerCatalogue.h"

namespace brontide {

// The live, display-ready list of AirPlay devices on the network: the speakers of the device catalogue
// (`catalogueDevices`), which the AirPlay menu shows too. Main thread only.
class SpeakerBrowser final : public SpeakerDiscovery {
 public:
  // `ownName` is this computer's user-visible name: its own receiver is left out. When it is empty, the
  // host name the ServiceBrowser reports takes its place (the Avahi host name, known once the daemon answers).
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
