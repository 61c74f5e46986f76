// The simulator's control channel: one JSON command per line in, one JSON
// reply per line out (see sim/README.md for every command).
#pragma once

#include <string>
#include <vector>

namespace quiral::sim {

class SimController;

class ControlChannel {
 public:
  explicit ControlChannel(std::vector<SimController*> controllers);

  // Handles one command line and returns the reply line (no line end).
  // Sets *quit when the command asked the simulator to end.
  std::string Handle(const std::string& line, bool* quit);

  // The line announcing that every controller is ready.
  std::string ReadyLine() const;

 private:
  std::vector<SimController*> controllers_;
};

}  // namespace quiral::sim
