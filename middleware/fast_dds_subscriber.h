// Typed DDS subscriber: one data reader on one topic whose samples are taken
// straight into a message object of the user's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include <fastdds/dds/topic/TypeSupport.hpp>

#include "middleware/fast_dds_listener.h"
#include "middleware/endpoint_entities.h"

namespace quiral {
namespace middleware2 {

// T is a type support (derived from TopicDataType, default-constructible)
// whose message type is T::type. Held in shared ownership; never copied.
//
// After a profile operation, the library's listener thread takes each
// arriving sample into *message and runs `callback` for every
// `filtering_factor`-th valid sample. The subscriber must be destroyed
// before the node whose participant it uses and before the buffer and any
// state its callback uses; destruction waits for a callback in progress, so
// it must not happen inside the callback or under a lock the callback takes.
template <class T>
class FastDDSSubscriber {
 public:
  using Message = typename T::type;

  // Throws std::invalid_argument "Input param <message> is nullptr" for a
  // null buffer, else std::out_of_range "Input param <filtering_factor> must
  // be positive" for factor 0; in either case nothing is registered.
  FastDDSSubscriber(eprosima::fastdds::dds::DomainParticipant* participant,
                    const std::string& topic, std::function<void()> callback, Message* message,
                    uint32_t filtering_factor)
      : entities_(participant, eprosima::fastdds::dds::TypeSupport(new T())) {
    if (message == nullptr) {
      throw std::invalid_argument("Input param <message> is nullptr");
    }
    if (filtering_factor == 0) {
      throw std::out_of_range("Input param <filtering_factor> must be positive");
    }
    entities_.Register(topic);
    listener_.Configure(std::move(callback), message, filtering_factor);
  }

  virtual ~FastDDSSubscriber() {
    listener_.Close();
    entities_.DeleteEntities();
  }

  FastDDSSubscriber(const FastDDSSubscriber&) = delete;
  FastDDSSubscriber& operator=(const FastDDSSubscriber&) = delete;

  // Reliable profile keeping the last max(depth, 1) samples.
  void InitializeDefaultProfile(int32_t depth) {
    entities_.InitializeDefaultProfile(depth, &listener_);
  }

  // Best-effort profile for periodic samples where only the newest matters.
  void InitializeRealtimeSocketProfile() {
    entities_.InitializeRealtimeSocketProfile(false, &listener_);
  }

  const std::string& topic_name() const { return entities_.topic_name(); }
  eprosima::fastdds::dds::DomainParticipant* participant() const {
    return entities_.participant();
  }
  eprosima::fastdds::dds::Subscriber* subscriber() const { return entities_.container(); }
  eprosima::fastdds::dds::Topic* topic() const { return entities_.topic(); }
  eprosima::fastdds::dds::DataReader* reader() const { return entities_.endpoint(); }
  const FastDDSListener<T>& listener() const { return listener_; }

 private:
  detail::ReaderEntities entities_;
  FastDDSListener<T> listener_;
};

}  // namespace middleware2
}  // namespace quiral
