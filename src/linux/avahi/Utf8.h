#pragma once

#include <string>
#include <string_view>

namespace brontide::linux::avahi {

// `text` with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD.
// DNS-SD names and TXT values are arbitrary bytes on the wire; the rest of the program assumes UTF-8.
[[nodiscard]] std::string validUtf8(std::string_view text);

// `text` for a log line: control characters as \xHH, then made valid UTF-8.
[[nodiscard]] std::string printable(std::string_view text);

}  // namespace brontide::linux::avahi
