#include <sys/wait.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linux/avahi/Rig.h"

namespace brontide {
namespace {

TEST(SpeakersCommandTest, SpeakersCommand_PrintsTheNetworkHomePodsFirst) {
  rig::useNetwork();
  ASSERT_TRUE(rig::avahiRunning()) << "avahi-daemon of the test network is not running: scripts/airplay-network up";
  int status = -1;
  const std::string out = testsupport::runCommand(std::string(BRONTIDE_EXECUTABLE) + " --speakers --wait 2", &status);
  // Other tests may publish records meanwhile: keep only the network's devices.
  const std::set<std::string> network{"Salón", "cocina", "Baño", "Dormitorio"};
  std::vector<std::string> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);)
    if (network.contains(line.substr(0, line.find('\t')))) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"cocina\tHomePod\tAudioAccessory1,1",
                                             "Dormitorio\tHomePod mini\tAudioAccessory5,1", "Baño\tAltavoz AirPlay\t",
                                             "Salón\tApple TV\tAppleTV6,2"}));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace brontide
