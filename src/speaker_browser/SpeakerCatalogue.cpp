#include "speaker_browser/SpeakerCatalogue.h"

#include <algorithm>
#include <cctype>

namespace brontide {

namespace {

std::string shownName(const std::string& instance) {
  const auto at = instance.find('@');
  return at == std::string::npos ? instance : instance.substr(at + 1);
}

// "AA:BB:CC:DD:EE:FF" and "aabbccddeeff" are one device id.
std::string deviceKey(std::string_view id) {
  std::string key;
  for (const char c : id)
    if (c != ':') key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

struct Pending {
  const ServiceResult* airplay = nullptr;
  const ServiceResult* raop = nullptr;
};

}  // namespace

std::string_view raopDeviceId(std::string_view instance) {
  const auto at = instance.find('@');
  return at == std::string_view::npos ? std::string_view{} : instance.substr(0, at);
}

bool catalogueOrder(const Speaker& a, const Speaker& b, const Collator& collator) {
  const bool homePodA = a.model.starts_with("AudioAccessory");
  if (homePodA != b.model.starts_with("AudioAccessory")) return homePodA;
  return collator.compare(a.name, b.name) < 0;
}

std::vector<CatalogueEntry> catalogueDevices(std::span<const ServiceResult> airplay,
                                             std::span<const ServiceResult> raop, std::string_view ownName,
                                             const Collator& collator) {
  std::vector<Pending> devices;
  const auto named = [&](std::string_view name) {
    return std::ranges::any_of(devices, [&](const Pending& d) {
      return d.airplay ? d.airplay->name == name : shownName(d.raop->name) == name;
    });
  };
  for (const auto& result : airplay) {
    if (result.local || result.name == ownName || named(result.name)) continue;
    devices.push_back({.airplay = &result});
  }
  // A device seen on two addresses, or two devices under one name: the first record stays.
  std::vector<const ServiceResult*> receivers;
  for (const auto& result : raop) {
    if (result.local || !result.txt || result.address.empty() || result.port == 0) continue;
    const auto name = shownName(result.name);
    if (name.empty() || name == ownName) continue;
    if (std::ranges::none_of(receivers, [&](const auto* r) { return shownName(r->name) == name; }))
      receivers.push_back(&result);
  }
  // Device ids first, so that a name never takes a record another device is known by.
  const auto pair = [&](const auto& matches) {
    for (auto& r : receivers) {
      if (!r) continue;
      const auto it =
          std::ranges::find_if(devices, [&](const Pending& d) { return !d.raop && matches(*d.airplay, *r); });
      if (it == devices.end()) continue;
      it->raop = r;
      r = nullptr;
    }
  };
  pair([](const ServiceResult& a, const ServiceResult& r) {
    const auto id = deviceKey(txtValue(a, "deviceid"));
    return !id.empty() && id == deviceKey(raopDeviceId(r.name));
  });
  pair([](const ServiceResult& a, const ServiceResult& r) { return a.name == shownName(r.name); });
  for (const auto* r : receivers)
    if (r && !named(shownName(r->name))) devices.push_back({.raop = r});

  std::vector<CatalogueEntry> entries;
  for (const auto& d : devices) {
    CatalogueEntry entry;
    entry.speaker.name = d.airplay ? d.airplay->name : shownName(d.raop->name);
    if (d.airplay) entry.speaker.model = txtValue(*d.airplay, "model");
    if (entry.speaker.model.empty() && d.raop) entry.speaker.model = txtValue(*d.raop, "am");
    if (d.raop) entry.raop = *d.raop;
    entries.push_back(std::move(entry));
  }
  std::ranges::stable_sort(entries, [&collator](const CatalogueEntry& a, const CatalogueEntry& b) {
    return catalogueOrder(a.speaker, b.speaker, collator);
  });
  return entries;
}

}  // namespace brontide
