#include "speaker_browser/Speaker.h"

#include <gtest/gtest.h>

namespace brontide {
namespace {

TEST(SpeakerTest, Speaker_KindAndSymbolFollowModel) {
  struct Row {
    const char* model;
    const char* kind;
    const char* symbol;
  };
  for (const auto& row : {Row{"AudioAccessory5,1", "HomePod mini", "homepodmini.fill"},
                          Row{"AudioAccessory1,1", "HomePod", "homepod.fill"},
                          Row{"AudioAccessory5,1 ", "HomePod", "homepod.fill"},
                          Row{"AudioAccessory", "HomePod", "homepod.fill"},
                          Row{"AppleTV6,2", "Apple TV", "appletv.fill"},
                          Row{"Mac14,3", "Mac", "laptopcomputer"},
                          Row{"", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"audioaccessory5,1", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"appletv6,2", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"mac14,3", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{"iMac21,1", "Altavoz AirPlay", "hifispeaker.fill"},
                          Row{" AppleTV6,2", "Altavoz AirPlay", "hifispeaker.fill"}}) {
    const Speaker speaker{"Sala", row.model};
    EXPECT_EQ(speaker.kind(), row.kind) << row.model;
    EXPECT_EQ(speaker.symbol(), row.symbol) << row.model;
  }
}

}  // namespace
}  // namespace brontide
