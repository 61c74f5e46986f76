// Test-side handle of a simulated robot controller process (quiral_sim),
// spoken to through its JSON-lines control channel (sim/README.md), every
// wait with a deadline. The child never outlives the handle nor the thread
// that started it (construct it from the test's own thread). It is started
// only inside the private network namespace of scripts/netns-run.
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

// No reply in time, a reply with "ok": false, or a dead simulator.
class SimError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SimProcess {
 public:
  // One controller per serial number (none given: one with a
  // UniqueSerial()), on loopback; `args` are further options, e.g.
  // {"--initial-state", "ready"}.
  explicit SimProcess(std::vector<std::string> serials = {}, std::vector<std::string> args = {});
  // Asks the simulator to end, and kills it after 3 s.
  ~SimProcess();

  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::vector<std::string>& serials() const { return serials_; }
  pid_t pid() const { return pid_; }

  // Sends `cmd` with the fields of `args` and returns the reply; Command
  // throws SimError where TryCommand returns a reply with "ok": false.
  nlohmann::json Command(const std::string& cmd, const nlohmann::json& args = nlohmann::json::object(),
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  nlohmann::json TryCommand(const std::string& cmd,
                            const nlohmann::json& args = nlohmann::json::object(),
                            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  // Per-controller shorthands.
  nlohmann::json State(const std::string& serial);
  void Set(const std::string& serial, const nlohmann::json& fields);
  int Fault(const std::string& serial, const nlohmann::json& rule);  // returns the rule id
  void ClearFaults(const std::string& serial);
  nlohmann::json Requests(const std::string& serial, size_t since = 0);
  nlohmann::json DataRequests(const std::string& serial, size_t since = 0);
  nlohmann::json MotionCommands(const std::string& serial, size_t since = 0, bool compact = false);

  bool WaitForState(const std::string& serial,
                    const std::function<bool(const nlohmann::json&)>& pred,
                    std::chrono::milliseconds timeout,
                    std::chrono::milliseconds period = std::chrono::milliseconds(10));
  // Until each named endpoint (all when `endpoints` is empty, names as in
  // the state's "matched") has matched `count` remote endpoints.
  bool WaitMatched(const std::string& serial, std::chrono::milliseconds timeout,
                   const std::vector<std::string>& endpoints = {}, int count = 1);

 private:
  std::vector<std::string> serials_;
  std::unique_ptr<quiral_test::ChildProcess> child_;
  pid_t pid_ = -1;
  int64_t next_id_ = 1;
  std::mutex mu_;
};

// A serial number of `model` that no other test process uses (tests share
// one DDS domain): model + "-T" + process id + "x" + a counter.
std::string UniqueSerial(const std::string& model = "Varno4");

}  // namespace quiral::test
