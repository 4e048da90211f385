#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Collator.h"
#include "speaker_browser/ServiceBrowser.h"
#include "speaker_browser/Speaker.h"

namespace brontide {

// The DNS-SD service types of AirPlay devices: every device advertises `_airplay._tcp`; those that take
// AirPlay 1 audio, the only kind the output can send, also advertise `_raop._tcp` as "<device id>@<name>".
inline constexpr const char* kAirPlayServiceType = "_airplay._tcp";
inline constexpr const char* kRaopServiceType = "_raop._tcp";

// One AirPlay device, as both the speaker list and the AirPlay menu show it.
struct CatalogueEntry {
  Speaker speaker;                    // the `_airplay._tcp` name, else the `_raop._tcp` one after "@"
  std::optional<ServiceResult> raop;  // its resolved `_raop._tcp` record: absent when the output cannot drive it
  friend bool operator==(const CatalogueEntry&, const CatalogueEntry&) = default;
};

// One entry per device. An `_airplay._tcp` record and a resolved `_raop._tcp` record are one device when the
// former's TXT "deviceid" (colons aside, any case) is the latter's name before "@", else when the latter's name
// after "@" is the former's name. Records published by this machine or named `ownName` are left out; the first
// record per name is kept. The model is the `_airplay._tcp` TXT "model", else the `_raop._tcp` TXT "am".
// HomePods first, then by `collator` name order (stable).
[[nodiscard]] std::vector<CatalogueEntry> catalogueDevices(std::span<const ServiceResult> airplay,
                                                           std::span<const ServiceResult> raop,
                                                           std::string_view ownName, const Collator& collator);

// The device id a `_raop._tcp` instance name starts with (before "@"); empty when it has none.
[[nodiscard]] std::string_view raopDeviceId(std::string_view instance);

// The catalogue's order of two devices: HomePods first, then by name.
[[nodiscard]] bool catalogueOrder(const Speaker& a, const Speaker& b, const Collator& collator);

}  // namespace brontide
