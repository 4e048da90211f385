#include "linux/qt/QSettingsPreferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "fakes/ControllerFakes.h"
#include "support/AudioSession.h"

namespace brontide::linux::qt {
namespace {

// Writes key=value in a separate process, the way a previous run of Brontide would have.
void writeInChildProcess(const std::string& file, const std::string& key, const std::string& value) {
  testsupport::ChildProcess child({std::filesystem::read_symlink("/proc/self/exe"), "--write-settings", file, key, value});
  EXPECT_EQ(child.terminate(0), 0);
}

std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// A controller on the real settings file, everything else faked.
struct ControllerOnFile : fakes::ControllerFakes {
  explicit ControllerOnFile(const QString& path) : file(path) {}
  std::shared_ptr<Controller> make() { return makeController(file, false); }
  QSettingsPreferences file;
};

class QSettingsPreferences_File : public ::testing::Test {
 protected:
  std::string path() const { return (dir.path() + "/brontide.conf").toStdString(); }
  void writeRaw(const std::string& text) { std::ofstream(path(), std::ios::binary) << text; }
  QTemporaryDir dir;
};

TEST_F(QSettingsPreferences_File, ValuesComeBackInAFreshProcess) {
  writeInChildProcess(path(), "sourceBundle", "org.gnome.Totem");
  writeInChildProcess(path(), "volume", formatNumber(0.3));
  writeInChildProcess(path(), "autoStart", "true");

  ControllerOnFile world(QString::fromStdString(path()));
  auto controller = world.make();
  EXPECT_EQ(controller->selectedBundle(), "org.gnome.Totem");
  EXPECT_EQ(controller->volume(), 0.3);
  EXPECT_TRUE(controller->autoStart());
  EXPECT_FALSE(controller->onboarded());
}

// Which stored texts are values is the controller's own test; here, that a file of garbage is no failure.
TEST_F(QSettingsPreferences_File, GarbageFallsBackToDefaultsAndForeignKeysStay) {
  writeRaw("\x01\x02[[[\xff\xfe garbage\nnot a setting\n[General]\nsomeoneElse=42\n");
  ControllerOnFile world(QString::fromStdString(path()));
  auto controller = world.make();
  EXPECT_EQ(controller->selectedBundle(), Controller::kDefaultSource);
  EXPECT_EQ(controller->volume(), 1.0);
  controller->setVolume(0.5);
  controller->stop();
  const std::string text = readFile(path());
  EXPECT_NE(text.find("volume=0.5"), std::string::npos) << text;
  // Nothing but what the user changed is written.
  EXPECT_EQ(text.find("sourceBundle"), std::string::npos) << text;
  EXPECT_EQ(text.find("muted"), std::string::npos) << text;
}

// A file that cannot be read or written (a folder in its place; a FIFO, which a plain open would wait on for
// good) loses nothing chosen in this run, and says so once.
TEST_F(QSettingsPreferences_File, WhatIsChosenHoldsForTheRunWhenTheFileCannotBeWritten) {
  for (const bool fifo : {false, true}) {
    std::filesystem::remove_all(path());
    if (fifo) ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
    else std::filesystem::create_directory(path());
    ControllerOnFile world(QString::fromStdString(path()));
    std::vector<std::string> problems;
    world.file.onWriteProblem([&](const std::string& problem) { problems.push_back(problem); });
    auto controller = world.make();
    controller->setSelectedBundle("org.example.player");
    controller->setVolume(0.25);
    controller->stop();
    EXPECT_EQ(controller->selectedBundle(), "org.example.player");
    EXPECT_EQ(controller->volume(), 0.25);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(path()), std::string::npos) << problems[0];
  }
}

}  // namespace
}  // namespace brontide::linux::qt

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--write-settings") {
    brontide::linux::qt::QSettingsPreferences preferences(QString::fromUtf8(argv[2]));
    preferences.setValue(argv[3], argv[4]);
    preferences.flush();
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
