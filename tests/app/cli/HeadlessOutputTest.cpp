#include "app/cli/HeadlessOutput.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
    fakes.capture.processes.push_back({7, controller->selectedBundle()});
    controller->start();
    fakes.servers.latest().ready(50123);
    fakes.queue.advance(8s);  // live and silent
    std::vector<float> sound(512, 0.5f);
    ASSERT_TRUE(fakes.capture.taps.back()->deliver(SampleBlock{sound.data(), sound.size()}));
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
    EXPECT_THAT(line, testing::MatchesRegex("(state|detail|port|level|route|silent): .*"));
    for (const char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << line;
  }
  EXPECT_THAT(lines, testing::Contains(HasSubstr("x\\x0astate: En directo\\x1b[2J")));
  EXPECT_THAT(lines, testing::Contains("route: Evil\\x09Name\\x0aport: 1 playing"));
  EXPECT_EQ(std::ranges::count(lines, "state: En directo"), 1) << "the live state's own line, no injected one";
  EXPECT_EQ(std::ranges::count(lines, "silent: 1"), 1);
  EXPECT_EQ(std::ranges::count(lines, "silent: 0"), 1) << "printed when the flag changes, once";
}

}  // namespace
}  // namespace brontide::cli
