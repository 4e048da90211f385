#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string kSession = std::string(BRONTIDE_SOURCE_DIR) + "/scripts/audio-session/session";

std::string run(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  while (auto n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int result = ::pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

// 30 s of a quiet 440 Hz stereo tone, long enough to outlast the test.
void writeTone(const std::filesystem::path& path) {
  constexpr std::uint32_t kRate = 48000, kFrames = kRate * 30, kBytes = kFrames * 4;
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out << "RIFF";
  u32(36 + kBytes);
  out << "WAVEfmt ";
  u32(16), u16(1), u16(2), u32(kRate), u32(kRate * 4), u16(4), u16(16);
  out << "data";
  u32(kBytes);
  for (std::uint32_t i = 0; i < kFrames; ++i) {
    const auto sample = static_cast<std::int16_t>(3000 * std::sin(2 * M_PI * 440 * i / kRate));
    u16(static_cast<std::uint16_t>(sample)), u16(static_cast<std::uint16_t>(sample));
  }
}

// A private PipeWire session whose environment this process and its children adopt; stopped at the end.
class AppsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = 0;
    dir_ = run(kSession + " start");
    while (!dir_.empty() && dir_.back() == '\n') dir_.pop_back();
    ASSERT_FALSE(dir_.empty()) << "the private PipeWire session did not start";
    std::istringstream lines(run(kSession + " env " + dir_, &status));
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("export ")) {
        const auto equals = line.find('=');
        ::setenv(line.substr(7, equals - 7).c_str(), line.substr(equals + 1).c_str(), 1);
      } else if (line.starts_with("unset ")) {
        std::istringstream names(line.substr(6));
        for (std::string name; names >> name;) ::unsetenv(name.c_str());
      }
    }
  }
  void TearDown() override {
    if (player_ > 0) {
      ::kill(player_, SIGTERM);
      ::waitpid(player_, nullptr, 0);
    }
    if (!dir_.empty()) run(kSession + " stop " + dir_);
  }

  void play(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ASSERT_EQ(::posix_spawnp(&player_, args[0], nullptr, nullptr, args.data(), environ), 0);
  }
  // Waits until the server shows an object carrying `text`; the deadline only guards against a hang.
  bool waitForObject(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (run("pw-dump 2>/dev/null").find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string dir_;
  pid_t player_ = -1;
};

TEST_F(AppsCommandTest, ListsAPlayingClientByItsIdentityAndName) {
  const auto tone = std::filesystem::path(dir_) / "tone.wav";
  writeTone(tone);
  play({"pw-play", "-P", "{ application.id = \"org.example.Tono\" application.name = \"Tono de prueba\" }",
        tone.string()});
  ASSERT_TRUE(waitForObject("org.example.Tono"));

  int status = -1;
  const auto listing = run("QT_QPA_PLATFORM=offscreen '" + std::string(BRONTIDE_EXECUTABLE) + "' --apps", &status);
  EXPECT_EQ(status, 0);
  std::istringstream lines(listing);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  EXPECT_NE(std::ranges::find(rows, "org.example.tono\tTono de prueba"), rows.end()) << listing;
  EXPECT_EQ(std::ranges::find_if(rows, [](const auto& row) { return row.starts_with("brontide"); }), rows.end())
      << listing;
}

}  // namespace
