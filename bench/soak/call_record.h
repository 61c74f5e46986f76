// What the soak run's threads report: the slowest call of each kind, every
// error (a call that threw, a log line at error level) and the warnings
// logged.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace quiral::soak {

class CallRecord {
 public:
  CallRecord() : start_(std::chrono::steady_clock::now()) {}

  // Runs `call`, keeps its duration under `kind`; a call that throws is
  // recorded as an error with its text and returns false.
  template <class Call>
  bool Time(const std::string& kind, Call&& call) {
    const auto t0 = std::chrono::steady_clock::now();
    try {
      call();
    } catch (const std::exception& error) {
      Error(kind + ": " + error.what());
      return false;
    }
    Took(kind, t0, std::chrono::steady_clock::now());
    return true;
  }

  void Error(const std::string& text);
  void Warning(const std::string& text);
  uint64_t errors() const;

  // The per-kind table, the slowest call overall, warnings and errors (the
  // first few of each in full).
  void Print(std::ostream& out) const;

 private:
  struct Kind {
    uint64_t calls = 0;
    double total_us = 0.0;
    double max_us = 0.0;
    double max_at_s = 0.0;  // when the slowest one began, since the start
  };
  void Took(const std::string& kind, std::chrono::steady_clock::time_point t0,
            std::chrono::steady_clock::time_point t1);

  static constexpr size_t kKeptTexts = 10;
  const std::chrono::steady_clock::time_point start_;
  mutable std::mutex mutex_;
  std::map<std::string, Kind> kinds_;
  uint64_t errors_ = 0, warnings_ = 0;
  std::vector<std::string> error_texts_, warning_texts_;
};

// A log sink that hands warnings and errors (of the library, the middleware
// and the monitor alike) to a CallRecord.
class RecordingSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit RecordingSink(CallRecord& record) : record_(record) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  void flush_() override {}

 private:
  CallRecord& record_;
};

}  // namespace quiral::soak
