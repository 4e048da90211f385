#pragma once

#include <string>
#include <string_view>

#include "linux/pipewire/LibraryVersion.h"
#include "speaker_browser/AirPlayOutput.h"

namespace brontide::linux::pipewire {

// libpipewire-module-raop-sink's arguments for one receiver. The module runs inside this process, so its
// argument names are those of the library loaded at run time: up to 0.3.65 the address goes in raop.hostname;
// later releases read it from raop.ip and show raop.name. From 1.0 the sink buffers raop.latency.ms at the least,
// 1.5 s by default: asked for kRaopLatencyMs, as 0.3's sink always did.
// `group` is the node.group the sink is scheduled with.
[[nodiscard]] std::string raopSinkArguments(const AirPlayReceiver& receiver, const std::string& nodeName,
                                            const std::string& group, LibraryVersion library);

// Whether that library's raop sink sends its volume to the receiver (which then plays at it) instead of applying
// it to the sound it sends.
[[nodiscard]] bool raopSinkSendsVolume(LibraryVersion library);

// The play-out latency asked of receivers that accept less than the sink's own 1.5 s default.
inline constexpr int kRaopLatencyMs = 250;

// A SPA-JSON string literal.
[[nodiscard]] std::string jsonString(std::string_view text);

}  // namespace brontide::linux::pipewire
