#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/MainQueue.h"
#include "controller/Controller.h"

namespace brontide::cli {

// Prints the controller's state changes to stdout for `--headless`, one flushed line each:
// "state: <label>", "detail: <text>", "port: <n>", and "level: <x.xxx>" at most once a second. Main thread.
class HeadlessOutput {
 public:
  HeadlessOutput(Controller& controller, MainQueue& mainQueue, std::FILE* out);
  ~HeadlessOutput();

  HeadlessOutput(const HeadlessOutput&) = delete;
  HeadlessOutput& operator=(const HeadlessOutput&) = delete;

  // Any other line, e.g. "route: Cocina playing".
  void print(const std::string& line);

 private:
  void onChange(Controller::Field field);
  void printLevel();

  Controller& controller_;
  std::FILE* out_;
  std::size_t connection_ = 0;
  std::unique_ptr<RepeatingTimer> levelTimer_;
  std::string lastState_;
  std::string lastDetail_;
  std::uint16_t lastPort_ = 0;
  std::string lastLevel_;
};

}  // namespace brontide::cli
