#include "call_record.h"

#include <iomanip>

namespace quiral::soak {

void CallRecord::Took(const std::string& kind, std::chrono::steady_clock::time_point t0,
                      std::chrono::steady_clock::time_point t1) {
  const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
  std::lock_guard<std::mutex> lock(mutex_);
  Kind& k = kinds_[kind];
  k.calls += 1;
  k.total_us += us;
  if (us > k.max_us) {
    k.max_us = us;
    k.max_at_s = std::chrono::duration<double>(t0 - start_).count();
  }
}

void CallRecord::Error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (++errors_ <= kKeptTexts) error_texts_.push_back(text);
}

void CallRecord::Warning(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (++warnings_ <= kKeptTexts) warning_texts_.push_back(text);
}

uint64_t CallRecord::errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

void CallRecord::Print(std::ostream& out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  out << std::fixed << std::setprecision(3);
  out << "calls (kind: count, mean ms, slowest ms at s):\n";
  const std::pair<const std::string, Kind>* slowest = nullptr;
  for (const auto& entry : kinds_) {
    const Kind& k = entry.second;
    out << "  " << std::left << std::setw(22) << entry.first << std::right << std::setw(9)
        << k.calls << std::setw(10) << k.total_us / 1000.0 / static_cast<double>(k.calls)
        << std::setw(10) << k.max_us / 1000.0 << " at " << std::setprecision(1) << k.max_at_s
        << std::setprecision(3) << "\n";
    if (slowest == nullptr || k.max_us > slowest->second.max_us) slowest = &entry;
  }
  if (slowest != nullptr) {
    out << "slowest call: " << slowest->first << " " << slowest->second.max_us / 1000.0
        << " ms\n";
  }
  out << "warnings logged: " << warnings_ << "\n";
  for (const auto& text : warning_texts_) out << "  " << text << "\n";
  out << "errors: " << errors_ << "\n";
  for (const auto& text : error_texts_) out << "  " << text << "\n";
}

void RecordingSink::sink_it_(const spdlog::details::log_msg& msg) {
  const std::string text(msg.payload.data(), msg.payload.size());
  if (msg.level >= spdlog::level::err) {
    record_.Error("log: " + text);
  } else if (msg.level == spdlog::level::warn) {
    record_.Warning(text);
  }
}

}  // namespace quiral::soak
