// quiral::vek::Device: the devices a robot controller manages by name (a
// gripper is one): their list, status and parameters, enabling and
// disabling them, and commands of named boolean, integer and
// floating-point values.
//
// A Device shares the link client of the Robot it was built from. The
// device names are fetched once, at construction, and never refreshed;
// every other query and command is one remote call (params: one more per
// parameter). Errors begin with "[quiral::vek::Device::<operation>] ":
//   std::invalid_argument  a device name the controller did not list, or a
//                          name or command the link cannot carry whole;
//   std::length_error      a device name longer than the link carries;
//   std::runtime_error     a failed remote call.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace quiral::vek {

class Robot;

// Value of one entry of a device command.
using DeviceCommandValue = std::variant<bool, int, double>;
// Value of one device parameter.
using DeviceParamValue =
    std::variant<int, double, std::string, std::vector<double>, std::vector<std::string>>;

class Device {
 public:
  // Fetches the device names. Throws std::runtime_error when `robot` has no
  // implementation or link client, or when the list cannot be fetched.
  explicit Device(const Robot& robot);
  virtual ~Device();

  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // The names fetched at construction, in the controller's order.
  std::vector<std::string> list() const;
  // Whether `name` is one of them (exact, byte for byte).
  bool exist(const std::string& name) const;

  // Each asks the controller.
  bool enabled(const std::string& name) const;
  bool connected(const std::string& name) const;
  // Parameters the controller reports for the device; one it cannot
  // report is left out with a warning.
  std::map<std::string, DeviceParamValue> params(const std::string& name) const;

  void Enable(const std::string& name);
  void Disable(const std::string& name);
  // Sends the entries in ascending order of their names as three parallel
  // lists: integers (bool 1/0 or the int), 32-bit floats (the double) and
  // the names tagged with their type, "<bool>", "<int>" or "<double>".
  // A double must be finite and within the 32-bit float range, and a name
  // free of '\0'; otherwise std::invalid_argument and nothing is sent.
  void Command(const std::string& name, const std::map<std::string, DeviceCommandValue>& commands);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::vek
