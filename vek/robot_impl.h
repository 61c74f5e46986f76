// Internal: the implementation behind quiral::vek::Robot. Included by the
// Robot's own sources and, through vek/robot_access.h, by the classes built
// from a Robot (Model, Gripper, FileIO, Device). Not part of the public API.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vek/data_types.h"
#include "vek/robot.h"

namespace quiral::vek_impl {
class VEKClient;
}  // namespace quiral::vek_impl

namespace quiral::vek {

class Robot::Impl {
 public:
  // Robot models, equal to their index in model_names.
  enum RobotModel : int32_t {
    UNKNOWN_MODEL = 0,
    VARNO4 = 1,
    VARNO4S = 2,
    VARNO4R = 3,
    VARNO4SR = 4,
    VARNO4M = 5,
    VARNO10 = 6,
    VARNO10S = 7,
    VARNO10R = 8,
    STARFLOAT = 9,
    OMBRISK_L = 10,
    OMBRISK_H = 11,
  };

  Impl(const std::string& robot_sn, const std::vector<std::string>& network_interface_whitelist,
       bool verbose, bool lite);
  virtual ~Impl();

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  std::array<std::string, 12> model_names;
  std::shared_ptr<vek_impl::VEKClient> client;
  // Sequence stamp of motion commands: incremented before each command,
  // reset to 0 by a successful mode switch. Read and written only under
  // motion_mutex, together with the held command of the motion-commands
  // publisher, because a stop may come from another thread (the collision
  // monitor) while the user streams commands.
  uint64_t motion_cmd_counter = 0;
  RobotModel robot_model = UNKNOWN_MODEL;
  RobotInfo info;
  bool verbose = false;
  bool lite = false;
  std::mutex motion_mutex;
};

}  // namespace quiral::vek
