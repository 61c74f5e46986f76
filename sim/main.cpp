// quiral_sim: simulated robot controllers for tests and demos.
//
//   scripts/netns-run build/bin/quiral_sim --serial Varno4-SIM001 [--serial ...]
//
// Every option and control command is described in sim/README.md.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include "sim/control_channel.h"
#include "sim/sim_controller.h"

namespace {

const char kUsage[] =
    "usage: quiral_sim --serial SERIAL [--serial SERIAL ...] [options]\n"
    "  --whitelist ADDRS         UDPv4 interface whitelist, comma-separated IPv4 addresses\n"
    "  --domain N                DDS domain id (default 10)\n"
    "  --rate-hz HZ              periodic publications per second (default 250)\n"
    "  --dof N                   arm joints (default 7)\n"
    "  --dof-e N                 external-axis joints (default 0)\n"
    "  --initial-state NAME      disabled|ready|estop|fault|booting|recovery (default disabled)\n"
    "  --enable-delay-ms N       brake release time after enabling (default 300)\n"
    "  --clear-fault-delay-ms N  time until a cleared fault is gone (default 300)\n"
    "  --motion-detail N         motion commands kept in full (default 20000)\n"
    "  --log-level LEVEL         trace|debug|info|warn|error|off (default warn)\n"
    "Must run inside the private network namespace (scripts/netns-run).\n";

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "quiral_sim: " << message << "\n" << kUsage;
  std::exit(2);
}

long ToNumber(const std::string& option, const std::string& text, long lo, long hi) {
  try {
    size_t used = 0;
    const long v = std::stol(text, &used);
    if (used != text.size() || v < lo || v > hi) throw std::out_of_range(text);
    return v;
  } catch (const std::exception&) {
    Fail("bad value for " + option + ": '" + text + "'");
  }
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> serials;
  quiral::sim::ControllerOptions base;
  std::string log_level = "warn";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= argc) Fail("missing value for " + arg);
    const std::string value = argv[++i];
    if (arg == "--serial") {
      if (value.empty()) Fail("empty serial number");
      serials.push_back(value);
    } else if (arg == "--whitelist") {
      base.whitelist = SplitComma(value);
    } else if (arg == "--domain") {
      base.domain = static_cast<uint32_t>(ToNumber(arg, value, 0, 232));
    } else if (arg == "--rate-hz") {
      base.rate_hz = static_cast<double>(ToNumber(arg, value, 1, 10000));
    } else if (arg == "--dof") {
      base.robot.dof_m = static_cast<size_t>(ToNumber(arg, value, 1, 50));
    } else if (arg == "--dof-e") {
      base.robot.dof_e = static_cast<size_t>(ToNumber(arg, value, 0, 50));
    } else if (arg == "--initial-state") {
      base.robot.initial_state = value;
    } else if (arg == "--enable-delay-ms") {
      base.robot.enable_delay_ms = static_cast<int>(ToNumber(arg, value, 0, 600000));
    } else if (arg == "--clear-fault-delay-ms") {
      base.robot.clear_fault_delay_ms = static_cast<int>(ToNumber(arg, value, 0, 600000));
    } else if (arg == "--motion-detail") {
      base.motion_detail_capacity = static_cast<size_t>(ToNumber(arg, value, 0, 10000000));
    } else if (arg == "--log-level") {
      log_level = value;
    } else {
      Fail("unknown option " + arg);
    }
  }
  if (serials.empty()) Fail("at least one --serial is needed");
  for (size_t i = 0; i < serials.size(); ++i) {
    for (size_t k = 0; k < i; ++k) {
      if (serials[k] == serials[i]) Fail("serial " + serials[i] + " given twice");
    }
  }

  auto logger = spdlog::stderr_color_mt("quiral_sim");
  logger->set_level(spdlog::level::from_str(log_level));
  spdlog::set_default_logger(logger);
  if (const char* netns = std::getenv("NETNS_RUN"); netns == nullptr || std::string(netns) != "1") {
    // DDS discovery must never leave this machine.
    spdlog::error("refusing to start outside the private network namespace: "
                  "run it as scripts/netns-run quiral_sim ...");
    return 2;
  }

  std::vector<std::unique_ptr<quiral::sim::SimController>> controllers;
  std::vector<quiral::sim::SimController*> raw;
  try {
    for (const auto& serial : serials) {
      quiral::sim::ControllerOptions options = base;
      options.robot.serial = serial;
      controllers.push_back(std::make_unique<quiral::sim::SimController>(options));
      raw.push_back(controllers.back().get());
    }
    for (auto& c : controllers) c->Start();
  } catch (const std::exception& e) {
    spdlog::error("cannot start: {}", e.what());
    return 1;
  }
  spdlog::info("simulating {} controller(s)", controllers.size());

  quiral::sim::ControlChannel channel(raw);
  std::cout << channel.ReadyLine() << std::endl;
  std::string line;
  bool quit = false;
  while (!quit && std::getline(std::cin, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::cout << channel.Handle(line, &quit) << std::endl;
  }
  // Standard input closed or "quit": stop every controller before exiting.
  for (auto& c : controllers) c->Stop();
  controllers.clear();
  spdlog::info("exited");
  return 0;
}
