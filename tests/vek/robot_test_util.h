// Helpers shared by the tests that drive a Robot against the simulator.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "tests/support/sim_process.h"
#include "vek/robot.h"

namespace quiral::vek::testing_util {

using namespace std::chrono_literals;
using nlohmann::json;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;

// Only the loopback interface: tests never leave the namespace.
inline const std::vector<std::string> kWhitelist = {"127.0.0.1"};

inline std::unique_ptr<Robot> MakeRobot(const std::string& serial, bool lite = false,
                                        bool verbose = false) {
  return std::make_unique<Robot>(serial, kWhitelist, verbose, lite);
}

// Runs `call` and expects an exception of exactly type E (not a subclass
// chosen by accident) with exactly this text.
template <typename E>
::testing::AssertionResult Throws(const std::function<void()>& call, const std::string& text) {
  try {
    call();
  } catch (const E& e) {
    if (typeid(e) != typeid(E)) {
      return ::testing::AssertionFailure() << "threw " << typeid(e).name() << ": " << e.what();
    }
    if (text != e.what()) {
      return ::testing::AssertionFailure()
             << "text [" << e.what() << "], expected [" << text << "]";
    }
    return ::testing::AssertionSuccess();
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "threw " << typeid(e).name() << ": " << e.what();
  }
  return ::testing::AssertionFailure() << "did not throw";
}

// Records every message of the default logger while alive, and restores
// the previous default logger afterwards.
class LogCapture {
 public:
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

  struct Line {
    spdlog::level::level_enum level;
    std::string text;
  };
  std::vector<Line> Lines() const { return sink_->Lines(); }
  // How many messages at `level` have exactly this text.
  int Count(spdlog::level::level_enum level, const std::string& text) const {
    int n = 0;
    for (const Line& line : Lines()) n += line.level == level && line.text == text;
    return n;
  }
  // Messages at `level` that begin with `start`.
  std::vector<std::string> Starting(spdlog::level::level_enum level,
                                    const std::string& start) const {
    std::vector<std::string> out;
    for (const Line& line : Lines()) {
      if (line.level == level && line.text.rfind(start, 0) == 0) out.push_back(line.text);
    }
    return out;
  }

 private:
  class Sink : public spdlog::sinks::base_sink<std::mutex> {
   public:
    std::vector<Line> Lines() {
      std::lock_guard<std::mutex> lock(mutex_);
      return lines_;
    }

   protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
      lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
    }
    void flush_() override {}

   private:
    std::vector<Line> lines_;
  };

  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

// Requests of one procedure recorded by the simulator.
inline std::vector<json> RequestsOf(SimProcess& sim, const std::string& serial, int procedure,
                                    size_t since = 0) {
  const json reply =
      sim.Command("requests", {{"serial", serial}, {"since", since}, {"procedure_id", procedure}});
  return reply["items"].get<std::vector<json>>();
}

inline size_t RequestTotal(SimProcess& sim, const std::string& serial) {
  return sim.Command("requests", {{"serial", serial}, {"limit", 1}})["total"].get<size_t>();
}

// Changes the simulator's state and waits until a stream sample carrying the
// change has reached `robot`: the digital inputs carry a marker that
// differs on every call.
inline ::testing::AssertionResult SyncedSet(SimProcess& sim, const std::string& serial,
                                            const Robot& robot, json fields) {
  static int marker = 0;
  ++marker;
  std::vector<bool> inputs(18, false);
  std::array<bool, 18> expected{};
  for (int bit = 0; bit < 18; ++bit) expected[bit] = inputs[bit] = (marker >> bit) & 1;
  fields["digital_inputs"] = inputs;
  sim.Set(serial, fields);
  if (!WaitUntil([&] { return robot.digital_inputs() == expected; }, std::chrono::seconds(3))) {
    return ::testing::AssertionFailure() << "no sample with " << fields.dump();
  }
  return ::testing::AssertionSuccess();
}

// The state every test of a shared robot starts from: ready, idle, at rest,
// no fault, no fault rules.
inline const json& ReadyState() {
  static const json state = {{"estop", false},
                             {"enabling_button", false},
                             {"fault", nullptr},
                             {"fault_clearable", true},
                             {"mode", 1},
                             {"program_running", nullptr},
                             {"safety_board_state", 12},
                             {"system_state", 4},
                             {"velocity_override", nullptr}};
  return state;
}

}  // namespace quiral::vek::testing_util
