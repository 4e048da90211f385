#include "speaker_browser/Speaker.h"

namespace brontide {

namespace {

struct Classification {
  const char* kind;
  const char* symbol;
};

// First match wins; exact and case-sensitive, the last three are prefix tests.
Classification classify(const std::string& model) {
  if (model == "AudioAccessory5,1") return {"HomePod mini", "homepodmini.fill"};
  if (model.starts_with("AudioAccessory")) return {"HomePod", "homepod.fill"};
  if (model.starts_with("AppleTV")) return {"Apple TV", "appletv.fill"};
  if (model.starts_with("Mac")) return {"Mac", "laptopcomputer"};
  return {"Altavoz AirPlay", "hifispeaker.fill"};
}

}  // namespace

std::string Speaker::kind() const { return classify(model).kind; }

std::string Speaker::symbol() const { return classify(model).symbol; }

}  // namespace brontide
