#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/AudioSession.h"

// What one shairport-sync receiver of the test network (scripts/airplay-network) has played: S16LE stereo at
// 44.1 kHz appended to $BRONTIDE_RECEIVERS_DIR/NAME.pcm, with "<monotonic s> <byte offset> <what>" lines in
// NAME.events, and each AirPlay volume it was sent in NAME.volumes. Shared by the AirPlay tests and benchmarks.
namespace brontide::testsupport {

class ReceiverPcm {
 public:
  static constexpr double kRate = 44100;
  static constexpr std::uintmax_t kFrameBytes = 4;
  // A tone's level that counts as heard at whatever volume the receiver holds (shairport-sync 3.3.8 keeps its own
  // at −18 when the sender sends none, some 38 dB down).
  static constexpr double kHeard = 0.002;

  explicit ReceiverPcm(const std::string& name) : base_(directory() + "/" + name) {
    mark();
    markVolumes();
  }

  static std::string directory() {
    const char* dir = std::getenv("BRONTIDE_RECEIVERS_DIR");
    return dir ? dir : "";
  }

  void mark() { start_ = size(); }
  void markVolumes() { volumesSeen_ = allVolumes().size(); }
  [[nodiscard]] std::uintmax_t markOffset() const { return start_; }
  [[nodiscard]] double secondsSinceMark() const { return double(size() - start_) / (kFrameBytes * kRate); }
  // Whether it has played sound since the mark, not only the silence a receiver starts a session with.
  [[nodiscard]] bool loudSinceMark() const { return event("loud", start_).has_value(); }

  // The left channel of the last `seconds` played since the mark (whole frames).
  [[nodiscard]] std::vector<float> last(double seconds) const {
    const auto end = size();
    const auto from = (end - std::min<std::uintmax_t>(end - start_, std::uintmax_t(seconds * kRate) * kFrameBytes)) /
                      kFrameBytes * kFrameBytes;
    std::vector<std::int16_t> samples((std::max(from, end / kFrameBytes * kFrameBytes) - from) / 2);
    std::ifstream in(base_ + ".pcm", std::ios::binary);
    in.seekg(std::streamoff(from));
    in.read(reinterpret_cast<char*>(samples.data()), std::streamsize(samples.size() * 2));
    samples.resize(std::size_t(in.gcount()) / 2);
    std::vector<float> left;
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) left.push_back(float(samples[i]) / 32768.f);
    return left;
  }

  // Level of `frequency` over the last `seconds`: the median of 50 ms blocks, so that the odd dropped or
  // stuffed packet (a receiver resynchronising on a busy machine) does not hide a tone that is there.
  [[nodiscard]] double tone(double frequency = 440, double seconds = 0.5) const {
    return medianToneAmplitude(last(seconds), frequency, kRate);
  }

  // The longest run of silence (both channels within ±4 of zero, dither included) played since the mark, in
  // seconds: a gap in a tone that should never stop.
  [[nodiscard]] double longestSilence() const {
    std::ifstream in(base_ + ".pcm", std::ios::binary);
    in.seekg(std::streamoff(start_));
    std::int16_t frame[2];
    std::uintmax_t run = 0, longest = 0;
    while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) {
      run = std::abs(frame[0]) <= 4 && std::abs(frame[1]) <= 4 ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    return double(longest) / kRate;
  }

  // The first event `what` ("start", "loud", "end") at or after byte offset `from`: its monotonic time in
  // seconds and its byte offset.
  [[nodiscard]] std::optional<std::pair<double, std::uintmax_t>> event(const std::string& what,
                                                                         std::uintmax_t from) const {
    std::ifstream in(base_ + ".events");
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      double when = 0;
      std::uintmax_t offset = 0;
      std::string kind;
      if (fields >> when >> offset >> kind && kind == what && offset >= from) return std::pair{when, offset};
    }
    return std::nullopt;
  }

  // The AirPlay volumes it was set to since markVolumes() (or construction), in order.
  [[nodiscard]] std::vector<double> volumes() const {
    auto all = allVolumes();
    all.erase(all.begin(), all.begin() + long(std::min(volumesSeen_, all.size())));
    return all;
  }

  // The volumes a receiver may set itself while a session starts, over the one it was just sent: where it was
  // left before markVolumes(), or, once restarted, its default (shairport-sync 4: −24).
  [[nodiscard]] std::vector<double> ownStartVolumes() const {
    const auto all = allVolumes();
    std::vector<double> own{-24.0};
    if (volumesSeen_ > 0 && volumesSeen_ <= all.size()) own.push_back(all[volumesSeen_ - 1]);
    return own;
  }

  [[nodiscard]] std::uintmax_t size() const {
    struct stat info {};
    return ::stat((base_ + ".pcm").c_str(), &info) == 0 ? std::uintmax_t(info.st_size) : 0;
  }

 private:
  [[nodiscard]] std::vector<double> allVolumes() const {
    std::vector<double> volumes;
    std::ifstream in(base_ + ".volumes");
    for (double volume = 0; in >> volume;) volumes.push_back(volume);
    return volumes;
  }

  std::string base_;
  std::uintmax_t start_ = 0;
  std::size_t volumesSeen_ = 0;
};

// How much later each source plays the click train of `brontide-tone-source ID NAME clicks` than the first,
// over the next `seconds` (tests/support/clicks.py): sources are `monitor:SINK` or a receiver's name. Seconds by
// source name after the first; a source whose clicks did not line up is missing.
inline std::map<std::string, double> clickSkews(double seconds, const std::vector<std::string>& sources) {
  // Debian's interpreter, the one python3-numpy is for.
  std::string command = "/usr/bin/python3 " + std::string(BRONTIDE_SOURCE_DIR) + "/tests/support/clicks.py " +
                        std::to_string(seconds);
  for (const auto& source : sources)
    command += " '" + (source.starts_with("monitor:") ? source : ReceiverPcm::directory() + "/" + source + ".pcm") + "'";
  std::map<std::string, double> skews;
  std::istringstream lines(runCommand(command));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string word, name;
    double ms = 0;
    if (fields >> word >> name >> ms && word == "skew") skews[name] = ms / 1000;
  }
  return skews;
}

}  // namespace brontide::testsupport
