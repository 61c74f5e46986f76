// Client of the robot's data service: numbered requests without arguments,
// each sent once.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/qor_state.h"
#include "base/vek_types.h"
#include "client/service_client.h"
#include "client/service_ids.h"

namespace quiral {
namespace vek_impl {

// Every operation returns OK (100000) or FAULT (300000) and never throws;
// the reason of a FAULT goes to the default logger. Each request is sent
// once and waits at most 2 s. A reply of the wrong shape is a FAULT and
// leaves every output argument as it was. Init and RequestStringList
// (request `id`, the reply's texts in order) come from ServiceClient.
class LUMODataRpc : public ServiceClient<LUMODataService> {
 public:
  LUMODataRpc() = default;
  ~LUMODataRpc() override = default;

  // Request 1: the first text.
  QorState RequestLUMOVersion(std::string& version);
  // Request 2: the running primitive's states, one text each.
  QorState RequestPtStates(std::vector<std::string>& list);
  // Request 3: exactly 8 texts; text 6 a decimal number, text 7 a decimal
  // integer (true when not 0). A text that is not a number is a FAULT.
  QorState RequestPlanInfo(quiral::vek::PlanInfo& info);
  // Request 8: first = floats 2 to 4, second = floats 5 to 7.
  QorState RequestManipulability(std::array<double, 3>& first, std::array<double, 3>& second);
};

}  // namespace vek_impl
}  // namespace quiral
