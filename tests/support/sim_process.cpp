#include "tests/support/sim_process.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "tests/support/child_process.h"

#ifndef QUIRAL_SIM_PATH
#error "QUIRAL_SIM_PATH must name the quiral_sim executable"
#endif

namespace quiral::test {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string UniqueSerial(const std::string& model) {
  static std::atomic<int> counter{0};
  return model + "-T" + std::to_string(::getpid()) + "x" + std::to_string(++counter);
}

SimProcess::SimProcess(std::vector<std::string> serials, std::vector<std::string> options)
    : serials_(std::move(serials)) {
  const char* netns = std::getenv("NETNS_RUN");
  if (netns == nullptr || std::string(netns) != "1") {
    throw SimError("SimProcess: tests that start the simulator must run inside scripts/netns-run");
  }
  if (serials_.empty()) serials_.push_back(UniqueSerial());
  std::vector<std::string> args = {"--whitelist", "127.0.0.1"};
  for (const auto& s : serials_) args.insert(args.end(), {"--serial", s});
  args.insert(args.end(), options.begin(), options.end());
  try {
    child_ = std::make_unique<quiral_test::ChildProcess>(QUIRAL_SIM_PATH, args);
  } catch (const std::runtime_error& error) {
    throw SimError(std::string("SimProcess: ") + error.what());
  }
  pid_ = child_->pid();
  const auto deadline = Clock::now() + milliseconds(20000);
  for (;;) {
    const auto line = child_->ReadLine(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
    if (!line) {
      child_->Kill();
      throw SimError("SimProcess: the simulator did not report ready");
    }
    const json j = json::parse(*line, nullptr, false);
    if (j.is_object() && j.value("event", "") == "ready") break;
  }
}

SimProcess::~SimProcess() {
  const milliseconds timeout(3000);
  try {
    TryCommand("quit", json::object(), timeout);
  } catch (const SimError&) {  // not answering: killed below
  }
  child_->CloseInput();  // end of input also ends the simulator
  if (!child_->Wait(timeout)) child_->Kill();
}

json SimProcess::TryCommand(const std::string& cmd, const json& args, milliseconds timeout) {
  std::lock_guard<std::mutex> lock(mu_);
  if (pid_ <= 0 || !child_) throw SimError("SimProcess: the simulator is not running");
  json command = args.is_object() ? args : json::object();
  const int64_t id = next_id_++;
  command["id"] = id;
  command["cmd"] = cmd;
  if (!child_->WriteLine(command.dump())) {
    throw SimError("SimProcess: cannot send '" + cmd + "': the simulator has gone");
  }
  const auto deadline = Clock::now() + timeout;
  while (const auto line =
             child_->ReadLine(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()))) {
    const json reply = json::parse(*line, nullptr, false);
    if (reply.is_object() && reply.contains("id") && reply["id"] == id) return reply;
  }
  throw SimError("SimProcess: no reply to '" + cmd + "' within " + std::to_string(timeout.count()) + " ms");
}

json SimProcess::Command(const std::string& cmd, const json& args, milliseconds timeout) {
  json reply = TryCommand(cmd, args, timeout);
  if (!reply.value("ok", false)) {
    throw SimError("SimProcess: '" + cmd + "' failed: " + reply.value("error", std::string("?")));
  }
  return reply;
}

json SimProcess::State(const std::string& serial) { return Command("state", {{"serial", serial}}); }

void SimProcess::Set(const std::string& serial, const json& fields) {
  json args = fields;
  args["serial"] = serial;
  Command("set", args);
}

int SimProcess::Fault(const std::string& serial, const json& rule) {
  json args = rule;
  args["serial"] = serial;
  return Command("fault", args)["rule"].get<int>();
}

void SimProcess::ClearFaults(const std::string& serial) { Command("clear_faults", {{"serial", serial}}); }

json SimProcess::Requests(const std::string& serial, size_t since) {
  return Command("requests", {{"serial", serial}, {"since", since}});
}

json SimProcess::DataRequests(const std::string& serial, size_t since) {
  return Command("data_requests", {{"serial", serial}, {"since", since}});
}

json SimProcess::MotionCommands(const std::string& serial, size_t since, bool compact) {
  return Command("motion_commands", {{"serial", serial}, {"since", since}, {"compact", compact}});
}

bool SimProcess::WaitForState(const std::string& serial, const std::function<bool(const json&)>& pred,
                              milliseconds timeout, milliseconds period) {
  return WaitUntil([&] { return pred(State(serial)); }, timeout, period);
}

bool SimProcess::WaitMatched(const std::string& serial, milliseconds timeout,
                             const std::vector<std::string>& endpoints, int count) {
  return WaitForState(
      serial,
      [&](const json& s) {
        for (const auto& [name, n] : s.at("matched").items()) {
          const bool wanted =
              endpoints.empty() || std::find(endpoints.begin(), endpoints.end(), name) != endpoints.end();
          if (wanted && n.get<int>() < count) return false;
        }
        return true;
      },
      timeout, milliseconds(20));
}

}  // namespace quiral::test
