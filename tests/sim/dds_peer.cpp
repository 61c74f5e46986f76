#include "tests/sim/dds_peer.h"

#include <stdexcept>
#include <thread>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/domain/qos/DomainParticipantQos.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/publisher/qos/DataWriterQos.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/subscriber/qos/DataReaderQos.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>

#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "tests/support/sim_process.h"

namespace quiral::test {

namespace dds = eprosima::fastdds::dds;
using eprosima::fastrtps::types::ReturnCode_t;

namespace {

template <class Msg>
class Collector : public dds::DataReaderListener {
 public:
  void on_data_available(dds::DataReader* reader) override {
    Msg sample;
    dds::SampleInfo info;
    while (reader->take_next_sample(&sample, &info) == ReturnCode_t::RETCODE_OK) {
      if (!info.valid_data) continue;
      std::lock_guard<std::mutex> lock(mu);
      items.push_back({PeerClock::now(), sample});
    }
  }
  std::vector<Received<Msg>> Copy() {
    std::lock_guard<std::mutex> lock(mu);
    return std::vector<Received<Msg>>(items.begin(), items.end());
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mu);
    return items.size();
  }
  std::mutex mu;
  std::deque<Received<Msg>> items;
};

dds::DomainParticipant* Participant(const char* name, bool realtime) {
  dds::DomainParticipantQos qos = dds::PARTICIPANT_QOS_DEFAULT;
  qos.name(name);
  qos.wire_protocol().builtin.discovery_config.initial_announcements.count = 100;
  qos.transport().use_builtin_transports = false;
  auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
  udp->interfaceWhiteList.push_back("127.0.0.1");
  udp->non_blocking_send = realtime;
  qos.transport().user_transports.push_back(udp);
  auto* p = dds::DomainParticipantFactory::get_instance()->create_participant(10, qos);
  if (!p) throw std::runtime_error("DdsPeer: no participant");
  return p;
}

// The client's two profiles: reliable with depth 10, best effort with depth 1.
template <class Qos>
void Profile(Qos& q, bool reliable) {
  q.durability().kind = dds::VOLATILE_DURABILITY_QOS;
  q.reliability().kind = reliable ? dds::RELIABLE_RELIABILITY_QOS : dds::BEST_EFFORT_RELIABILITY_QOS;
  q.history().kind = dds::KEEP_LAST_HISTORY_QOS;
  q.history().depth = reliable ? 10 : 1;
  q.resource_limits().max_samples = reliable ? 100 : 10;
  q.resource_limits().max_samples_per_instance = reliable ? 10 : 1;
  q.resource_limits().allocated_samples = reliable ? 10 : 1;
  q.resource_limits().extra_samples = 1;
  q.endpoint().history_memory_policy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
  q.data_sharing().off();
}

}  // namespace

struct DdsPeer::Impl {
  dds::DomainParticipant* def = nullptr;
  dds::DomainParticipant* rt = nullptr;
  std::vector<dds::DataWriter*> writers;
  std::vector<dds::DataReader*> readers;
  dds::DataWriter* ops_writer = nullptr;
  dds::DataWriter* data_writer = nullptr;
  dds::DataWriter* heartbeat_writer = nullptr;
  dds::DataWriter* motion_writer = nullptr;
  Collector<vek_msgs::msg::RPCReply> ops_replies;
  Collector<quiral_lumo_msgs::msg::RPCReply> data_replies;
  Collector<vek_msgs::msg::RealtimeStates> rt_states;
  Collector<quiral_lumo_msgs::msg::AllBasicStreamData> basic;
  Collector<quiral_lumo_msgs::msg::AllExtraStreamData> extra;
  Collector<quiral_lumo_msgs::msg::EventLog> events;

