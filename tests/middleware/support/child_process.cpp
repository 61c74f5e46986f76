#include "tests/middleware/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace quiral_test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args) {
  int to_child[2];
  int from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv_storage;
  argv_storage.push_back(path);
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_storage) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    dup2(to_child[0], STDIN_FILENO);
    dup2(from_child[1], STDOUT_FILENO);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  input_ = to_child[1];
  output_ = from_child[0];
  // A child that dies must not take the parent with it through SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (!Wait(std::chrono::seconds(10))) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (output_ >= 0) {
    close(output_);
  }
}

bool ChildProcess::WriteLine(const std::string& line) {
  if (input_ < 0) {
    return false;
  }
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(input_, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    if (output_ < 0) {
      return std::nullopt;
    }
    pollfd fd{output_, POLLIN, 0};
    const int ready = poll(&fd, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return std::nullopt;
    }
    char buffer[4096];
    const ssize_t n = read(output_, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      close(output_);
      output_ = -1;
      continue;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::ExpectLine(const std::string& expected, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto line = ReadLine(std::chrono::milliseconds(RemainingMs(deadline)));
    if (!line) {
      return false;
    }
    if (*line == expected) {
      return true;
    }
  }
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) {
    close(input_);
    input_ = -1;
  }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (status_) {
    return status_;
  }
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (Clock::now() >= deadline) {
      return std::nullopt;
    }
    // No way to wait on a child with a timeout short of a signal handler:
    // check again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace quiral_test
