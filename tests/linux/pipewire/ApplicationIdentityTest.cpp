#include "linux/pipewire/ApplicationIdentity.h"

#include <gtest/gtest.h>

namespace brontide::linux::pipewire {
namespace {

IdentityLookups fakeLookups() {
  IdentityLookups lookups;
  lookups.flatpakAppId = [](std::int32_t pid) -> std::optional<std::string> {
    if (pid == 77) return "org.mozilla.firefox";
    return std::nullopt;
  };
  lookups.desktopFileId = [](std::string_view binary) -> std::optional<std::string> {
    if (binary == "totem") return "org.gnome.Totem";
    return std::nullopt;
  };
  lookups.executable = [](std::int32_t pid) -> std::optional<std::string> {
    if (pid == 88) return "/opt/spotify/spotify";
    if (pid == 99) return "/usr/bin/totem";
    return std::nullopt;
  };
  return lookups;
}

const AudioProperties kPulseClient{{"client.api", "pipewire-pulse"}, {"pipewire.sec.pid", "77"},
                                   {"application.process.binary", "pacat"}, {"application.process.id", "99"}};

TEST(ApplicationIdentity, ApplicationIdentity_FollowsTheOrderOfSources) {
  struct Case {
    const char* name;
    AudioProperties node;
    AudioProperties client;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"NodeIdFirst", {{"application.id", "org.Test.Tone"}},
          {{"application.id", "client.id"}, {"pipewire.access.portal.app_id", "org.portal"}}, "org.test.tone"},
      {"PortalAppId", {}, {{"pipewire.access.portal.app_id", "org.Portal.App"}, {"application.id", "client.id"}},
          "org.portal.app"},
      {"FlatpakInfo", {}, {{"pipewire.sec.pid", "77"}, {"application.id", "client.id"}}, "org.mozilla.firefox"},
      {"PulseSkipsFlatpakOfFrontEnd", {}, kPulseClient, "pacat"},
      {"ClientId", {}, {{"pipewire.sec.pid", "5"}, {"application.id", "Client.ID"}}, "client.id"},
      {"DesktopFile", {{"application.process.binary", "totem"}}, {{"pipewire.sec.pid", "5"}}, "org.gnome.totem"},
      {"BinaryName", {}, {{"application.process.binary", "/usr/bin/MPV"}}, "mpv"},
      {"ExecutableWhenNoBinary", {}, {{"pipewire.sec.pid", "99"}}, "org.gnome.totem"},
      {"SpotifyAlias", {}, {{"pipewire.sec.pid", "88"}}, "com.spotify.client"},
      {"SpotifyAliasFromId", {{"application.id", "Spotify"}}, {}, "com.spotify.client"},
      {"NoAliasForLongerNames", {{"application.id", "spotify-launcher"}}, {}, "spotify-launcher"},
      {"EmptyValuesIgnored", {{"application.id", ""}}, {{"application.process.binary", "vlc"}}, "vlc"},
      {"Nothing", {}, {{"pipewire.sec.pid", "5"}}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(applicationIdentity(c.node, c.client, fakeLookups()), c.expected) << c.name;
  }
}

TEST(ApplicationIdentity, ApplicationPid_IgnoresThePulseFrontEndsPid) {
  EXPECT_EQ(applicationPid({}, kPulseClient), 99);
  EXPECT_EQ(applicationPid({}, {{"pipewire.sec.pid", "12"}, {"application.process.id", "3"}}), 12);
  EXPECT_EQ(applicationPid({}, {{"pipewire.sec.pid", "x12"}}), std::nullopt);
}

TEST(ApplicationIdentity, ParseFlatpakAppId_ReadsTheApplicationGroup) {
  EXPECT_EQ(parseFlatpakAppId("[Runtime]\nname=org.freedesktop.Platform\n\n[Application]\n# c\nname = com.Example.App \n"),
            "com.Example.App");
  EXPECT_EQ(parseFlatpakAppId("[Runtime]\nname=org.freedesktop.Platform\n"), std::nullopt);
  EXPECT_EQ(parseFlatpakAppId(""), std::nullopt);
}

}  // namespace
}  // namespace brontide::linux::pipewire
