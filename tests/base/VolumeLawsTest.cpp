#include "base/VolumeLaws.h"

#include <gtest/gtest.h>

#include <limits>

namespace brontide::volume {
namespace {

TEST(VolumeLawsTest, Laws_MapTheSliderToGainChannelVolumeAndWhatAReceiverIsSent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    double position;
    float gain, channel;
    double sentDb;
  };
  for (const auto& row : {Row{0, 0, 0, -144}, Row{0.5, 0.25f, 0.125f, -15}, Row{0.8, 0.64f, 0.512f, -6},
                          Row{1, 1, 1, 0}, Row{-1, 0, 0, -144}, Row{3, 1, 1, 0}, Row{nan, 0, 0, -144}}) {
    SCOPED_TRACE(row.position);
    EXPECT_FLOAT_EQ(commonGain(row.position), row.gain);
    EXPECT_FLOAT_EQ(speakerChannelVolume(row.position), row.channel);
    EXPECT_NEAR(airPlayVolumeDb(row.position), row.sentDb, 1e-9);
  }
}

}  // namespace
}  // namespace brontide::volume
