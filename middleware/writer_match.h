// Waiting for a data writer to match at least one data reader.
#pragma once

#include "middleware/rpc_deadline.h"

namespace eprosima {
namespace fastdds {
namespace dds {
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

}  // namespace middleware2
}  // namespace quiral
