// The decoding entry points that the fuzz targets drive: one function per
// type-support class, each taking raw payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#define QUIRAL_FUZZ_DECODERS(X)   \
  X(std_msgs__Bool)               \
  X(vek_msgs__SystemStatus)       \
  X(vek_msgs__GripperStates)      \
  X(vek_msgs__RealtimeStates)     \
  X(vek_msgs__RPCRequest)         \
  X(vek_msgs__RPCReply)           \
  X(vek_msgs__JointCommands)      \
  X(vek_msgs__CartesianCommands)  \
  X(vek_msgs__MotionCommands)     \
  X(quiral_lumo_msgs__RPCRequest) \
  X(quiral_lumo_msgs__RPCReply)   \
  X(quiral_lumo_msgs__EventLog)   \
  X(quiral_lumo_msgs__AllExtraStreamData) \
  X(quiral_lumo_msgs__AllBasicStreamData)

namespace msgs_fuzz {
#define QUIRAL_FUZZ_DECLARE(name) int Decode_##name(const uint8_t* data, size_t size);
QUIRAL_FUZZ_DECODERS(QUIRAL_FUZZ_DECLARE)
#undef QUIRAL_FUZZ_DECLARE
}  // namespace msgs_fuzz
