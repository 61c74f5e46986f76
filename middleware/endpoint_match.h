// Waiting for an endpoint to match a remote one.
#pragma once

#include "middleware/rpc_deadline.h"

namespace eprosima {
namespace fastdds {
namespace dds {
class DataReader;
class DataWriter;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {

// True as soon as `writer` has a matched reader; false when the deadline
// passes first or the writer is null. A sample written before the writer
// has matched the remote reader is never delivered to it.
bool WaitForMatchedReader(eprosima::fastdds::dds::DataWriter* writer,
                          const RpcDeadline& deadline);

// True as soon as `reader` has a matched writer; false when the deadline
// passes first or the reader is null. A request/reply client waits for its
// reply reader too: a reply written before the server knows the reader is
// lost.
bool WaitForMatchedWriter(eprosima::fastdds::dds::DataReader* reader,
                          const RpcDeadline& deadline);

}  // namespace middleware2
}  // namespace quiral
