#include "linux/pipewire/LibraryVersion.h"

#include <pipewire/pipewire.h>

#include <charconv>

namespace brontide::linux::pipewire {

LibraryVersion LibraryVersion::parse(std::string_view text) {
  LibraryVersion version;
  int* parts[] = {&version.major, &version.minor, &version.micro};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (int* part : parts) {
    const auto [next, error] = std::from_chars(at, end, *part);
    if (error != std::errc()) return version;
    at = next;
    if (at == end || *at != '.') return version;
    ++at;
  }
  return version;
}

LibraryVersion LibraryVersion::loaded() { return parse(pw_get_library_version()); }

const char* clientConfigName(LibraryVersion library) {
  return library < LibraryVersion{1, 0, 0} ? "client-rt.conf" : "client.conf";
}

}  // namespace brontide::linux::pipewire
