#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio_tap/AudioSystem.h"

namespace brontide::fakes {

// An in-memory audio system: records the order of calls and what is open; any step can be made to fail.
class FakeAudioSystem final : public AudioSystem {
 public:
  enum class Step { openTap, format, output, createCapture, startCapture };

  std::vector<AudioClient> clients;
  std::int32_t pid = 4242;
  std::optional<Step> failAt;  // that step fails, in the library's words "EIO"
  AudioStreamBasicDescription format{48000, kAudioFormatLinearPCM, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
                                     8, 1, 8, 2, 32, 0};

  std::vector<std::string> calls;
  int openTaps = 0, captures = 0;
  std::vector<std::pair<std::vector<AudioObjectID>, bool>> opened;  // clients, global
  std::vector<CaptureCallback> running;

  std::vector<AudioClient> audioClients() override { return clients; }
  std::int32_t ownPid() const override { return pid; }

  std::expected<std::unique_ptr<AudioTap>, Error> openTap(const std::vector<AudioObjectID>& tapped,
                                                         bool global) override {
    calls.push_back("openTap");
    if (failAt == Step::openTap) return std::unexpected(Error{ErrorCode::TapNotOpened, "EIO"});
    opened.emplace_back(tapped, global);
    return std::make_unique<Tap>(*this);
  }
  std::optional<std::string> defaultOutput() override {
    calls.push_back("defaultOutput");
    if (failAt == Step::output) return std::nullopt;
    return "headless_out";
  }

  [[nodiscard]] bool empty() const { return openTaps == 0 && captures == 0 && running.empty(); }
  // Runs one IO cycle of every started capture.
  void cycle(SampleBlock block) {
    for (auto& proc : running) proc(block);
  }

 private:
  class Tap final : public AudioTap {
   public:
    explicit Tap(FakeAudioSystem& system) : system_(system) { ++system_.openTaps; }
    ~Tap() override {
      if (started_) system_.running.pop_back();
      if (captured_) --system_.captures;
      --system_.openTaps;
      system_.calls.push_back("closeTap");
    }
    std::optional<AudioStreamBasicDescription> format() const override {
      system_.calls.push_back("format");
      if (system_.failAt == Step::format) return std::nullopt;
      return system_.format;
    }
    std::expected<void, Error> createCapture(const std::string&) override {
      system_.calls.push_back("createCapture");
      if (system_.failAt == Step::createCapture) return std::unexpected(Error{ErrorCode::CaptureNotCreated, "EIO"});
      captured_ = true;
      ++system_.captures;
      return {};
    }
    std::expected<void, Error> startCapture(CaptureCallback proc) override {
      system_.calls.push_back("startCapture");
      if (system_.failAt == Step::startCapture) return std::unexpected(Error{ErrorCode::CaptureNotStarted, "EIO"});
      system_.running.push_back(std::move(proc));
      started_ = true;
      return {};
    }
    std::vector<std::string> unmovableApplications() const override { return {"App"}; }

   private:
    FakeAudioSystem& system_;
    bool captured_ = false, started_ = false;
  };
};

}  // namespace brontide::fakes
