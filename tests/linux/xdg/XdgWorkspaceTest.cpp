#include "linux/xdg/XdgWorkspace.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "XdgTree.h"
#include "fakes/RecordingLog.h"

namespace brontide::linux::xdg {
namespace {

constexpr std::int32_t kOwnPid = 4242;

std::string entry(const std::string& body) { return "[Desktop Entry]\nType=Application\n" + body; }

class XdgWorkspaceTest : public ::testing::Test {
 protected:
  testing::XdgTree tree;
  fakes::RecordingLog log;
  std::vector<AudioClient> clients;
  std::vector<std::vector<std::string>> launched;
  std::vector<std::string> installed{"xdg-open", "gio", "gnome-control-center", "pavucontrol", "pwvucontrol"};
  std::optional<std::vector<std::string>> desktops;  // XDG_CURRENT_DESKTOP, when not the tree's
  std::vector<std::unique_ptr<DesktopEntries>> entries;  // each workspace's, kept for the fixture's life

  void app(const std::string& file, const std::string& body, const std::string& data = "usr/share") {
    tree.write(data + "/applications/" + file, entry(body));
  }
  // A fake /proc/PID: its executable link and command line.
  void process(int pid, const std::string& exe, const std::vector<std::string>& argv = {}) {
    const auto folder = tree.root() / "proc" / std::to_string(pid);
    std::string cmdline;
    for (const auto& arg : argv.empty() ? std::vector<std::string>{exe} : argv) cmdline += arg + '\0';
    tree.write(folder.lexically_relative(tree.root()) / "cmdline", cmdline);
    if (!exe.empty()) std::filesystem::create_symlink(exe, folder / "exe");
  }
  void client(std::optional<std::string> identity, std::string name, std::int32_t pid = 100, bool plays = true) {
    AudioClient c;
    c.pid = pid;
    c.name = std::move(name);
    c.identity = identity;
    if (plays) c.streamIdentities = {identity};
    clients.push_back(std::move(c));
  }
  std::unique_ptr<XdgWorkspace> workspace(std::optional<std::string> theme = "Tema") {
    XdgWorkspace::Options options;
    options.dirs = tree.dirs();
    if (desktops) options.dirs.currentDesktops = *desktops;
    options.procRoot = tree.root() / "proc";
    options.ownPid = kOwnPid;
    options.iconTheme = std::move(theme);
    options.audioClients = [this] { return clients; };
    options.launch = [this](const std::vector<std::string>& argv) {
      launched.push_back(argv);
      return true;
    };
    options.findProgram = [this](const std::string& program) {
      return std::ranges::find(installed, program) != installed.end();
    };
    entries.push_back(std::make_unique<DesktopEntries>(options.dirs, log));
    return std::make_unique<XdgWorkspace>(std::move(options), *entries.back(), log);
  }
  // "identity|name|o" per application, "o" when ordinary.
  std::vector<std::string> listed() {
    std::vector<std::string> rows;
    for (const auto& a : workspace()->runningApplications()) {
      rows.push_back(a.bundleID.value_or("-") + "|" + a.localizedName.value_or("-") + (a.ordinary ? "|o" : "|"));
    }
    return rows;
  }
};

using Rows = std::vector<std::string>;

TEST_F(XdgWorkspaceTest, ListsProcessesWhoseEntryIsShownInThisDesktop) {
  struct Case {
    std::string keys;
    bool shown;
  };
  const Case cases[] = {
      {"", true},
      {"NoDisplay=true\n", false},
      {"Hidden=true\n", false},
      {"OnlyShowIn=KDE;XFCE;\n", false},
      {"OnlyShowIn=KDE;GNOME;\n", true},
      {"NotShowIn=GNOME;\n", false},
      {"NotShowIn=KDE;\n", true},
  };
  int pid = 10;
  Rows expected;
  for (const auto& c : cases) {
    const auto binary = "prog" + std::to_string(pid);
    app("org.example.P" + std::to_string(pid) + ".desktop", "Name=" + binary + "\nExec=" + binary + " %U\n" + c.keys);
    process(pid, "/usr/bin/" + binary);
    if (c.shown) expected.push_back("org.example.p" + std::to_string(pid) + "|" + binary + "|o");
    ++pid;
  }
  tree.write("usr/share/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=L\nExec=link\n");
  process(pid, "/usr/bin/link");
  process(pid + 1, "/usr/bin/not-an-app");
  // A user's entry shadows the system's, also to hide it.
  app("org.example.App.desktop", "Name=System\nExec=app\n");
  app("org.example.App.desktop", "Name=Mine\nExec=app\n", "home/.local/share");
  app("org.example.Gone.desktop", "Name=Gone\nExec=gone\n");
  app("org.example.Gone.desktop", "Hidden=true\n", "home/.local/share");
  process(pid + 2, "/usr/bin/app");
  process(pid + 3, "/usr/bin/gone");
  expected.push_back("org.example.app|Mine|o");
  EXPECT_EQ(listed(), expected);
}

TEST_F(XdgWorkspaceTest, NamesFallBackFromSpanishToPlainToClientNameToIdentity) {
  app("a.desktop", "Exec=a\nName=Player\nName[es_ES]=Reproductor ES\nName[es]=Reproductor\nName[fr]=Lecteur\n");
  app("b.desktop", "Exec=b\nName=Player\nName[es_ES]=Reproductor ES\n");
  app("c.desktop", "Exec=c\nName=Player\nName[es]=\xff\xfe\n");
  app("d.desktop", "Exec=d\n");
  process(1, "/usr/bin/a");
  process(2, "/usr/bin/b");
  process(3, "/usr/bin/c");
  process(4, "/usr/bin/d");
  client("org.example.tone", "Tono de prueba");
  EXPECT_EQ(listed(), (Rows{"a|Reproductor|o", "b|Reproductor ES|o", "c|Player|o", "d|d|o",
                            "org.example.tone|Tono de prueba|o"}));
}

TEST_F(XdgWorkspaceTest, IdentifiesProcessesThroughTheirDesktopEntryAndCollapsesInstances) {
  app("org.gnome.Totem.desktop", "Name=Vídeos\nExec=totem %U\n");
  app("org.gnome.Meld.desktop", "Name=Meld\nExec=meld %F\n");
  app("wrapped.desktop", "Name=Wrapped\nExec=env GDK_BACKEND=x11 /opt/w/wrapped --flag\n");
  app("tried.desktop", "Name=Tried\nExec=launcher-script\nTryExec=/opt/t/tried-bin\n");
  app("spotify.desktop", "Name=Spotify\nExec=spotify %U\n");
  app("org.example.Sandboxed.desktop", "Name=Sandboxed\nExec=/usr/bin/flatpak run org.example.Sandboxed\n");
  process(1, "/usr/bin/totem");
  process(2, "/usr/bin/python3.11", {"python3", "-O", "/usr/bin/meld"});
  process(3, "/opt/w/wrapped");
  process(4, "/opt/t/tried-bin (deleted)");
  process(5, "/usr/share/spotify/spotify");
  process(6, "/app/bin/sandboxed");
  tree.write("proc/6/root/.flatpak-info", "[Application]\nname=org.example.Sandboxed\n");
  // One row per application, named after its entry rather than its sound-server client.
  app("firefox-esr.desktop", "Name=Firefox ESR\nExec=/usr/lib/firefox-esr/firefox-esr %u\n");
  process(30, "/usr/lib/firefox-esr/firefox-esr");
  process(12, "/usr/lib/firefox-esr/firefox-esr", {"/usr/lib/firefox-esr/firefox-esr", "-contentproc"});
  client("firefox-esr", "Firefox");
  client("org.example.tone", "tono");
  client("org.example.tone", "tono otra vez");
  EXPECT_EQ(listed(), (Rows{"org.gnome.totem|Vídeos|o", "org.gnome.meld|Meld|o", "wrapped|Wrapped|o", "tried|Tried|o",
                            "com.spotify.client|Spotify|o", "org.example.sandboxed|Sandboxed|o",
                            "firefox-esr|Firefox ESR|o", "org.example.tone|tono|o"}));
}

TEST_F(XdgWorkspaceTest, MarksSessionPlumbingAndBrontideAsNotOrdinary) {
  app("org.gnome.Extensions.desktop", "Name=Extensiones\nExec=gnome-shell-extension-prefs\n");
  app("shell.desktop", "Name=Shell\nExec=gnome-shell\n");
  process(1, "/usr/bin/gnome-shell-extension-prefs");
  process(2, "/usr/bin/gnome-shell");
  process(kOwnPid, "/usr/bin/shell-own", {"gnome-shell"});
  client("wireplumber", "WirePlumber");
  client("pipewire-pulse", "pipewire");
  client("xdg-desktop-portal-gnome", "portal");
  client("brontide.player", "Brontide", kOwnPid);
  client("org.example.quiet", "Quiet", 100, /*plays=*/false);
  client("org.example.nameless", "");
  EXPECT_EQ(listed(), (Rows{"org.gnome.extensions|Extensiones|o", "shell|Shell|", "wireplumber|WirePlumber|",
                            "pipewire-pulse|pipewire|", "xdg-desktop-portal-gnome|portal|", "brontide.player|Brontide|"}));
  EXPECT_EQ(workspace()->ownBundleID(), "brontide");
}

TEST_F(XdgWorkspaceTest, BrokenEntriesAndProcessesAreSkippedAndLoggedOnceAndNewEntriesSeen) {
  app("good.desktop", "Name=Good\nExec=good\n");
  tree.write("usr/share/applications/garbage.desktop", std::string("\x7f" "ELF\0\0[\xff]\n=", 12));
  tree.write("usr/share/applications/huge.desktop", entry("Name=Huge\nExec=good\n" + std::string(2 << 20, '#')));
  tree.write("usr/share/applications/nogroup.desktop", "Name=X\nExec=good\n");
  std::filesystem::create_directories(tree.root() / "usr/share/applications/folder.desktop");
  process(1, "/usr/bin/good");
  process(2, "");                                                 // kernel-thread-like: no exe, empty cmdline
  std::filesystem::create_directories(tree.root() / "proc/3");   // vanished before its files were read
  std::filesystem::create_directories(tree.root() / "proc/self");
  process(4, "/usr/bin/later");
  auto ws = workspace();
  for (int round = 0; round < 2; ++round) {
    auto apps = ws->runningApplications();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].localizedName, "Good");
  }
  // Installed after the first list: seen by the next, with its subfolder in its identity.
  app("sub/later.desktop", "Name=Later\nExec=later\n");
  auto apps = ws->runningApplications();
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[1].bundleID, "sub-later");
  EXPECT_EQ(log.lines().size(), 3u) << "garbage, huge and nogroup, each once";
}

