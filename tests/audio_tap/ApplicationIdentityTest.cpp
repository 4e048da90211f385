#include "audio_tap/ApplicationIdentity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <stdlib.h>
#include <unistd.h>

namespace brontide {
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

TEST(ApplicationIdentity, SystemLookups_FindVisibleDesktopEntriesByBinary) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("brontide-identity-" + std::to_string(::getpid()));
  fs::create_directories(root / "applications/kde");
  auto write = [&](const fs::path& file, const std::string& text) { std::ofstream(root / "applications" / file) << text; };
  write("org.gnome.Totem.desktop", "[Desktop Entry]\nType=Application\nExec=totem %U\n");
  write("hidden.desktop", "[Desktop Entry]\nType=Application\nExec=mpv\nNoDisplay=true\n");
  write("kde/org.kde.elisa.desktop", "[Desktop Entry]\nType=Application\nExec=env FOO=1 /usr/bin/elisa\n");
  write("tryexec.desktop", "[Desktop Action x]\nExec=nothere\n[Desktop Entry]\nType=Application\nTryExec=/usr/bin/vlc\nExec=x\n");
  ::setenv("XDG_DATA_HOME", root.c_str(), 1);
  ::setenv("XDG_DATA_DIRS", "/nonexistent", 1);
  auto lookups = systemIdentityLookups();
  EXPECT_EQ(lookups.desktopFileId("totem"), "org.gnome.Totem");
  EXPECT_EQ(lookups.desktopFileId("mpv"), std::nullopt);
  EXPECT_EQ(lookups.desktopFileId("elisa"), "kde-org.kde.elisa");
  EXPECT_EQ(lookups.desktopFileId("vlc"), "tryexec");
  EXPECT_EQ(lookups.desktopFileId("nothere"), std::nullopt);
  EXPECT_TRUE(lookups.executable(::getpid()).has_value());
  fs::remove_all(root);
}

}  // namespace
}  // namespace brontide
