// Which handler serves which request: one table per service, keyed by the
// simulator's own ids (sim/procedure_ids.h). The handler families in
// sim/handlers/ fill the tables once; a request with no handler is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "sim/procedure_ids.h"

namespace vek_msgs::msg {
class RPCRequest;
class RPCReply;
}  // namespace vek_msgs::msg

namespace quiral_lumo_msgs::msg {
class RPCReply;
}  // namespace quiral_lumo_msgs::msg

namespace quiral::sim {

struct RobotState;

// Carries out one operations request and fills its reply's containers;
// false refuses the request (the caller then sends its id only).
using OpsHandler = std::function<bool(RobotState&, const vek_msgs::msg::RPCRequest&,
                                      vek_msgs::msg::RPCReply&)>;
// Fills the reply's containers of one data request.
using DataHandler = std::function<void(const RobotState&, quiral_lumo_msgs::msg::RPCReply&)>;

class HandlerRegistry {
 public:
  // Each id may be registered once; a second registration throws
  // std::logic_error.
  void AddOperation(ProcedureId id, OpsHandler handler);
  void AddDataRequest(DataRequestId id, DataHandler handler);

  // Null when no family serves the id.
  const OpsHandler* Operation(uint16_t procedure_id) const;
  const DataHandler* DataRequest(uint16_t request_id) const;

 private:
  std::map<uint16_t, OpsHandler> operations_;
  std::map<uint16_t, DataHandler> data_requests_;
};

// The handlers of every family, registered on first use.
const HandlerRegistry& Handlers();

}  // namespace quiral::sim
