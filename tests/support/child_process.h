// A child process started from a test or benchmark, spoken to line by line
// through its standard input and output (its standard error is ours).
//
// The child is killed by the kernel when the thread that started it ends
// (construct it from the test's own thread), and the destructor never
// leaves it running. Input and output are socket pairs, so writing to a
// child that has gone fails instead of raising SIGPIPE here.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quiral_test {

class ChildProcess {
 public:
  // Starts `path` with `args`. Throws std::runtime_error when it cannot.
  ChildProcess(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> text{path};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) Fail("socketpair");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, out) != 0) {
      for (int fd : in) ::close(fd);
      Fail("socketpair");
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
      for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
      Fail("fork");
    }
    if (pid_ == 0) {
      // Only async-signal-safe calls until exec.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);  // the parent is already gone
      ::dup2(in[1], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[1]);
    ::close(out[1]);
    input_ = in[0];
    output_ = out[0];
  }

  // Closes the child's input, gives it 10 s to exit, then kills it.
  ~ChildProcess() {
    CloseInput();
    if (!Wait(std::chrono::seconds(10))) Kill();
    Close(output_);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Sends one line (a newline is added). False when the child has gone.
  bool WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    for (size_t done = 0; done < text.size();) {
      if (input_ < 0) return false;
      const ssize_t n = ::send(input_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno != EINTR) return false;
      done += n < 0 ? 0 : static_cast<size_t>(n);
    }
    return true;
  }

  // Next line of the child's output, without its newline; nothing when the
  // timeout passes first or the output ends.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const size_t newline = pending_.find('\n');
      if (newline != std::string::npos) {
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (output_ < 0 || left <= 0) return std::nullopt;
      pollfd fd{output_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(std::min<int64_t>(left, 1000))) <= 0) continue;  // EINTR too
      char buffer[65536];
      const ssize_t n = ::read(output_, buffer, sizeof(buffer));
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        Close(output_);  // the child closed its output: it has ended
      } else if (n > 0) {
        pending_.append(buffer, static_cast<size_t>(n));
      }
    }
  }

  // Reads lines until one equals `expected`; false on timeout or end.
  bool ExpectLine(const std::string& expected, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (const auto line =
               ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()))) {
      if (*line == expected) return true;
    }
    return false;
  }

  // Closes the child's input, which asks it to exit.
  void CloseInput() { Close(input_); }

  // Waits for the child to exit; its exit status (128 + the signal number
  // when a signal ended it), or nothing on timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!status_) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (done < 0 && errno != EINTR) {
        status_ = -1;  // not our child any more
      } else if (Clock::now() >= deadline) {
        return std::nullopt;
      } else {
        // No way to wait on a child with a timeout short of a signal
        // handler: check again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    return status_;
  }

  // Kills the child and reaps it.
  void Kill() {
    if (status_) return;
    ::kill(pid_, SIGKILL);
    Wait(std::chrono::hours(1));
  }

  pid_t pid() const { return pid_; }

 private:
  using Clock = std::chrono::steady_clock;

  [[noreturn]] static void Fail(const char* what) {
    throw std::runtime_error(std::string("ChildProcess: ") + what + ": " + std::strerror(errno));
  }
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  pid_t pid_ = -1;
  int input_ = -1;   // the child's standard input
  int output_ = -1;  // the child's standard output
  std::string pending_;
  std::optional<int> status_;
};

}  // namespace quiral_test
