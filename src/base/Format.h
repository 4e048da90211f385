#pragma once

#include <string>

namespace brontide {

// printf-style formatting into a std::string; used for the fixed log and message formats.
[[nodiscard]] std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace brontide
