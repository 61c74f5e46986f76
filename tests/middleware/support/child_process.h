// A child process started from a test or benchmark, spoken to line by line
// through its standard input and output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quiral_test {

class ChildProcess {
 public:
  // Starts `path` with `args`; its standard error goes to ours. Throws
  // std::runtime_error when the process cannot be started.
  ChildProcess(const std::string& path, const std::vector<std::string>& args);
  // Closes the child's input, gives it 10 s to exit, then kills it.
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Sends one line (a newline is added). False when the child has gone.
  bool WriteLine(const std::string& line);

  // Next line of the child's output, without its newline; nothing when the
  // timeout passes first or the output ends.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  // Reads lines until one equals `expected`; false on timeout or end.
  bool ExpectLine(const std::string& expected, std::chrono::milliseconds timeout);

  // Closes the child's input, which asks it to exit.
  void CloseInput();

  // Waits for the child to exit; its exit status, or nothing on timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout);

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;   // the child's standard input
  int output_ = -1;  // the child's standard output
  std::string pending_;
  std::optional<int> status_;
};

}  // namespace quiral_test
