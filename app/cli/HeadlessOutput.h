#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "base/MainQueue.h"
#include "controller/Controller.h"

namespace brontide::cli {

// Prints the controller's state changes to stdout for `--headless`, one flushed line each:
// "state: <label>", "detail: <text>", "port: <n>", "silent: 1|0" when the live source falls silent or sounds again,
// and "level: <x.xxx>" at most once a second. Main thread.
class HeadlessOutput {
 public:
  HeadlessOutput(Controller& controller, MainQueue& mainQueue, std::FILE* out);
  ~HeadlessOutput();

  HeadlessOutput(const HeadlessOutput&) = delete;
  HeadlessOutput& operator=(const HeadlessOutput&) = delete;

  // "key: text", e.g. ("route", "Cocina playing"). Control characters in the text are escaped, so a name can
  // never start a line of its own.
  void print(std::string_view key, std::string_view text);

 private:
  void onChange(Controller::Field field);
  void printLevel();

  Controller& controller_;
  std::FILE* out_;
  std::size_t connection_ = 0;
  std::unique_ptr<RepeatingTimer> levelTimer_;
  std::string lastState_;
  std::string lastDetail_;
  bool lastSilent_ = false;
  std::uint16_t lastPort_ = 0;
  std::string lastLevel_;
};

}  // namespace brontide::cli
