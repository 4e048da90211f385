#include "base/Preferences.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace brontide {

namespace {

bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<bool> parseFlag(std::string_view text) {
  if (equalsIgnoringCase(text, "true")) return true;
  if (equalsIgnoringCase(text, "false")) return false;
  return std::nullopt;
}

std::optional<double> parseNumber(std::string_view text) {
  // from_chars takes no leading blanks or '+', honours no locale and reports overflow ("1e400").
  double value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string formatNumber(double value) {
  std::array<char, 32> buffer{};
  const auto [ptr, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  if (ec != std::errc{}) return {};
  return std::string(buffer.data(), ptr);
}

}  // namespace brontide
