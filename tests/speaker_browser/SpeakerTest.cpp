#include "speaker_browser/Speaker.h"

#include <gtest/gtest.h>

namespace brontide {
namespace {

struct Row {
  const char* model;
  const char* kind;
  const char* symbol;
};

class SpeakerClassification : public testing::TestWithParam<Row> {};

TEST_P(SpeakerClassification, Speaker_KindAndSymbolFollowModel) {
  const Speaker speaker{"Sala", GetParam().model};
  EXPECT_EQ(speaker.kind(), GetParam().kind);
  EXPECT_EQ(speaker.symbol(), GetParam().symbol);
}

INSTANTIATE_TEST_SUITE_P(
    Models, SpeakerClassification,
    testing::Values(Row{"AudioAccessory5,1", "HomePod mini", "homepodmini.fill"},
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
                    Row{" AppleTV6,2", "Altavoz AirPlay", "hifispeaker.fill"},
                    Row{"Sonos One", "Altavoz AirPlay", "hifispeaker.fill"}));

}  // namespace
}  // namespace brontide
