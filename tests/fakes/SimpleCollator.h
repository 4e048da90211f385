#pragma once

#include <string>
#include <string_view>

#include "base/Collator.h"

namespace brontide::fakes {

// Case-insensitive comparison that also ignores the common Latin-1 accents (á, É, ñ, ü …) in UTF-8.
// Enough for tests; the real one follows the user's locale.
class SimpleCollator final : public Collator {
 public:
  [[nodiscard]] int compare(std::string_view a, std::string_view b) const override {
    return fold(a).compare(fold(b));
  }

  [[nodiscard]] static std::string fold(std::string_view text) {
    // Base letters of U+00C0..U+00FF; '.' keeps the character. Ñ only folds to ñ: Spanish sorts it apart from n.
    static constexpr std::string_view kBase =
        "aaaaaa.ceeeeiiii" "d.ooooo.ouuuuy.."
        "aaaaaa.ceeeeiiii" "d.ooooo.ouuuuy.y";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c == 0xC3 && i + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if (next >= 0x80 && next <= 0xBF) {
          ++i;
          const char base = kBase[next - 0x80];
          if (base != '.') {
            out.push_back(base);
          } else {
            out.push_back(static_cast<char>(c));
            out.push_back(static_cast<char>(next >= 0x80 && next <= 0x9E && next != 0x97 ? next + 0x20 : next));
          }
          continue;
        }
      }
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c));
    }
    return out;
  }
};

}  // namespace brontide::fakes
