#pragma once

#include <memory>
#include <string>

#include "base/Log.h"
#include "base/MainQueue.h"
#include "speaker_browser/ServiceBrowser.h"

namespace brontide::linux::avahi {

// DNS-SD browsing through avahi-daemon (libavahi-client) on its own thread, "brontide.dnssd". Waits for a daemon
// that is not running yet and reconnects when it goes away (publishing the empty set meanwhile). Each service
// name is one result: its IPv4 address when it has one, TXT kept up to date. Names and TXT values are handed on
// as valid UTF-8 (bad bytes become U+FFFD). Construct, browse and destroy on the main thread.
class AvahiServiceBrowser final : public ServiceBrowser {
 public:
  AvahiServiceBrowser(MainQueue& mainQueue, Log& log);
  ~AvahiServiceBrowser() override;
  AvahiServiceBrowser(const AvahiServiceBrowser&) = delete;
  AvahiServiceBrowser& operator=(const AvahiServiceBrowser&) = delete;

  // Several service types may be browsed at once, each with its own handlers.
  void browse(const std::string& serviceType, Handlers handlers) override;

  // The daemon's host name (what this machine's own receiver advertises), empty until the daemon first answers.
  // Any thread.
  [[nodiscard]] std::string hostName() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brontide::linux::avahi
