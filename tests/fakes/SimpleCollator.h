#pragma once

#include <cctype>
#include <string>
#include <string_view>

#include "base/Collator.h"

namespace brontide::fakes {

// Case-insensitive comparison that also ignores the common Latin-1 accents (á, É, ü …) in UTF-8.
// Enough for tests; the real one follows the user's locale.
class SimpleCollator final : public Collator {
 public:
  [[nodiscard]] int compare(std::string_view a, std::string_view b) const override {
    return fold(a).compare(fold(b));
  }

 private:
  // Base letters of U+00C0..U+00FF; '.' keeps the letter, lower-cased: Spanish sorts ñ apart from n.
  static constexpr std::string_view kBase = "aaaaaa.ceeeeiiiid.ooooo.ouuuuy..aaaaaa.ceeeeiiiid.ooooo.ouuuuy.y";

  static std::string fold(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (c != 0xC3 || next < 0x80 || next > 0xBF) {
        out += static_cast<char>(std::tolower(c));
      } else if (const char base = kBase[next - 0x80]; base != '.') {
        out += base;
        ++i;
      } else {
        out += {static_cast<char>(c), static_cast<char>(next <= 0x9E && next != 0x97 ? next + 0x20 : next)};
        ++i;
      }
    }
    return out;
  }
};

}  // namespace brontide::fakes
