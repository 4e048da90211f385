#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/AudioSession.h"

namespace brontide {
namespace {

using namespace testsupport;

TEST(AppsCommandTest, ListsAPlayingClientByItsIdentityAndName) {
  AudioSession session(false);
  // Quiet and long enough to outlast the test.
  const auto tone = writeToneWav(session.dir() + "/tone.wav", 440, 30, 0.1);
  ChildProcess player({"pw-play", "-P", "{ application.id = \"org.example.Tono\" application.name = \"Tono de prueba\" }",
                       tone});
  ASSERT_TRUE(eventually([] { return runCommand("pw-dump 2>/dev/null").find("org.example.Tono") != std::string::npos; },
                         std::chrono::seconds(20)));

  int status = -1;
  const auto listing = runCommand("QT_QPA_PLATFORM=offscreen '" + std::string(BRONTIDE_EXECUTABLE) + "' --apps", &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::istringstream lines(listing);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  EXPECT_NE(std::ranges::find(rows, "org.example.tono\tTono de prueba"), rows.end()) << listing;
  EXPECT_EQ(std::ranges::find_if(rows, [](const auto& row) { return row.starts_with("brontide"); }), rows.end())
      << listing;
}

}  // namespace
}  // namespace brontide
