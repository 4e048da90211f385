#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Preferences.h"

namespace brontide::fakes {

// Preferences kept in memory, standing for the settings file; records every write in order.
class MemoryPreferences final : public Preferences {
 public:
  MemoryPreferences() = default;
  MemoryPreferences(std::initializer_list<std::pair<const std::string, std::string>> values) : values_(values) {}

  [[nodiscard]] std::optional<std::string> value(std::string_view key) const override {
    const auto it = values_.find(key);
    return it == values_.end() ? std::nullopt : std::optional(it->second);
  }
  void setValue(std::string_view key, std::string_view value) override {
    values_[std::string(key)] = std::string(value);
    writes.emplace_back(key, value);
  }
  void flush() override { ++flushes; }

  std::vector<std::pair<std::string, std::string>> writes;
  int flushes = 0;  // each one a write of the file

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace brontide::fakes
