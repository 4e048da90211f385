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
  std::string out;
  FILE* pipe = popen((std::string(BRONTIDE_EXECUTABLE) + " --speakers --wait 2").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  const int status = pclose(pipe);
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
