// Helpers of the per-robot client's tests: a client started on loopback,
// and a simulated controller with a client connected to it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_process.h"

namespace quiral_client_test {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral::test::LogCapture;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral::vek_impl::VEKClient;
using Clock = std::chrono::steady_clock;

constexpr int kOk = 100000;
constexpr int kFault = 300000;

// An operations procedure by its number, known to the controller or not.
inline quiral::vek_impl::ProcedureId Proc(int id) {
  return static_cast<quiral::vek_impl::ProcedureId>(id);
}

inline const std::vector<std::string> kLoopback{"127.0.0.1"};

// A client on loopback whose Init has returned.
inline std::unique_ptr<VEKClient> StartClient(const std::string& serial, bool lite = false) {
  auto client = std::make_unique<VEKClient>(kLoopback, false);
  client->Init(serial, lite);
  return client;
}

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One simulated controller and a client of it.
struct SimClient {
  explicit SimClient(bool lite = false)
      : serial(UniqueSerial()), sim({serial}), client(StartClient(serial, lite)) {}

  std::string serial;
  SimProcess sim;
  std::unique_ptr<VEKClient> client;
};

}  // namespace quiral_client_test
