#pragma once

#include <string_view>

namespace brontide {

// Localised, case-insensitive comparison of user-visible names. Main thread.
class Collator {
 public:
  virtual ~Collator() = default;
  // Negative when `a` sorts before `b`, zero when they compare equal, positive otherwise.
  [[nodiscard]] virtual int compare(std::string_view a, std::string_view b) const = 0;
};

}  // namespace brontide
