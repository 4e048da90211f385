#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brontide {

// One discovered DNS-SD service instance.
struct ServiceResult {
  std::string name;                                       // instance name
  // Absent until the TXT record is known. Keys are lower-cased (DNS-SD keys ignore case); a key given
  // twice keeps its first value; a key without "=" maps to "".
  std::optional<std::map<std::string, std::string>> txt;
  bool local = false;                                     // published by this machine
  std::string address;                                    // numeric IPv4 address, once resolved
  std::uint16_t port = 0;                                 // once resolved

  friend bool operator==(const ServiceResult&, const ServiceResult&) = default;
};

// A TXT value of `result` (lower-case `key`), empty when absent; valid while `result` is.
[[nodiscard]] inline std::string_view txtValue(const ServiceResult& result, const std::string& key) {
  if (!result.txt) return {};
  const auto it = result.txt->find(key);
  return it == result.txt->end() ? std::string_view{} : std::string_view(it->second);
}

// What a listing says when no DNS-SD daemon answers.
inline constexpr const char* kNoDnsSdDaemon = "No se pueden buscar altavoces: avahi-daemon no responde.";

// DNS-SD browsing of one service type in the default domain. Handlers run on the main thread.
class ServiceBrowser {
 public:
  struct Handlers {
    // The complete current set, on every change.
    std::function<void(std::vector<ServiceResult>)> resultsChanged;
    // The browser is running.
    std::function<void()> ready;
    // This machine's own name on the network (what its own receiver would advertise), once known and
    // on every change. May stay silent when the platform has none.
    std::function<void(std::string)> hostName;
  };

  virtual ~ServiceBrowser() = default;
  // Starts browsing `serviceType` (e.g. "_airplay._tcp") for the life of the browser. Main thread.
  virtual void browse(const std::string& serviceType, Handlers handlers) = 0;
};

}  // namespace brontide
