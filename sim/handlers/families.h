// The families of request handlers, one file of sim/handlers/ each. A
// family registers every request it serves in its Add...Handlers function,
// which Handlers() (sim/handler_registry.cpp) calls once. A new family is
// one new file, its declaration here and one line in Handlers().
#pragma once

namespace quiral::sim {

class HandlerRegistry;

// Versions, robot information, reachability, work coordinates (info.cpp).
void AddInfoHandlers(HandlerRegistry& registry);
// Enabling, fault clearing, control modes, brakes, external axes (modes.cpp).
void AddModeHandlers(HandlerRegistry& registry);
// Plans, primitives, their global variables and velocity scale (programs.cpp).
void AddProgramHandlers(HandlerRegistry& registry);
// Digital outputs, impedance and force-control settings (settings.cpp).
void AddSettingHandlers(HandlerRegistry& registry);
// Tool parameters and the payload calibration result (tools.cpp).
void AddToolHandlers(HandlerRegistry& registry);
// Devices, the gripper among them (devices.cpp).
void AddDeviceHandlers(HandlerRegistry& registry);
// URDF, trajectory files, projects and collision meshes (files.cpp).
void AddFileHandlers(HandlerRegistry& registry);
// Every request of the data service (data_service.cpp).
void AddDataServiceHandlers(HandlerRegistry& registry);

}  // namespace quiral::sim
