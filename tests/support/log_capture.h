// Records what the library logs: while a LogCapture lives, the default
// logger keeps every line (level, text, time) instead of printing it.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/wait_until.h"

namespace quiral::test {

class LogCapture {
 public:
  struct Line {
    spdlog::level::level_enum level;
    std::string text;
    std::chrono::steady_clock::time_point when;
  };

  explicit LogCapture(spdlog::level::level_enum level = spdlog::level::debug)
      : sink_(std::make_shared<Sink>()), previous_(spdlog::default_logger()) {
    auto logger = std::make_shared<spdlog::logger>("capture", sink_);
    logger->set_level(level);
    spdlog::set_default_logger(logger);
  }
  ~LogCapture() {
    // Another thread may still be writing through the capturing logger: it
    // is kept alive for the rest of the process.
    static std::mutex kept_mutex;
    static std::vector<std::shared_ptr<spdlog::logger>> kept;
    std::lock_guard<std::mutex> lock(kept_mutex);
    kept.push_back(spdlog::default_logger());
    spdlog::set_default_logger(previous_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> Lines() const {
    std::lock_guard<std::mutex> lock(sink_->mutex());
    return sink_->lines;
  }
  // Lines with exactly this text at `level` (spdlog::level::off: any level).
  int Count(spdlog::level::level_enum level, const std::string& text) const {
    int n = 0;
    for (const Line& line : Lines())
      n += line.text == text && (level == off || line.level == level);
    return n;
  }
  int Count(const std::string& text) const { return Count(off, text); }
  int CountContaining(const std::string& part) const {
    int n = 0;
    for (const Line& line : Lines()) n += line.text.find(part) != std::string::npos;
    return n;
  }
  // Lines at `level` that begin with `start`.
  std::vector<std::string> Starting(spdlog::level::level_enum level,
                                    const std::string& start) const {
    std::vector<std::string> out;
    for (const Line& line : Lines()) {
      if (line.level == level && line.text.rfind(start, 0) == 0) out.push_back(line.text);
    }
    return out;
  }
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout, int count = 1) const {
    return WaitUntil([&] { return Count(text) >= count; }, timeout);
  }
  // Time of the first line with this text; a default time point when none.
  std::chrono::steady_clock::time_point FirstTime(const std::string& text) const {
    for (const Line& line : Lines()) {
      if (line.text == text) return line.when;
    }
    return {};
  }

 private:
  static constexpr auto off = spdlog::level::off;
  struct Sink : spdlog::sinks::base_sink<std::mutex> {
    std::mutex& mutex() { return mutex_; }
    void sink_it_(const spdlog::details::log_msg& msg) override {  // under mutex_
      lines.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size()),
                       std::chrono::steady_clock::now()});
    }
    void flush_() override {}
    std::vector<Line> lines;
  };

  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace quiral::test
