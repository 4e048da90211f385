#include "controller/ControllerFixture.h"

namespace brontide {
namespace {

using Status = LoginItems::Status;

using Controller_Apps = ControllerTest;

std::vector<std::string> names(const std::vector<AppChoice>& apps) {
  std::vector<std::string> out;
  for (const auto& app : apps) out.push_back(app.bundleID + "=" + app.name);
  return out;
}

TEST_F(Controller_Apps, ListsOrdinaryAppsOnceSortedWithTheStoredChoiceFirst) {
  workspace.addApp("org.gnome.totem", "Vídeos");
  workspace.running.push_back({std::nullopt, "Sin id", true});
  workspace.addApp("brontide", "Brontide");
  workspace.addApp("org.freedesktop.portal", "Portal", false);
  workspace.addApp("beta.app", "Beta");
  workspace.addApp("alpha.app", "alpha");
  workspace.addApp("beta.app", "Beta (2)");
  workspace.addApp("noname.app");
  workspace.addApp("other.alpha", "Alpha");
  workspace.addApp("org.gnome.eog", "Visor de imágenes");
  const std::vector<std::string> sorted = {"alpha.app=alpha", "other.alpha=Alpha", "beta.app=Beta",
                                           "noname.app=noname.app", "org.gnome.totem=Vídeos",
                                           "org.gnome.eog=Visor de imágenes"};

  auto& c = make();
  auto expected = sorted;
  expected.insert(expected.begin(), "com.spotify.client=Spotify");
  EXPECT_EQ(names(c.apps()), expected);

  c.setSelectedBundle("org.videolan.vlc");
  c.refreshApps();
  expected[0] = "org.videolan.vlc=org.videolan.vlc";
  EXPECT_EQ(names(c.apps()), expected);
  EXPECT_EQ(c.sourceName(), "org.videolan.vlc");

  c.setSelectedBundle("beta.app");
  c.refreshApps();
  EXPECT_EQ(names(c.apps()), sorted);
  EXPECT_EQ(c.sourceName(), "Beta");

  workspace.own.reset();  // unreadable own identity: nothing is left out for it
  c.refreshApps();
  EXPECT_EQ(names(c.apps())[3], "brontide=Brontide");
}

TEST_F(Controller_Apps, IconIsTheInstalledAppsElseTheDashedSymbol) {
  workspace.locations = {{"org.gnome.totem", "/usr/share/applications/org.gnome.Totem.desktop"},
                         {"broken", "/usr/share/applications/broken.desktop"}};
  workspace.icons = {{"/usr/share/applications/org.gnome.Totem.desktop", "/usr/share/icons/totem.svg"}};
  EXPECT_EQ((AppChoice{"org.gnome.totem", "Vídeos"}.icon(workspace)), (AppIcon{"/usr/share/icons/totem.svg", ""}));
  EXPECT_EQ((AppChoice{"missing", "x"}.icon(workspace)), (AppIcon{"", "app.dashed"}));
  EXPECT_EQ((AppChoice{"broken", "x"}.icon(workspace)), (AppIcon{"", "app.dashed"}));
}

TEST_F(Controller_Apps, PreferencesAreStoredAtOnceAndBrokenOnesMeanTheDefault) {
  preferences = fakes::MemoryPreferences{{"sourceBundle", ""}, {"autoStart", "1"}, {"onboarded", "sí"}};
  auto& c = make();
  EXPECT_EQ(c.selectedBundle(), "com.spotify.client");
  EXPECT_FALSE(c.autoStart());
  EXPECT_FALSE(c.onboarded());
  c.setAutoStart(true);
  c.setOnboarded(false);
  c.setSelectedBundle("org.gnome.totem");
  EXPECT_EQ(preferences.writes, (std::vector<std::pair<std::string, std::string>>{
                                    {"autoStart", "true"}, {"onboarded", "false"}, {"sourceBundle", "org.gnome.totem"}}));
}

using Controller_LaunchAtLogin = ControllerTest;

TEST_F(Controller_LaunchAtLogin, FollowsTheStatusReadAfterEveryChange) {
  struct Row {
    bool on;
    Status after;
    std::optional<std::string> failure;
    bool expected;
    std::string detail;
  };
  loginItems.current = Status::enabled;
  EXPECT_TRUE(make().launchAtLogin());
  for (const auto& row : {Row{true, Status::enabled, std::nullopt, true, ""},
                          Row{true, Status::requiresApproval, std::nullopt, false, ""},
                          Row{false, Status::notRegistered, std::nullopt, false, ""},
                          Row{false, Status::enabled, "permiso denegado", true,
                              "No se pudo cambiar el inicio de sesión: permiso denegado"}}) {
    SCOPED_TRACE(row.detail);
    auto& c = make();
    loginItems.current = row.on ? Status::notRegistered : Status::enabled;
    loginItems.statusAfterRegister = row.after;
    loginItems.failure = row.failure;
    c.setLaunchAtLogin(row.on);
    EXPECT_EQ(c.launchAtLogin(), row.expected);
    EXPECT_EQ(c.detail(), row.detail);
    EXPECT_EQ(c.state(), CaptureState::stopped());
  }
}

}  // namespace
}  // namespace brontide