TEST_F(XdgWorkspaceTest, LocatesInstalledApplicationsByIdentity) {
  const auto totem = tree.write("usr/share/applications/org.gnome.Totem.desktop", entry("Name=V\nExec=totem\n"));
  const auto spotify = tree.write("usr/share/applications/spotify.desktop", entry("Name=S\nExec=spotify %U\n"));
  const auto tool = tree.write("usr/share/applications/kde/tool.desktop", entry("Name=T\nExec=/opt/tool-bin\n"));
  auto ws = workspace();
  EXPECT_EQ(ws->applicationLocation("org.gnome.totem"), totem.string());
  EXPECT_EQ(ws->applicationLocation("com.spotify.client"), spotify.string());
  EXPECT_EQ(ws->applicationLocation("kde-tool"), tool.string());
  EXPECT_EQ(ws->applicationLocation("org.example.missing"), std::nullopt);
  EXPECT_EQ(ws->applicationLocation(""), std::nullopt);
}

TEST_F(XdgWorkspaceTest, ResolvesIconsThroughTheThemeAndFallsBack) {
  const std::string index = "[Icon Theme]\nName=T\nDirectories=16x16/apps,48x48/apps,scalable/apps\n"
                            "[16x16/apps]\nSize=16\n[48x48/apps]\nSize=48\n"
                            "[scalable/apps]\nSize=48\nMinSize=8\nMaxSize=512\nType=Scalable\n";
  tree.write("usr/share/icons/Tema/index.theme", index + "[Icon Theme]\nInherits=Base\n");
  tree.write("usr/share/icons/Base/index.theme", index);
  tree.write("usr/share/icons/hicolor/index.theme", index);
  const auto themed = tree.write("usr/share/icons/Tema/48x48/apps/themed.png", "png");
  tree.write("usr/share/icons/hicolor/48x48/apps/themed.png", "png");
  const auto inherited = tree.write("usr/share/icons/Base/scalable/apps/inherited.svg", "svg");
  const auto small = tree.write("usr/share/icons/hicolor/16x16/apps/small.png", "png");
  const auto user = tree.write("home/.local/share/icons/hicolor/48x48/apps/user.png", "png");
  const auto pixmap = tree.write("usr/share/pixmaps/legacy.xpm", "xpm");
  const auto absolute = tree.write("opt/app/icon.png", "png");
  struct Case {
    std::string icon;
    std::string expected;
  };
  const Case cases[] = {
      {"themed", themed.string()},     {"inherited", inherited.string()}, {"small", small.string()},
      {"user", user.string()},         {"legacy.xpm", pixmap.string()},   {absolute.string(), absolute.string()},
      {"/opt/app/none.png", ""},       {"missing", ""},                   {"", ""},
      {"../../../etc/passwd", ""},
  };
  auto ws = workspace();
  for (const auto& c : cases) {
    const auto location = tree.write("usr/share/applications/x.desktop", entry("Name=X\nExec=x\nIcon=" + c.icon + "\n"));
    EXPECT_EQ(ws->iconForFile(location.string()), c.expected) << c.icon;
  }
  EXPECT_EQ(ws->iconForFile((tree.root() / "nowhere.desktop").string()), "");

  auto missingTheme = workspace("NoSuchTheme");
  const auto location = tree.write("usr/share/applications/y.desktop", entry("Name=Y\nExec=y\nIcon=themed\n"));
  EXPECT_EQ(missingTheme->iconForFile(location.string()),
            (tree.root() / "usr/share/icons/hicolor/48x48/apps/themed.png").string());
}

