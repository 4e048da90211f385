#pragma once

#include <string>
#include <string_view>

namespace brontide {

// printf-style formatting into a std::string; used for the fixed log and message formats.
[[nodiscard]] std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `text` with control characters written as \xHH, so that it stays on one line of output or log.
[[nodiscard]] std::string escapeControlCharacters(std::string_view text);

}  // namespace brontide
