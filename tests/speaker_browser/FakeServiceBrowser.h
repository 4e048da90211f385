#pragma once

#include <string>
#include <utility>
#include <vector>

#include "speaker_browser/ServiceBrowser.h"

namespace brontide::fakes {

// Records browse calls; the test plays the platform's events through the recorded handlers.
class FakeServiceBrowser final : public ServiceBrowser {
 public:
  void browse(const std::string& serviceType, Handlers handlers) override {
    browsed.emplace_back(serviceType, std::move(handlers));
  }

  void results(std::vector<ServiceResult> set) { last().resultsChanged(std::move(set)); }
  void ready() { last().ready(); }
  void hostName(std::string name) { last().hostName(std::move(name)); }

  std::vector<std::pair<std::string, Handlers>> browsed;

 private:
  Handlers& last() { return browsed.back().second; }
};

inline ServiceResult service(std::string name, std::optional<std::string> model, bool local = false) {
  ServiceResult result{.name = std::move(name), .txt = std::nullopt, .local = local, .address = {}, .port = 0};
  if (model) result.txt = std::map<std::string, std::string>{{"model", *model}};
  return result;
}

// A resolved `_raop._tcp` record.
inline ServiceResult raop(std::string name, std::string address, std::uint16_t port,
                          std::map<std::string, std::string> txt = {{"et", "0,1"}}, bool local = false) {
  return ServiceResult{.name = std::move(name), .txt = std::move(txt), .local = local, .address = std::move(address),
                       .port = port};
}

}  // namespace brontide::fakes
