#include "app/cli/HeadlessOutput.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/ControllerFakes.h"

namespace brontide::cli {
namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

// What a script reading `--headless` sees: a name with a line break, a TAB or a terminal escape in it (from
// --source, a desktop file or a receiver) never makes a line of its own nor reaches the terminal raw.
TEST(HeadlessOutput, EveryLineIsOneKeyAndItsEscapedText) {
  fakes::ControllerFakes fakes;
  auto controller = fakes.makeController(false);
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&buffer, &size);
  {
    HeadlessOutput output(*controller, fakes.queue, out);
    controller->setSelectedBundle("x\nstate: En directo\x1b[2J");
    controller->start();
    fakes.servers.latest().ready(50123);
    fakes.queue.advance(2s);
    output.print("route", "Evil\tName\nport: 1 playing");
  }
  std::fclose(out);
  std::vector<std::string> lines;
  std::istringstream text(std::string(buffer, size));
  std::free(buffer);
  for (std::string line; std::getline(text, line);) lines.push_back(line);

  ASSERT_FALSE(lines.empty());
  for (const auto& line : lines) {
    EXPECT_THAT(line, testing::MatchesRegex("(state|detail|port|level|route): .*"));
    for (const char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << line;
  }
  EXPECT_THAT(lines, testing::Contains(HasSubstr("x\\x0astate: En directo\\x1b[2J")));
  EXPECT_THAT(lines, testing::Contains("route: Evil\\x09Name\\x0aport: 1 playing"));
  EXPECT_THAT(lines, testing::Not(testing::Contains("state: En directo")));
}

}  // namespace
}  // namespace brontide::cli
