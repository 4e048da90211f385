#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Collator.h"
#include "base/MainQueue.h"
#include "base/Signal.h"
#include "controller/SpeakerDiscovery.h"
#include "speaker_browser/ServiceBrowser.h"
#include "speaker_browser/Speaker.h"

namespace brontide {

// The DNS-SD service type AirPlay receivers advertise.
inline constexpr const char* kAirPlayServiceType = "_airplay._tcp";

// The live, display-ready list of AirPlay receivers on the network. Main thread only.
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

// The published list for a result set: receivers named `ownName` or published by this machine left out,
// the first result per name kept, HomePods first, then by `collator` name order (stable).
[[nodiscard]] std::vector<Speaker> arrangeSpeakers(std::span<const ServiceResult> results, std::string_view ownName,
                                                   const Collator& collator);

}  // namespace brontide
