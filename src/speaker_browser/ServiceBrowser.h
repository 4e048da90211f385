#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brontide {

// One discovered DNS-SD service instance.
struct ServiceResult {
  std::string name;                                       // instance name
  std::optional<std::map<std::string, std::string>> txt;  // absent until the TXT record is known
  bool local = false;                                     // published by this machine
  std::string address;                                    // numeric IPv4 address, once resolved
  std::uint16_t port = 0;                                 // once resolved

  friend bool operator==(const ServiceResult&, const ServiceResult&) = default;
};

// DNS-SD browsing of one service type in the default domain. Handlers run on the main thread.
class ServiceBrowser {
 public:
  struct Handlers {
    // The complete current set, on every change.
    std::function<void(std::vector<ServiceResult>)> resultsChanged;
    // The browser is running.
    std::function<void()> ready;
  };

  virtual ~ServiceBrowser() = default;
  virtual void browse(const std::string& serviceType, Handlers handlers) = 0;
};

}  // namespace brontide
