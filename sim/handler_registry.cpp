#include "sim/handler_registry.h"

#include <stdexcept>
#include <string>

#include "sim/handlers/families.h"

namespace quiral::sim {

namespace {

template <class Handler>
void Insert(std::map<uint16_t, Handler>& table, uint16_t id, Handler handler, const char* what) {
  if (!table.emplace(id, std::move(handler)).second) {
    throw std::logic_error(std::string(what) + " " + std::to_string(id) + " registered twice");
  }
}

template <class Handler>
const Handler* Lookup(const std::map<uint16_t, Handler>& table, uint16_t id) {
  const auto it = table.find(id);
  return it == table.end() ? nullptr : &it->second;
}

}  // namespace

void HandlerRegistry::AddOperation(ProcedureId id, OpsHandler handler) {
  Insert(operations_, static_cast<uint16_t>(id), std::move(handler), "procedure");
}

void HandlerRegistry::AddDataRequest(DataRequestId id, DataHandler handler) {
  Insert(data_requests_, static_cast<uint16_t>(id), std::move(handler), "data request");
}

const OpsHandler* HandlerRegistry::Operation(uint16_t procedure_id) const {
  return Lookup(operations_, procedure_id);
}

const DataHandler* HandlerRegistry::DataRequest(uint16_t request_id) const {
  return Lookup(data_requests_, request_id);
}

const HandlerRegistry& Handlers() {
  static const HandlerRegistry registry = [] {
    HandlerRegistry r;
    // One line per family.
    AddInfoHandlers(r);
    AddModeHandlers(r);
    AddProgramHandlers(r);
    AddSettingHandlers(r);
    AddToolHandlers(r);
    AddDeviceHandlers(r);
    AddFileHandlers(r);
    AddDataServiceHandlers(r);
    return r;
  }();
  return registry;
}

}  // namespace quiral::sim
