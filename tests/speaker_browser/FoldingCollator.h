#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/Collator.h"

namespace brontide::fakes {

// Case-insensitive for ASCII letters, byte order otherwise: enough for the names the tests sort.
class FoldingCollator final : public Collator {
 public:
  int compare(std::string_view a, std::string_view b) const override {
    const auto fold = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    const auto [ia, ib] = std::ranges::mismatch(a, b, [&](char x, char y) { return fold(x) == fold(y); });
    if (ia == a.end()) return ib == b.end() ? 0 : -1;
    if (ib == b.end()) return 1;
    return fold(*ia) < fold(*ib) ? -1 : 1;
  }
};

}  // namespace brontide::fakes
