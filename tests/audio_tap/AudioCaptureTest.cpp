#include "audio_tap/AudioCapture.h"

#include <gtest/gtest.h>

#include "audio_tap/FakeAudioSystem.h"
#include "audio_tap/ProcessTap.h"

namespace brontide {
namespace {

AudioClient client(AudioObjectID object, std::vector<std::optional<std::string>> streams,
                   std::optional<std::int32_t> pid = std::nullopt) {
  return AudioClient{object, pid, "", streams.empty() ? std::nullopt : streams.front(), std::move(streams)};
}

TEST(AudioCapture, AudioProcessObjects_MatchesPrefixInServerOrder) {
  fakes::FakeAudioSystem system;
  system.pid = 500;
  system.clients = {
      client(30, {"com.spotify.client"}),
      client(31, {}),  // no output stream
      client(32, {std::nullopt, "com.spotify.client.helper"}),
      client(33, {std::nullopt}),  // unreadable
      client(34, {"org.gnome.totem", "com.spotify.client"}, 900),
      client(35, {"com.spotify.client"}, 500),  // this very process
      client(30, {"com.spotify.client"}),       // listed twice: kept twice
      client(36, {"Com.Spotify.Client"}),
  };
  const std::vector<std::pair<std::string, std::vector<AudioObjectID>>> cases = {
      {"com.spotify.client", {30, 32, 34, 30}}, {"com.spot", {30, 32, 34, 30}}, {"com.spotify.client.", {32}},
      {"", {30, 32, 34, 30, 36}}, {"Com.Spotify", {36}}, {"org.videolan", {}}};
  for (const auto& [prefix, expected] : cases) EXPECT_EQ(audioProcessObjects(system, prefix), expected) << prefix;
}

TEST(AudioCapture, AudioCapture_EmptyServerGivesNothingAndTapsCarryTheirObjects) {
  fakes::FakeAudioSystem system;
  AudioCapture capture(system);
  EXPECT_TRUE(capture.audioProcessObjects("").empty());
  auto tap = capture.makeTap({3, 4}, false);
  EXPECT_EQ(tap->processObjects(), (std::vector<AudioObjectID>{3, 4}));
  EXPECT_EQ(tap->format(), AudioStreamBasicDescription{});
  EXPECT_TRUE(system.calls.empty());  // nothing exists before start
}

}  // namespace
}  // namespace brontide
