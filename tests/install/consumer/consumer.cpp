// Uses the installed library without connecting to a robot: names the API's
// classes, takes the addresses of their members (resolved in the installed
// shared objects) and calls a function of the dual-arm layer.
#include <quiral/bivek/robot_pair.h>
#include <quiral/vek/robot.h>

#include <cstdio>
#include <string>

int main() {
  void (quiral::vek::Robot::*volatile enable)() = &quiral::vek::Robot::Enable;
  void (quiral::bivek::RobotPair::*volatile pair_enable)() = &quiral::bivek::RobotPair::Enable;
  const std::string text =
      quiral::bivek::_ExtractExceptMsg("[quiral::vek::Robot::Enable] E-stop is not released");
  const bool ok = enable != nullptr && pair_enable != nullptr &&
                  text == " E-stop is not released";
  std::printf("consumer: %s\n", ok ? "ok" : "unexpected result");
  return ok ? 0 : 1;
}
