// Test-side handle of a simulated robot controller process (quiral_sim).
//
// SimProcess starts quiral_sim as a child process with its standard input
// and output connected to this process, waits for its "ready" line, sends
// control commands and waits for their replies, each with a deadline. The
// child never outlives the handle: the destructor asks it to quit, then
// kills and reaps it; the child is also killed by the kernel when the
// thread that started it ends (so construct it from the test's own thread).
//
// Tests run inside the private network namespace; SimProcess refuses to
// start the simulator anywhere else.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/wait_until.h"

namespace quiral_test {
class ChildProcess;
}

namespace quiral::test {

// Thrown when the simulator does not answer in time, answers with
// "ok": false, or has died.
class SimError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SimOptions {
  // Empty: one controller with a UniqueSerial().
  std::vector<std::string> serials;
  // Further command-line options, for example {"--initial-state", "ready"}.
  std::vector<std::string> args;
  std::string whitelist = "127.0.0.1";
  std::chrono::milliseconds ready_timeout{20000};
};

class SimProcess {
 public:
  explicit SimProcess(SimOptions options = {});
  // Shorthand: the given serial numbers, further options.
  explicit SimProcess(std::vector<std::string> serials, std::vector<std::string> args = {});
  ~SimProcess();

  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::vector<std::string>& serials() const { return serials_; }
  pid_t pid() const { return pid_; }
  bool alive();

  // Sends one command (`cmd` plus the fields of `args`; an "id" is added)
  // and returns the reply. Throws SimError on a time-out, a dead simulator
  // or a reply with "ok": false (its "error" text in the message).
  nlohmann::json Command(const std::string& cmd, const nlohmann::json& args = nlohmann::json::object(),
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // The same, returning a reply with "ok": false instead of throwing.
  nlohmann::json TryCommand(const std::string& cmd,
                            const nlohmann::json& args = nlohmann::json::object(),
                            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  // Per-controller shorthands; the serial is added to the command.
  nlohmann::json State(const std::string& serial);
  void Set(const std::string& serial, const nlohmann::json& fields);
  // Adds a fault rule (see sim/README.md); returns its rule id.
  int Fault(const std::string& serial, const nlohmann::json& rule);
  void ClearFaults(const std::string& serial);
  nlohmann::json Requests(const std::string& serial, size_t since = 0);
  nlohmann::json DataRequests(const std::string& serial, size_t since = 0);
  nlohmann::json MotionCommands(const std::string& serial, size_t since = 0, bool compact = false);

  // Polls `field_of(State(serial))` until `pred` holds, every `period`;
  // false at the deadline.
  bool WaitForState(const std::string& serial,
                    const std::function<bool(const nlohmann::json&)>& pred,
                    std::chrono::milliseconds timeout,
                    std::chrono::milliseconds period = std::chrono::milliseconds(10));

  // Waits until each named endpoint of the controller (all of them when
  // `endpoints` is empty) has matched at least `count` remote endpoints:
  // "ops_requests", "ops_replies", "data_requests", "data_replies",
  // "event_log", "heartbeat", "motion_commands", "rt_states",
  // "basic_stream", "extra_stream". Discovery runs both ways; a peer that
  // sees the simulator may not yet be seen by it.
  bool WaitMatched(const std::string& serial, std::chrono::milliseconds timeout,
                   const std::vector<std::string>& endpoints = {}, int count = 1);

  // Asks the simulator to end and waits for it; kills it when it does not
  // end within `timeout`. Returns its exit status (-1 when killed).
  int Quit(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

 private:
  void Start(const SimOptions& options);
  // Notes the exit status once the simulator has ended.
  void Reaped(int status);

  std::vector<std::string> serials_;
  std::unique_ptr<quiral_test::ChildProcess> child_;
  pid_t pid_ = -1;
  int64_t next_id_ = 1;
  int exit_status_ = -1;
  std::mutex mu_;
};

// A serial number of the given model that no other test process uses:
// tests run in parallel in one network namespace on one DDS domain, so two
// tests that used the same serial number would talk to each other's
// simulators. Form: model + "-T" + process id + "x" + a counter.
std::string UniqueSerial(const std::string& model = "Varno4");

}  // namespace quiral::test
