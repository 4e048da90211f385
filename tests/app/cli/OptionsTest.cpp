#include "app/cli/Options.h"

#include <gtest/gtest.h>

#include <vector>

namespace brontide::cli {
namespace {

std::expected<Options, std::string> parse(std::vector<std::string_view> args) { return parseOptions(args); }

TEST(Options_Modes, EachFlagSelectsItsMode) {
  EXPECT_EQ(parse({})->mode, Options::Mode::tray);
  EXPECT_EQ(parse({"--headless"})->mode, Options::Mode::headless);
  EXPECT_EQ(parse({"--apps"})->mode, Options::Mode::apps);
  EXPECT_EQ(parse({"--speakers", "--wait", "1.5"})->waitSeconds, 1.5);
  EXPECT_EQ(parse({"--routes"})->mode, Options::Mode::routes);
  EXPECT_EQ(parse({"-h"})->mode, Options::Mode::help);
  EXPECT_TRUE(parse({"--launch-at-login", "on"})->launchAtLogin);
  EXPECT_EQ(parse({"--launch-at-login", "off"})->mode, Options::Mode::launchAtLogin);
  EXPECT_FALSE(parse({"--launch-at-login", "off"})->launchAtLogin);
  EXPECT_EQ(parse({"--set-password", "Garaje"})->receiverName, "Garaje");
  EXPECT_EQ(parse({"--forget-password", "Garaje"})->mode, Options::Mode::forgetPassword);
}

TEST(Options_Streaming, ValuesAndRepeatedSpeakers) {
  auto options = parse({"--headless", "--source", "org.example.player", "--volume", "0.25", "--mute", "--speaker",
                        "Cocina", "--speaker", "Salón", "--speaker-volume", "Cocina=0.5", "--speaker-volume",
                        "a=b=1"});
  ASSERT_TRUE(options) << options.error();
  EXPECT_EQ(options->source, "org.example.player");
  EXPECT_EQ(options->volume, 0.25);
  EXPECT_TRUE(options->mute);
  EXPECT_EQ(options->speakerNames, (std::vector<std::string>{"Cocina", "Salón"}));
  EXPECT_EQ(options->speakerVolumes, (std::vector<std::pair<std::string, double>>{{"Cocina", 0.5}, {"a=b", 1.0}}));
}

TEST(Options_BadInput, RejectedWithASpanishReason) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--frobnicate"},          {"--source"},           {"--source", ""},      {"--volume", "1.5"},
      {"--volume", "nan"},       {"--volume", "0.5x"},   {"--wait", "-1"},      {"--apps", "--headless"},
      {"--apps", "--mute"},      {"--speakers", "--speaker", "Cocina"}, {"--speaker", ""},
      {"--speaker-volume", "Cocina"},  {"--speaker-volume", "=0.5"}, {"--speaker-volume", "Cocina=2"},
      {"--routes", "--speaker-volume", "Cocina=1"},
      {"--launch-at-login", "yes"}, {"--launch-at-login"},  {"--launch-at-login", "on", "--headless"},
      {"--set-password", ""},
  };
  for (const auto& args : bad) {
    auto options = parse(args);
    ASSERT_FALSE(options) << args.front();
    EXPECT_FALSE(options.error().empty());
  }
}

}  // namespace
}  // namespace brontide::cli
