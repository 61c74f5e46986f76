#include "tests/support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifndef QUIRAL_SIM_PATH
#error "QUIRAL_SIM_PATH must name the quiral_sim executable"
#endif

namespace quiral::test {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

std::string UniqueSerial(const std::string& model) {
  static std::atomic<int> counter{0};
  return model + "-T" + std::to_string(::getpid()) + "x" + std::to_string(++counter);
}

SimProcess::SimProcess(SimOptions options) {
  if (options.serials.empty()) options.serials.push_back(UniqueSerial());
  Start(options);
}

SimProcess::SimProcess(std::vector<std::string> serials, std::vector<std::string> args) {
  SimOptions options;
  options.serials = std::move(serials);
  options.args = std::move(args);
  Start(options);
}

SimProcess::~SimProcess() {
  try {
    Quit(std::chrono::milliseconds(3000));
  } catch (...) {
    KillAndReap();
  }
  CloseFd(to_child_);
  CloseFd(from_child_);
}

void SimProcess::Start(const SimOptions& options) {
  const char* netns = std::getenv("NETNS_RUN");
  if (netns == nullptr || std::string(netns) != "1") {
    throw SimError("SimProcess: tests that start the simulator must run inside scripts/netns-run");
  }
  serials_ = options.serials;
  std::vector<std::string> argv_text{QUIRAL_SIM_PATH};
  for (const auto& s : options.serials) {
    argv_text.push_back("--serial");
    argv_text.push_back(s);
  }
  if (!options.whitelist.empty()) {
    argv_text.push_back("--whitelist");
    argv_text.push_back(options.whitelist);
  }
  argv_text.insert(argv_text.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Socket pairs rather than pipes: writing to a dead child then fails with
  // EPIPE (MSG_NOSIGNAL) instead of raising SIGPIPE in the test process.
  int in_pair[2], out_pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in_pair) != 0) {
    throw SimError(std::string("SimProcess: socketpair: ") + std::strerror(errno));
  }
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, out_pair) != 0) {
    ::close(in_pair[0]);
    ::close(in_pair[1]);
    throw SimError(std::string("SimProcess: socketpair: ") + std::strerror(errno));
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    for (int fd : {in_pair[0], in_pair[1], out_pair[0], out_pair[1]}) ::close(fd);
    throw SimError(std::string("SimProcess: fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls until exec.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the parent is already gone
    ::dup2(in_pair[1], STDIN_FILENO);
    ::dup2(out_pair[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in_pair[1]);
  ::close(out_pair[1]);
  to_child_ = in_pair[0];
  from_child_ = out_pair[0];
  pid_ = pid;

  const auto deadline = Clock::now() + options.ready_timeout;
  std::string line;
  while (true) {
    if (!ReadLine(line, deadline)) {
      KillAndReap();
      CloseFd(to_child_);
      CloseFd(from_child_);
      throw SimError("SimProcess: the simulator did not report ready (exit status " +
                     std::to_string(exit_status_) + ")");
    }
    json j = json::parse(line, nullptr, false);
    if (j.is_object() && j.value("event", "") == "ready") break;
  }
}

bool SimProcess::ReadLine(std::string& line, Clock::time_point deadline) {
  while (true) {
    const size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return true;
    }
    if (from_child_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{from_child_, POLLIN, 0};
    const int r = ::poll(&pfd, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) continue;
    char chunk[65536];
    const ssize_t n = ::read(from_child_, chunk, sizeof(chunk));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    if (n == 0) {
      CloseFd(from_child_);  // the simulator closed its output: it has ended
      return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

json SimProcess::TryCommand(const std::string& cmd, const json& args,
                            std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(mu_);
  if (pid_ <= 0 || to_child_ < 0) throw SimError("SimProcess: the simulator is not running");
  json command = args.is_object() ? args : json::object();
  const int64_t id = next_id_++;
  command["id"] = id;
  command["cmd"] = cmd;
  const std::string text = command.dump() + "\n";
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(to_child_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw SimError("SimProcess: cannot send '" + cmd + "': " + std::strerror(errno));
    }
    sent += static_cast<size_t>(n);
  }
  const auto deadline = Clock::now() + timeout;
  std::string line;
  while (ReadLine(line, deadline)) {
    json reply = json::parse(line, nullptr, false);
    if (reply.is_object() && reply.contains("id") && reply["id"] == id) return reply;
  }
  throw SimError("SimProcess: no reply to '" + cmd + "' within " +
                 std::to_string(timeout.count()) + " ms");
}

json SimProcess::Command(const std::string& cmd, const json& args,
                         std::chrono::milliseconds timeout) {
  json reply = TryCommand(cmd, args, timeout);
  if (!reply.value("ok", false)) {
    throw SimError("SimProcess: '" + cmd + "' failed: " + reply.value("error", std::string("?")));
  }
  return reply;
}

json SimProcess::State(const std::string& serial) {
  return Command("state", {{"serial", serial}});
}

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

void SimProcess::ClearFaults(const std::string& serial) {
  Command("clear_faults", {{"serial", serial}});
}

json SimProcess::Requests(const std::string& serial, size_t since) {
  return Command("requests", {{"serial", serial}, {"since", since}});
}

json SimProcess::DataRequests(const std::string& serial, size_t since) {
  return Command("data_requests", {{"serial", serial}, {"since", since}});
}

json SimProcess::MotionCommands(const std::string& serial, size_t since, bool compact) {
  return Command("motion_commands", {{"serial", serial}, {"since", since}, {"compact", compact}});
}

bool SimProcess::WaitForState(const std::string& serial,
                              const std::function<bool(const json&)>& pred,
                              std::chrono::milliseconds timeout, std::chrono::milliseconds period) {
  return WaitUntil([&] { return pred(State(serial)); }, timeout, period);
}

bool SimProcess::WaitMatched(const std::string& serial, std::chrono::milliseconds timeout,
                             const std::vector<std::string>& endpoints, int count) {
  return WaitForState(
      serial,
      [&](const json& s) {
        const json& matched = s.at("matched");
        for (const auto& [name, n] : matched.items()) {
          const bool wanted = endpoints.empty() ||
                              std::find(endpoints.begin(), endpoints.end(), name) != endpoints.end();
          if (wanted && n.get<int>() < count) return false;
        }
        return true;
      },
      timeout, std::chrono::milliseconds(20));
}

bool SimProcess::alive() {
  std::lock_guard<std::mutex> lock(mu_);
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
  }
  return true;
}

int SimProcess::Quit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return exit_status_;
  try {
    TryCommand("quit", json::object(), timeout);
  } catch (const SimError&) {
    // Not answering: it is killed below.
  }
  std::lock_guard<std::mutex> lock(mu_);
  CloseFd(to_child_);  // end of input also ends the simulator
  const auto deadline = Clock::now() + timeout;
  while (pid_ > 0) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      break;
    }
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      break;
    }
    if (Clock::now() >= deadline) {
      KillAndReap();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return exit_status_;
}

void SimProcess::KillAndReap() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  exit_status_ = -1;
  pid_ = -1;
}

}  // namespace quiral::test
