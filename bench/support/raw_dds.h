// The anchors' side of the benchmarks: endpoints written directly against
// the DDS library, with the same QoS profiles as the link's, so that a
// figure of the project can be set beside what the library alone costs.
#pragma once

#include <chrono>
#include <fastdds/dds/core/condition/WaitSet.hpp>
#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>
#include <functional>
#include <string>
#include <vector>

namespace quiral::bench {

// The QoS profile of a raw endpoint: the link's reliable default profile
// (depth 10, synchronous writer) or its best-effort real-time one
// (synchronous writer when `sync`).
enum class RawProfile { kReliable, kRealtime, kRealtimeSync };

// One data writer on DDS topic `topic` (the full name, "rt/..."),
// with a publisher and topic of its own.
class RawWriter {
 public:
  RawWriter(eprosima::fastdds::dds::DomainParticipant* participant,
            eprosima::fastdds::dds::TypeSupport type, const std::string& topic, RawProfile profile);
  ~RawWriter();
  RawWriter(const RawWriter&) = delete;
  RawWriter& operator=(const RawWriter&) = delete;

  eprosima::fastdds::dds::DataWriter* get() const { return writer_; }
  bool Write(const void* sample) const { return writer_->write(const_cast<void*>(sample)); }
  // Until a reader has matched, at most `timeout`.
  bool WaitMatched(std::chrono::milliseconds timeout) const;

 private:
  eprosima::fastdds::dds::DomainParticipant* participant_;
  eprosima::fastdds::dds::Topic* topic_ = nullptr;
  eprosima::fastdds::dds::Publisher* publisher_ = nullptr;
  eprosima::fastdds::dds::DataWriter* writer_ = nullptr;
};

// One data reader on DDS topic `topic`. With `on_data`, that runs on the
// library's listener thread whenever samples are available; without, the
// reader is waited on with Wait.
class RawReader : private eprosima::fastdds::dds::DataReaderListener {
 public:
  RawReader(eprosima::fastdds::dds::DomainParticipant* participant,
            eprosima::fastdds::dds::TypeSupport type, const std::string& topic, RawProfile profile,
            std::function<void(eprosima::fastdds::dds::DataReader*)> on_data = nullptr);
  ~RawReader() override;
  RawReader(const RawReader&) = delete;
  RawReader& operator=(const RawReader&) = delete;

  eprosima::fastdds::dds::DataReader* get() const { return reader_; }
  // Takes the next valid sample into `sample`; false when there is none.
  bool Take(void* sample) { return Take(reader_, sample); }
  static bool Take(eprosima::fastdds::dds::DataReader* reader, void* sample);
  // Until a sample is available, at most until `deadline`.
  bool Wait(std::chrono::steady_clock::time_point deadline);

 private:
  void on_data_available(eprosima::fastdds::dds::DataReader* reader) override { on_data_(reader); }

  eprosima::fastdds::dds::DomainParticipant* participant_;
  std::function<void(eprosima::fastdds::dds::DataReader*)> on_data_;
  eprosima::fastdds::dds::Topic* topic_ = nullptr;
  eprosima::fastdds::dds::Subscriber* subscriber_ = nullptr;
  eprosima::fastdds::dds::DataReader* reader_ = nullptr;
  eprosima::fastdds::dds::WaitSet wait_set_;
};

}  // namespace quiral::bench
