#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brontide::cli {

// What the command line asked for.
struct Options {
  enum class Mode { tray, headless, apps, speakers, routes, launchAtLogin, setPassword, forgetPassword, help };

  Mode mode = Mode::tray;
  std::optional<std::string> source;    // --source ID
  double waitSeconds = 4;               // --wait S (list commands)
  std::optional<double> volume;         // --volume V, 0…1
  bool mute = false;                    // --mute
  std::vector<std::string> speakerNames;  // --speaker NAME, repeatable
  std::vector<std::pair<std::string, double>> speakerVolumes;  // --speaker-volume NAME=V, repeatable
  bool launchAtLogin = false;           // --launch-at-login on|off
  std::string receiverName;             // --set-password NAME, --forget-password NAME
};

// Parses the arguments after the program name; the error is a message for the user.
[[nodiscard]] std::expected<Options, std::string> parseOptions(std::span<const std::string_view> arguments);

// One line of --help and of the man page.
struct OptionHelp {
  std::string_view flag;      // "--source"; empty for the line about running with no option
  std::string_view argument;  // "ID", or empty
  std::string_view text;
};

// Every option, in the order --help lists them; the man page is generated from the same table.
[[nodiscard]] std::span<const OptionHelp> optionTable();

[[nodiscard]] std::string usage();

}  // namespace brontide::cli
