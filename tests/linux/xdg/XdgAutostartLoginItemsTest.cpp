#include "linux/xdg/XdgAutostartLoginItems.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "XdgTree.h"

namespace brontide::linux::xdg {
namespace {

using Status = LoginItems::Status;

class XdgAutostartLoginItemsTest : public ::testing::Test {
 protected:
  testing::XdgTree tree;
  const std::filesystem::path userEntry = tree.root() / "home/.config/autostart/brontide.desktop";
  const std::filesystem::path systemEntry = tree.root() / "etc/xdg/autostart/brontide.desktop";

  XdgAutostartLoginItems items(std::filesystem::path executable = "/opt/Brontide/bin/brontide") {
    return XdgAutostartLoginItems(tree.dirs(), executable);
  }
  static std::string read(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
  // The program the session would start, decoded as a desktop session does.
  static std::string startedProgram(const std::filesystem::path& entry) {
    GKeyFile* keys = g_key_file_new();
    EXPECT_TRUE(g_key_file_load_from_file(keys, entry.c_str(), G_KEY_FILE_NONE, nullptr));
    gchar* exec = g_key_file_get_string(keys, "Desktop Entry", "Exec", nullptr);
    std::string line = exec ? exec : "";
    g_free(exec);
    g_key_file_unref(keys);
    for (auto at = line.find("%%"); at != std::string::npos; at = line.find("%%", at + 1)) line.erase(at, 1);
    gchar** argv = nullptr;
    EXPECT_TRUE(g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) << line;
    std::string program = argv && argv[0] ? argv[0] : "";
    g_strfreev(argv);
    return program;
  }
};

TEST_F(XdgAutostartLoginItemsTest, RegisterWritesAnEntryThatStartsTheRunningBinary) {
  for (const std::string executable : {"/opt/Brontide/bin/brontide", "/home/ana/Mis programas/50% \"Brontide\"/$bin"}) {
    auto login = items(executable);
    ASSERT_TRUE(login.registerMainApp().has_value());
    EXPECT_EQ(login.status(), Status::enabled);
    EXPECT_EQ(startedProgram(userEntry), executable);
  }
  ASSERT_TRUE(XdgAutostartLoginItems(tree.dirs()).registerMainApp().has_value());
  EXPECT_EQ(startedProgram(userEntry), std::filesystem::read_symlink("/proc/self/exe").string()) << "by default";
}

TEST_F(XdgAutostartLoginItemsTest, StatusFollowsTheEntryThatApplies) {
  struct Case {
    const char* name;
    std::string user;    // empty: no user entry
    std::string system;  // empty: no system-wide entry
    Status expected;
  };
  const std::string on = "[Desktop Entry]\nType=Application\nName=Brontide\nExec=brontide\n";
  const Case cases[] = {
      {"none", "", "", Status::notRegistered},
      {"user entry", on, "", Status::enabled},
      {"hidden", on + "Hidden=true\n", "", Status::notRegistered},
      {"GNOME-disabled", on + "X-GNOME-Autostart-enabled=false\n", "", Status::notRegistered},
      {"GNOME-enabled", on + "X-GNOME-Autostart-enabled=true\n", "", Status::enabled},
      {"other desktop only", on + "OnlyShowIn=KDE;\n", "", Status::notRegistered},
      {"system-wide only", "", on, Status::enabled},
      {"user hides system-wide", on + "Hidden=true\n", on, Status::notRegistered},
      {"broken user entry shadows", "\xff\xfe garbage", on, Status::notRegistered},
      {"no group", "Exec=brontide\n", "", Status::notRegistered},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(userEntry);
    std::filesystem::remove(systemEntry);
    if (!c.user.empty()) tree.write(userEntry.lexically_relative(tree.root()), c.user);
    if (!c.system.empty()) tree.write(systemEntry.lexically_relative(tree.root()), c.system);
    EXPECT_EQ(items().status(), c.expected) << c.name;
  }
}

TEST_F(XdgAutostartLoginItemsTest, UnregisterRemovesTheUserEntryAndHidesASystemWideOne) {
  auto login = items();
  ASSERT_TRUE(login.registerMainApp().has_value());
  ASSERT_TRUE(login.unregisterMainApp().has_value());
  EXPECT_FALSE(std::filesystem::exists(userEntry));
  EXPECT_EQ(login.status(), Status::notRegistered);
  EXPECT_TRUE(login.unregisterMainApp().has_value()) << "turning off twice is not a failure";

  const std::string system = "[Desktop Entry]\nType=Application\nName=Brontide\nExec=/usr/bin/brontide\n";
  tree.write("etc/xdg/autostart/brontide.desktop", system);
  ASSERT_EQ(login.status(), Status::enabled);
  ASSERT_TRUE(login.unregisterMainApp().has_value());
  EXPECT_EQ(login.status(), Status::notRegistered);
  EXPECT_NE(read(userEntry).find("Hidden=true"), std::string::npos);
  EXPECT_EQ(read(systemEntry), system);
  ASSERT_TRUE(login.registerMainApp().has_value());
  EXPECT_EQ(login.status(), Status::enabled);
}

TEST_F(XdgAutostartLoginItemsTest, AnEntryForAProgramThatIsGoneStartsTheRunningBinaryAgain) {
  const std::string head = "[Desktop Entry]\nType=Application\nName=Brontide\n";
  struct Case {
    const char* name;
    std::string entry;
    bool rewritten;
    Status status;
  };
  const Case cases[] = {
      {"moved build folder", head + "Exec=/home/ana/brontide/build/app/brontide\n", true, Status::enabled},
      {"quoted, with %%", head + "Exec=\"/home/ana/Mis cosas/100%% build/brontide\"\n", true, Status::enabled},
      {"turned off stays off", head + "Exec=/gone/brontide\nHidden=true\n", true, Status::notRegistered},
      {"absolute and present", head + "Exec=/bin/sh\n", false, Status::enabled},
      {"found on PATH", head + "Exec=sh --headless\n", false, Status::enabled},
  };
  for (const auto& c : cases) {
    tree.write(userEntry.lexically_relative(tree.root()), c.entry);
    auto login = items();
    ASSERT_TRUE(login.repairMovedProgram().has_value()) << c.name;
    if (c.rewritten) {
      EXPECT_EQ(startedProgram(userEntry), "/opt/Brontide/bin/brontide") << c.name;
    } else {
      EXPECT_EQ(read(userEntry), c.entry) << c.name;
    }
    EXPECT_EQ(login.status(), c.status) << c.name;
  }
}

TEST_F(XdgAutostartLoginItemsTest, FailuresSayWhyAndChangeNothing) {
  // Tests run as root, which ignores permissions: a file where the folder should be cannot be written through.
  tree.write("home/.config/autostart", "not a folder");
  auto login = items();
  auto on = login.registerMainApp();
  ASSERT_FALSE(on.has_value());
  EXPECT_TRUE(on.error().starts_with("no se pudo crear la carpeta " + userEntry.parent_path().string() + ": "))
      << on.error();
  EXPECT_EQ(login.status(), Status::notRegistered);
  tree.write("etc/xdg/autostart/brontide.desktop", "[Desktop Entry]\nType=Application\nExec=brontide\n");
  ASSERT_FALSE(login.unregisterMainApp().has_value());
  EXPECT_EQ(login.status(), Status::enabled);

  // A folder where the entry should be cannot be removed.
  std::filesystem::remove(systemEntry);
  std::filesystem::remove(tree.root() / "home/.config/autostart");
  tree.write("home/.config/autostart/brontide.desktop/inside", "x");
  auto off = login.unregisterMainApp();
  ASSERT_FALSE(off.has_value());
  EXPECT_TRUE(off.error().starts_with("no se pudo borrar " + userEntry.string() + ": ")) << off.error();

  // A FIFO where the entry should be is not an entry, and reading it never waits for a writer.
  std::filesystem::remove_all(userEntry);
  ASSERT_EQ(::mkfifo(userEntry.c_str(), 0600), 0);
  EXPECT_EQ(login.status(), Status::notRegistered);
  EXPECT_TRUE(login.repairMovedProgram().has_value());
}

}  // namespace
}  // namespace brontide::linux::xdg