TEST_F(XdgWorkspaceTest, OpensAddressesWithTheDesktopHandlers) {
  using Commands = std::vector<std::vector<std::string>>;
  struct Case {
    std::vector<std::string> installed;
    std::string address;
    Commands expected;
    std::vector<std::string> desktops = {};
  };
  const std::string settings = kSoundSettingsAddress;
  const std::vector<std::string> all{"gnome-control-center", "systemsettings", "cinnamon-settings",
                                     "mate-volume-control", "pavucontrol", "pwvucontrol", "pavucontrol-qt"};
  const Case cases[] = {
      {{"xdg-open", "gio"}, "https://example.org/a b", {{"xdg-open", "https://example.org/a b"}}},
      {{"gio"}, "https://example.org", {{"gio", "open", "https://example.org"}}},
      {{"xdg-open"}, "--help", {}},
      {{}, "https://example.org", {}},
      {all, settings, {{"gnome-control-center", "sound"}}, {"ubuntu", "GNOME"}},
      {all, settings, {{"systemsettings", "kcm_pulseaudio"}}, {"KDE"}},
      {all, settings, {{"cinnamon-settings", "sound"}}, {"X-Cinnamon"}},
      {all, settings, {{"mate-volume-control"}}, {"MATE"}},
      {all, settings, {{"pwvucontrol"}}, {"XFCE"}},
      {{"pavucontrol", "pavucontrol-qt"}, settings, {{"pavucontrol"}}, {"GNOME"}},
      {{"pavucontrol-qt"}, settings, {{"pavucontrol-qt"}}, {"KDE"}},
      {{"xdg-open", "gnome-control-center"}, settings, {}, {"KDE"}},
  };
  for (const auto& c : cases) {
    installed = c.installed;
    desktops = c.desktops;
    launched.clear();
    EXPECT_EQ(workspace()->openAddress(c.address), !c.expected.empty()) << c.address;
    EXPECT_EQ(launched, c.expected) << c.address;
  }
  EXPECT_EQ(log.lines().size(), 3u) << "each refusal or missing program is logged";
}

TEST(UserVisibleComputerName, PrefersThePrettyHostname) {
  testing::XdgTree tree;
  const auto quoted = tree.write("machine-info", "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Portátil de Ana\"\n");
  const auto plain = tree.write("plain", "PRETTY_HOSTNAME=Salón\n");
  const auto empty = tree.write("empty", "PRETTY_HOSTNAME=\n");
  EXPECT_EQ(userVisibleComputerName(quoted), "Portátil de Ana");
  EXPECT_EQ(userVisibleComputerName(plain), "Salón");
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(userVisibleComputerName(empty), host);
  EXPECT_EQ(userVisibleComputerName(tree.root() / "missing"), host);
}

}  // namespace
}  // namespace brontide::linux::xdg
