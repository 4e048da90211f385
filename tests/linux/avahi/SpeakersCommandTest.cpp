#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linux/avahi/LocalPublisher.h"
#include "linux/avahi/Rig.h"

namespace brontide {
namespace {

const std::set<std::string> kNetwork{"Salón", "cocina", "Baño", "Dormitorio"};

class SpeakersCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rig::useNetwork(); }

  void SetUp() override {
    ASSERT_TRUE(rig::avahiRunning()) << "avahi-daemon of the test network is not running: scripts/airplay-network up";
  }

  // Runs `brontide --speakers --wait 2`; other tests may publish records meanwhile, so only the network's
  // devices and `extra` are kept.
  std::vector<std::string> speakersCommand(const std::string& extra = "") {
    std::string out;
    FILE* pipe = popen((std::string(BRONTIDE_EXECUTABLE) + " --speakers --wait 2").c_str(), "r");
    if (!pipe) return {};
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    status = pclose(pipe);
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
      const auto name = line.substr(0, line.find('\t'));
      if (kNetwork.contains(name) || name == extra) lines.push_back(line);
    }
    return lines;
  }

  int status = -1;
};

TEST_F(SpeakersCommandTest, SpeakersCommand_PrintsTheNetworkHomePodsFirst) {
  EXPECT_EQ(speakersCommand(), (std::vector<std::string>{"cocina\tHomePod\tAudioAccessory1,1",
                                                         "Dormitorio\tHomePod mini\tAudioAccessory5,1",
                                                         "Baño\tAltavoz AirPlay\t", "Salón\tApple TV\tAppleTV6,2"}));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SpeakersCommandTest, SpeakersCommand_LeavesOutThisMachinesReceiver) {
  const auto name = "Receptor de este equipo " + std::to_string(getpid());
  rig::LocalPublisher own(name, 7102, {"model=AudioAccessory1,1"});
  ASSERT_TRUE(own.waitEstablished());
  const auto lines = speakersCommand(name);
  EXPECT_EQ(lines.size(), 4u);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace brontide
