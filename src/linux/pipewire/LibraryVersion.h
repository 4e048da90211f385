#pragma once

#include <string_view>

namespace brontide::linux::pipewire {

// A libpipewire version as the loaded library reports it (pw_get_library_version()).
struct LibraryVersion {
  int major = 0;
  int minor = 0;
  int micro = 0;

  // "1.4.2" → {1, 4, 2}; what does not parse counts as 0.
  [[nodiscard]] static LibraryVersion parse(std::string_view text);
  // The library this process loaded, not the headers it was built with.
  [[nodiscard]] static LibraryVersion loaded();
  friend auto operator<=>(const LibraryVersion&, const LibraryVersion&) = default;
};

// The configuration our contexts load: 0.3's client.conf leaves its data threads at normal priority, and
// client-rt.conf is the one that asks for real time; from 1.0 client.conf does.
[[nodiscard]] const char* clientConfigName(LibraryVersion library);

}  // namespace brontide::linux::pipewire
