#pragma once

#include <string>

namespace brontide {

// One discovered AirPlay receiver. Its identity in lists is `name`.
struct Speaker {
  std::string name;   // the DNS-SD instance name, as shown
  std::string model;  // TXT "model", empty when unknown

  // "HomePod mini", "HomePod", "Apple TV", "Mac" or "Altavoz AirPlay" (the last one is a translation key).
  [[nodiscard]] std::string kind() const;
  // The symbol name for the row's icon, e.g. "homepod.fill".
  [[nodiscard]] std::string symbol() const;

  friend bool operator==(const Speaker&, const Speaker&) = default;
};

}  // namespace brontide
