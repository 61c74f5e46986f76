// Helpers of the per-robot client's tests: a capture of the default
// logger's lines and a client started against a simulated controller.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "client/vek_client.h"
#include "tests/support/sim_process.h"

namespace quiral_client_test {

using Clock = std::chrono::steady_clock;

struct LogLine {
  spdlog::level::level_enum level;
  std::string text;
  Clock::time_point when;
};

// Collects every line written to the default logger while it lives (at
// debug level and above).
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<Sink>()) {
    auto logger = spdlog::default_logger();
    logger->sinks().push_back(sink_);
    previous_level_ = logger->level();
    logger->set_level(spdlog::level::debug);
  }
  ~LogCapture() {
    auto logger = spdlog::default_logger();
    auto& sinks = logger->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
    logger->set_level(previous_level_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> Lines() const { return sink_->Lines(); }

  // Lines with exactly this text (and level, unless level is off).
  size_t Count(const std::string& text,
               spdlog::level::level_enum level = spdlog::level::off) const {
    size_t n = 0;
    for (const auto& line : Lines()) {
      if (line.text == text && (level == spdlog::level::off || line.level == level)) ++n;
    }
    return n;
  }

  // Lines that contain `part`.
  size_t CountContaining(const std::string& part) const {
    size_t n = 0;
    for (const auto& line : Lines()) {
      if (line.text.find(part) != std::string::npos) ++n;
    }
    return n;
  }

  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout, size_t count = 1) const {
    return quiral::test::WaitUntil([&] { return Count(text) >= count; }, timeout);
  }

  // Time of the first line with this text; Clock::time_point{} when none.
  Clock::time_point FirstTime(const std::string& text) const {
    for (const auto& line : Lines()) {
      if (line.text == text) return line.when;
    }
    return {};
  }

 private:
  class Sink : public spdlog::sinks::base_sink<std::mutex> {
   public:
    std::vector<LogLine> Lines() {
      std::lock_guard<std::mutex> lock(lines_mutex_);
      return lines_;
    }

   protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
      LogLine line{msg.level, std::string(msg.payload.data(), msg.payload.size()), Clock::now()};
      std::lock_guard<std::mutex> lock(lines_mutex_);
      lines_.push_back(std::move(line));
    }
    void flush_() override {}

   private:
    std::mutex lines_mutex_;
    std::vector<LogLine> lines_;
  };

  std::shared_ptr<Sink> sink_;
  spdlog::level::level_enum previous_level_;
};

inline const std::vector<std::string>& Loopback() {
  static const std::vector<std::string> kLoopback{"127.0.0.1"};
  return kLoopback;
}

// A client on loopback whose Init has returned.
inline std::unique_ptr<quiral::vek_impl::VEKClient> StartClient(const std::string& serial,
                                                                bool lite = false,
                                                                bool verbose = false) {
  auto client = std::make_unique<quiral::vek_impl::VEKClient>(Loopback(), verbose);
  client->Init(serial, lite);
  return client;
}

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace quiral_client_test
