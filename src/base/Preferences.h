#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brontide {

// The user's stored preferences as text values by key. Main thread.
class Preferences {
 public:
  virtual ~Preferences() = default;
  [[nodiscard]] virtual std::optional<std::string> value(std::string_view key) const = 0;
  // Read back at once by value(); a later process reads it once flush() has run.
  virtual void setValue(std::string_view key, std::string_view value) = 0;
  // Writes what setValue() left pending to the store.
  virtual void flush() {}
};

// "true"/"false" (any letter case); anything else is no flag.
[[nodiscard]] std::optional<bool> parseFlag(std::string_view text);
// A number only when the whole text parses and is finite ("nan", "inf", "1x" are not numbers).
[[nodiscard]] std::optional<double> parseNumber(std::string_view text);
// Shortest text that reads back as exactly `value`.
[[nodiscard]] std::string formatNumber(double value);

}  // namespace brontide