  dds::Topic* Topic(dds::DomainParticipant* p, const std::string& name, dds::TopicDataType* ts) {
    dds::TypeSupport type(ts);
    type.register_type(p);
    return p->create_topic(name, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
  }
  dds::DataWriter* Writer(dds::DomainParticipant* p, const std::string& name, dds::TopicDataType* ts,
                          bool reliable, bool sync) {
    dds::Publisher* pub = p->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
    dds::DataWriterQos q = pub->get_default_datawriter_qos();
    Profile(q, reliable);
    if (!reliable) q.reliability().max_blocking_time = eprosima::fastrtps::Duration_t(0, 50000);
    q.publish_mode().kind = sync ? dds::SYNCHRONOUS_PUBLISH_MODE : dds::ASYNCHRONOUS_PUBLISH_MODE;
    dds::DataWriter* w = pub->create_datawriter(Topic(p, name, ts), q);
    if (!w) throw std::runtime_error("DdsPeer: no writer on " + name);
    writers.push_back(w);
    return w;
  }
  void Reader(dds::DomainParticipant* p, const std::string& name, dds::TopicDataType* ts,
              bool reliable, dds::DataReaderListener* listener) {
    dds::Subscriber* sub = p->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
    dds::DataReaderQos q = sub->get_default_datareader_qos();
    Profile(q, reliable);
    dds::DataReader* r = sub->create_datareader(Topic(p, name, ts), q, listener);
    if (!r) throw std::runtime_error("DdsPeer: no reader on " + name);
    readers.push_back(r);
  }
};

DdsPeer::DdsPeer(const std::string& serial) : impl_(std::make_unique<Impl>()) {
  std::string suffix = serial;
  for (char& c : suffix) {
    if (c == '-') c = '_';
  }
  Impl& m = *impl_;
  m.def = Participant("quiral_vek_default_node", false);
  m.rt = Participant("quiral_vek_rt_udp_node", true);
  m.heartbeat_writer = m.Writer(m.rt, "rt/quiral_vek/heartbeat/" + suffix,
                                new std_msgs::msg::BoolPubSubType(), false, false);
  m.motion_writer = m.Writer(m.rt, "rt/quiral_vek/motion_commands/" + suffix,
                             new vek_msgs::msg::MotionCommandsPubSubType(), false, true);
  m.Reader(m.rt, "rt/quiral_vek/rt_states/" + suffix, new vek_msgs::msg::RealtimeStatesPubSubType(),
           false, &m.rt_states);
  m.ops_writer = m.Writer(m.def, "rt/quiral_vek/RPC/" + suffix + "_request",
                          new vek_msgs::msg::RPCRequestPubSubType(), true, false);
  m.Reader(m.def, "rt/quiral_vek/RPC/" + suffix + "_reply", new vek_msgs::msg::RPCReplyPubSubType(),
           true, &m.ops_replies);
  m.Reader(m.rt, "rt/quiral_lumo/basic_stream_data/" + suffix,
           new quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType(), false, &m.basic);
  m.Reader(m.rt, "rt/quiral_lumo/extra_stream_data/" + suffix,
           new quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType(), false, &m.extra);
  m.Reader(m.def, "rt/quiral_lumo/robot_log/" + suffix,
           new quiral_lumo_msgs::msg::EventLogPubSubType(), true, &m.events);
  m.data_writer = m.Writer(m.def, "rt/quiral_lumo/non_stream_rpc/" + suffix + "_request",
                           new quiral_lumo_msgs::msg::RPCRequestPubSubType(), true, false);
  m.Reader(m.def, "rt/quiral_lumo/non_stream_rpc/" + suffix + "_reply",
           new quiral_lumo_msgs::msg::RPCReplyPubSubType(), true, &m.data_replies);
}

DdsPeer::~DdsPeer() {
  auto* factory = dds::DomainParticipantFactory::get_instance();
  for (auto* p : {impl_->def, impl_->rt}) {
    p->delete_contained_entities();
    factory->delete_participant(p);
  }
}

bool DdsPeer::WaitMatched(std::chrono::milliseconds timeout) {
  return WaitUntil(
      [this] {
        for (auto* w : impl_->writers) {
          dds::PublicationMatchedStatus s;
          w->get_publication_matched_status(s);
          if (s.current_count < 1) return false;
        }
        for (auto* r : impl_->readers) {
          dds::SubscriptionMatchedStatus s;
          r->get_subscription_matched_status(s);
          if (s.current_count < 1) return false;
        }
        return true;
      },
      timeout, std::chrono::milliseconds(10));
}

bool DdsPeer::SendOps(const vek_msgs::msg::RPCRequest& request) {
  auto copy = request;
  return impl_->ops_writer->write(&copy);
}
bool DdsPeer::SendData(const quiral_lumo_msgs::msg::RPCRequest& request) {
  auto copy = request;
  return impl_->data_writer->write(&copy);
}
bool DdsPeer::SendHeartbeat() {
  std_msgs::msg::Bool b;
  return impl_->heartbeat_writer->write(&b);
}
bool DdsPeer::SendMotion(const vek_msgs::msg::MotionCommands& command) {
  auto copy = command;
  return impl_->motion_writer->write(&copy);
}

std::vector<Received<vek_msgs::msg::RPCReply>> DdsPeer::OpsReplies() { return impl_->ops_replies.Copy(); }
std::vector<Received<quiral_lumo_msgs::msg::RPCReply>> DdsPeer::DataReplies() {
  return impl_->data_replies.Copy();
}
std::vector<Received<vek_msgs::msg::RealtimeStates>> DdsPeer::RtStates() { return impl_->rt_states.Copy(); }
std::vector<Received<quiral_lumo_msgs::msg::AllBasicStreamData>> DdsPeer::BasicStream() {
  return impl_->basic.Copy();
}
std::vector<Received<quiral_lumo_msgs::msg::EventLog>> DdsPeer::Events() { return impl_->events.Copy(); }
size_t DdsPeer::OpsReplyCount() { return impl_->ops_replies.Count(); }
size_t DdsPeer::RtCount() { return impl_->rt_states.Count(); }

bool DdsPeer::CallOps(const vek_msgs::msg::RPCRequest& request, vek_msgs::msg::RPCReply& reply,
                      std::chrono::milliseconds timeout) {
  const size_t before = impl_->ops_replies.Count();
  if (!SendOps(request)) return false;
  if (!WaitUntil([&] { return impl_->ops_replies.Count() > before; }, timeout)) return false;
  reply = impl_->ops_replies.Copy()[before].msg;
  return true;
}

bool DdsPeer::CallData(const quiral_lumo_msgs::msg::RPCRequest& request,
                       quiral_lumo_msgs::msg::RPCReply& reply, std::chrono::milliseconds timeout) {
  const size_t before = impl_->data_replies.Count();
  if (!SendData(request)) return false;
  if (!WaitUntil([&] { return impl_->data_replies.Count() > before; }, timeout)) return false;
  reply = impl_->data_replies.Copy()[before].msg;
  return true;
}

}  // namespace quiral::test
