#include "sim/sim_controller.h"

#include <Eigen/Core>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>
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
#include <fastdds/rtps/common/WriteParams.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <spdlog/spdlog.h>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/event_log.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/std_msgs/bool.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

namespace quiral::sim {

namespace dds = eprosima::fastdds::dds;
using eprosima::fastrtps::types::ReturnCode_t;
using eprosima::fastrtps::rtps::SampleIdentity;
using nlohmann::json;

namespace {

// Takes every sample that is available and hands each valid one on, with
// its sample information.
template <class Msg>
class TakeListener : public dds::DataReaderListener {
 public:
  explicit TakeListener(std::function<void(const Msg&, const dds::SampleInfo&)> on_sample)
      : on_sample_(std::move(on_sample)) {}

  void on_data_available(dds::DataReader* reader) override {
    while (reader->take_next_sample(&buffer_, &info_) == ReturnCode_t::RETCODE_OK) {
      if (info_.valid_data) on_sample_(buffer_, info_);
    }
  }

 private:
  std::function<void(const Msg&, const dds::SampleInfo&)> on_sample_;
  Msg buffer_;
  dds::SampleInfo info_;
};

dds::DomainParticipant* MakeParticipant(const std::string& name, uint32_t domain,
                                        const std::vector<std::string>& whitelist,
                                        bool realtime) {
  dds::DomainParticipantQos qos = dds::PARTICIPANT_QOS_DEFAULT;
  qos.name(name);
  auto& discovery = qos.wire_protocol().builtin.discovery_config;
  discovery.discoveryProtocol = eprosima::fastrtps::rtps::DiscoveryProtocol_t::SIMPLE;
  discovery.use_SIMPLE_EndpointDiscoveryProtocol = true;
  discovery.m_simpleEDP.use_PublicationWriterANDSubscriptionReader = true;
  discovery.m_simpleEDP.use_PublicationReaderANDSubscriptionWriter = true;
  discovery.initial_announcements.count = 100;
  qos.transport().use_builtin_transports = false;
  auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
  for (const auto& address : whitelist) udp->interfaceWhiteList.push_back(address);
  udp->non_blocking_send = realtime;
  // Room for bursts: 1 kHz command streams and one-megabyte uploads (the
  // kernel caps this at net.core.rmem_max).
  udp->receiveBufferSize = 4 * 1024 * 1024;
  qos.transport().user_transports.push_back(udp);
  dds::DomainParticipant* participant =
      dds::DomainParticipantFactory::get_instance()->create_participant(domain, qos);
  if (participant == nullptr) {
    throw std::runtime_error("cannot create DDS participant " + name);
  }
  return participant;
}

// The settings readers and writers share: volatile, keep-last `depth`,
// ten times as many samples in all, no data sharing.
template <class Qos>
void SetCommonQos(Qos& q, dds::ReliabilityQosPolicyKind reliability, int depth,
                  int allocated, eprosima::fastrtps::rtps::MemoryManagementPolicy_t memory) {
  q.durability().kind = dds::VOLATILE_DURABILITY_QOS;
  q.reliability().kind = reliability;
  q.history().kind = dds::KEEP_LAST_HISTORY_QOS;
  q.history().depth = depth;
  q.resource_limits().max_samples = depth * 10;
  q.resource_limits().max_samples_per_instance = depth;
  q.resource_limits().allocated_samples = allocated;
  q.resource_limits().extra_samples = 1;
  q.endpoint().history_memory_policy = memory;
  q.data_sharing().off();
}

// Large replies (files) are held only as big as they are.
eprosima::fastrtps::rtps::MemoryManagementPolicy_t ReliableMemory(bool large) {
  return large ? eprosima::fastrtps::rtps::DYNAMIC_REUSABLE_MEMORY_MODE
               : eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
}

// Reliable, depth 10: the remote-call services and the event log. Written
// synchronously.
dds::DataWriterQos ReliableWriterQos(dds::Publisher* publisher, bool large) {
  dds::DataWriterQos q = publisher->get_default_datawriter_qos();
  SetCommonQos(q, dds::RELIABLE_RELIABILITY_QOS, 10, large ? 1 : 10, ReliableMemory(large));
  q.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
  // Repair lost fragments of large replies quickly.
  q.reliable_writer_qos().times.heartbeatPeriod = eprosima::fastrtps::Duration_t(0, 100000000);
  return q;
}

dds::DataReaderQos ReliableReaderQos(dds::Subscriber* subscriber, bool large) {
  dds::DataReaderQos q = subscriber->get_default_datareader_qos();
  SetCommonQos(q, dds::RELIABLE_RELIABILITY_QOS, 10, large ? 1 : 10, ReliableMemory(large));
  return q;
}

// Best effort, depth 1: periodic samples, written synchronously.
dds::DataWriterQos BestEffortWriterQos(dds::Publisher* publisher) {
  dds::DataWriterQos q = publisher->get_default_datawriter_qos();
  SetCommonQos(q, dds::BEST_EFFORT_RELIABILITY_QOS, 1, 1,
               eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
  q.reliability().max_blocking_time = eprosima::fastrtps::Duration_t(0, 50000);
  q.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
  return q;
}

// Best effort reader; a deeper history than the writers' absorbs bursts of
// a 1 kHz command stream while the listener is busy.
dds::DataReaderQos BestEffortReaderQos(dds::Subscriber* subscriber, int depth) {
  dds::DataReaderQos q = subscriber->get_default_datareader_qos();
  SetCommonQos(q, dds::BEST_EFFORT_RELIABILITY_QOS, depth, depth,
               eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
  return q;
}

}  // namespace

std::string SimController::TopicSuffix(const std::string& serial) {
  std::string s = serial;
  for (char& c : s) {
    if (c == '-') c = '_';
  }
  return s;
}

struct SimController::Impl {
  explicit Impl(const ControllerOptions& o)
      : options(o), robot(o.robot), recorder(o.motion_detail_capacity) {}

  ControllerOptions options;
  RobotSim robot;
  Recorder recorder;
  FaultTable faults;

  dds::DomainParticipant* default_participant = nullptr;
  dds::DomainParticipant* rt_participant = nullptr;
  dds::Publisher* default_publisher = nullptr;
  dds::Subscriber* default_subscriber = nullptr;
  dds::Publisher* rt_publisher = nullptr;
  dds::Subscriber* rt_subscriber = nullptr;

  dds::DataWriter* ops_reply_writer = nullptr;
  dds::DataWriter* data_reply_writer = nullptr;
  dds::DataWriter* event_writer = nullptr;
  dds::DataWriter* rt_writer = nullptr;
  dds::DataWriter* basic_writer = nullptr;
  dds::DataWriter* extra_writer = nullptr;
  dds::DataReader* ops_reader = nullptr;
  dds::DataReader* data_reader = nullptr;
  dds::DataReader* heartbeat_reader = nullptr;
  dds::DataReader* motion_reader = nullptr;

  std::unique_ptr<TakeListener<vek_msgs::msg::RPCRequest>> ops_listener;
  std::unique_ptr<TakeListener<quiral_lumo_msgs::msg::RPCRequest>> data_listener;
  std::unique_ptr<TakeListener<std_msgs::msg::Bool>> heartbeat_listener;
  std::unique_ptr<TakeListener<vek_msgs::msg::MotionCommands>> motion_listener;
  // The partner's basic stream while an object is held; the listener lives
  // as long as the participants.
  std::mutex partner_mu;
  dds::Topic* partner_topic = nullptr;
  dds::DataReader* partner_reader = nullptr;
  std::unique_ptr<TakeListener<quiral_lumo_msgs::msg::AllBasicStreamData>> partner_listener;

  std::atomic<bool> stopping{false};
  std::atomic<bool> publish_rt{true}, publish_basic{true}, publish_extra{true};
  std::atomic<uint64_t> published_rt{0}, published_basic{0}, published_extra{0};
  // Whether replies name the request they answer (taken when the request
  // arrives).
  std::atomic<bool> related_identity{true};

  // Publication thread.
  std::thread publisher_thread;
  std::mutex run_mu;
  std::condition_variable run_cv;
  bool running = false;

  // Reply thread: replies ordered by due time, then by arrival.
  struct Outgoing {
    Clock::time_point due;
    uint64_t order;
    std::shared_ptr<vek_msgs::msg::RPCReply> ops;
    std::shared_ptr<quiral_lumo_msgs::msg::RPCReply> data;
    // The request answered; unknown: the reply names none.
    SampleIdentity request;
    bool operator>(const Outgoing& o) const {
      return due != o.due ? due > o.due : order > o.order;
    }
  };
  std::thread reply_thread;
  std::mutex reply_mu;
  std::condition_variable reply_cv;
  std::priority_queue<Outgoing, std::vector<Outgoing>, std::greater<Outgoing>> replies;
  uint64_t reply_order = 0;

  std::mutex event_mu;

  dds::Topic* MakeTopic(dds::DomainParticipant* p, const std::string& name,
                        dds::TopicDataType* type_support) {
    dds::TypeSupport type(type_support);
    type.register_type(p);
    dds::Topic* topic = p->create_topic(name, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
    if (topic == nullptr) throw std::runtime_error("cannot create DDS topic " + name);
    return topic;
  }

  dds::DataWriter* MakeWriter(dds::Publisher* pub, dds::Topic* topic,
                              const dds::DataWriterQos& qos) {
    dds::DataWriter* w = pub->create_datawriter(topic, qos);
    if (w == nullptr) throw std::runtime_error("cannot create DDS writer on " + topic->get_name());
    return w;
  }

  dds::DataReader* MakeReader(dds::Subscriber* sub, dds::Topic* topic,
                              const dds::DataReaderQos& qos, dds::DataReaderListener* listener) {
    dds::DataReader* r = sub->create_datareader(topic, qos, listener);
    if (r == nullptr) throw std::runtime_error("cannot create DDS reader on " + topic->get_name());
    return r;
  }

  void Create() {
    const std::string& serial = options.robot.serial;
    const std::string suffix = TopicSuffix(serial);
    default_participant = MakeParticipant("quiral_sim_default_node_" + suffix, options.domain,
                                          options.whitelist, false);
    rt_participant = MakeParticipant("quiral_sim_rt_udp_node_" + suffix, options.domain,
                                     options.whitelist, true);
    default_publisher = default_participant->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
    default_subscriber = default_participant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
    rt_publisher = rt_participant->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
    rt_subscriber = rt_participant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
    if (!default_publisher || !default_subscriber || !rt_publisher || !rt_subscriber) {
      throw std::runtime_error("cannot create DDS publisher or subscriber");
    }

    // Operations service.
    ops_listener = std::make_unique<TakeListener<vek_msgs::msg::RPCRequest>>(
        [this](const vek_msgs::msg::RPCRequest& r, const dds::SampleInfo& info) {
          OnOpsRequest(r, info.sample_identity);
        });
    ops_reader = MakeReader(default_subscriber,
               MakeTopic(default_participant, "rt/quiral_vek/RPC/" + suffix + "_request",
                         new vek_msgs::msg::RPCRequestPubSubType()),
               ReliableReaderQos(default_subscriber, true), ops_listener.get());
    ops_reply_writer = MakeWriter(
        default_publisher,
        MakeTopic(default_participant, "rt/quiral_vek/RPC/" + suffix + "_reply",
                  new vek_msgs::msg::RPCReplyPubSubType()),
        ReliableWriterQos(default_publisher, true));

    // Data service.
    data_listener = std::make_unique<TakeListener<quiral_lumo_msgs::msg::RPCRequest>>(
        [this](const quiral_lumo_msgs::msg::RPCRequest& r, const dds::SampleInfo& info) {
          OnDataRequest(r, info.sample_identity);
        });
    data_reader = MakeReader(default_subscriber,
               MakeTopic(default_participant, "rt/quiral_lumo/non_stream_rpc/" + suffix + "_request",
                         new quiral_lumo_msgs::msg::RPCRequestPubSubType()),
               ReliableReaderQos(default_subscriber, false), data_listener.get());
    data_reply_writer = MakeWriter(
        default_publisher,
        MakeTopic(default_participant, "rt/quiral_lumo/non_stream_rpc/" + suffix + "_reply",
                  new quiral_lumo_msgs::msg::RPCReplyPubSubType()),
        ReliableWriterQos(default_publisher, false));

    // Event log. Written synchronously: with the library's asynchronous
    // sending thread, a reader that goes away while entries are being
    // written (a client torn down during a flood of entries) can deadlock
    // the writer inside the DDS library.
    dds::DataWriterQos event_qos = ReliableWriterQos(default_publisher, false);
    event_qos.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
    event_writer = MakeWriter(default_publisher,
                              MakeTopic(default_participant, "rt/quiral_lumo/robot_log/" + suffix,
                                        new quiral_lumo_msgs::msg::EventLogPubSubType()),
                              event_qos);

    // Real-time traffic.
    heartbeat_listener = std::make_unique<TakeListener<std_msgs::msg::Bool>>(
        [this](const std_msgs::msg::Bool&, const dds::SampleInfo&) {
          recorder.RecordHeartbeat(MonotonicNs(Clock::now()));
        });
    heartbeat_reader = MakeReader(rt_subscriber,
               MakeTopic(rt_participant, "rt/quiral_vek/heartbeat/" + suffix,
                         new std_msgs::msg::BoolPubSubType()),
               BestEffortReaderQos(rt_subscriber, 10), heartbeat_listener.get());
    motion_listener = std::make_unique<TakeListener<vek_msgs::msg::MotionCommands>>(
        [this](const vek_msgs::msg::MotionCommands& m, const dds::SampleInfo&) {
          const uint64_t t = MonotonicNs(Clock::now());
          const bool applied = robot.ApplyMotionCommand(m);
          recorder.RecordMotion(t, m, applied);
        });
    motion_reader = MakeReader(rt_subscriber,
               MakeTopic(rt_participant, "rt/quiral_vek/motion_commands/" + suffix,
                         new vek_msgs::msg::MotionCommandsPubSubType()),
               BestEffortReaderQos(rt_subscriber, 100), motion_listener.get());
    rt_writer = MakeWriter(rt_publisher,
                           MakeTopic(rt_participant, "rt/quiral_vek/rt_states/" + suffix,
                                     new vek_msgs::msg::RealtimeStatesPubSubType()),
                           BestEffortWriterQos(rt_publisher));
    basic_writer =
        MakeWriter(rt_publisher,
                   MakeTopic(rt_participant, "rt/quiral_lumo/basic_stream_data/" + suffix,
                             new quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType()),
                   BestEffortWriterQos(rt_publisher));
    extra_writer =
        MakeWriter(rt_publisher,
                   MakeTopic(rt_participant, "rt/quiral_lumo/extra_stream_data/" + suffix,
                             new quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType()),
                   BestEffortWriterQos(rt_publisher));
  }

  void DropPartnerReader() {
    if (partner_reader != nullptr) rt_subscriber->delete_datareader(partner_reader);
    if (partner_topic != nullptr) rt_participant->delete_topic(partner_topic);
    partner_reader = nullptr;
    partner_topic = nullptr;
  }

  void MakePartnerReader(const std::string& partner) {
    if (!partner_listener) {
      partner_listener = std::make_unique<TakeListener<quiral_lumo_msgs::msg::AllBasicStreamData>>(
          [this](const quiral_lumo_msgs::msg::AllBasicStreamData& m, const dds::SampleInfo&) {
            const auto& p = m.cartesian().tcp_pose();
            robot.TakePartnerTcp(Eigen::Vector3d(p[0], p[1], p[2]));
          });
    }
    partner_topic =
        MakeTopic(rt_participant, "rt/quiral_lumo/basic_stream_data/" + TopicSuffix(partner),
                  new quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType());
    partner_reader = MakeReader(rt_subscriber, partner_topic,
                                BestEffortReaderQos(rt_subscriber, 1), partner_listener.get());
  }

  void Destroy() {
    auto* factory = dds::DomainParticipantFactory::get_instance();
    for (dds::DomainParticipant* p : {default_participant, rt_participant}) {
      if (p == nullptr) continue;
      p->delete_contained_entities();
      factory->delete_participant(p);
    }
    default_participant = rt_participant = nullptr;
  }

  void Enqueue(Clock::time_point due, int copies, std::shared_ptr<vek_msgs::msg::RPCReply> ops,
               std::shared_ptr<quiral_lumo_msgs::msg::RPCReply> data,
               const SampleIdentity& request) {
    {
      std::lock_guard<std::mutex> lock(reply_mu);
      for (int i = 0; i < copies; ++i) replies.push({due, reply_order++, ops, data, request});
    }
    reply_cv.notify_one();
  }

  void OnOpsRequest(const vek_msgs::msg::RPCRequest& request, const SampleIdentity& identity) {
    if (stopping) return;
    const Clock::time_point now = Clock::now();
    recorder.RecordOps(MonotonicNs(now), request);
    auto reply = std::make_shared<vek_msgs::msg::RPCReply>();
    const std::optional<FaultRule> rule = faults.Take(Service::kOps, request.procedure_id());
    if (rule && rule->kind == FaultKind::kFail) {
      // Refused: nothing is carried out.
      reply->procedure_id(request.procedure_id());
      reply->success(false);
    } else {
      robot.HandleOps(request, *reply);
    }
    Answer(now, rule, std::move(reply), nullptr, identity);
  }

  void OnDataRequest(const quiral_lumo_msgs::msg::RPCRequest& request,
                     const SampleIdentity& identity) {
    if (stopping) return;
    const Clock::time_point now = Clock::now();
    recorder.RecordData(MonotonicNs(now), request.request_id());
    auto reply = std::make_shared<quiral_lumo_msgs::msg::RPCReply>();
    const std::optional<FaultRule> rule = faults.Take(Service::kData, request.request_id());
    if (rule && rule->kind == FaultKind::kFail) {
      reply->request_id(request.request_id());
      reply->success(false);
    } else {
      robot.HandleData(request, *reply);
    }
    Answer(now, rule, nullptr, std::move(reply), identity);
  }

  // Queues the reply of one service (the other pointer is null) to the
  // request `identity` as the fault rule, if any, has it: not at all, late,
  // altered or repeated.
  void Answer(Clock::time_point received, const std::optional<FaultRule>& rule,
              std::shared_ptr<vek_msgs::msg::RPCReply> ops,
              std::shared_ptr<quiral_lumo_msgs::msg::RPCReply> data,
              const SampleIdentity& identity) {
    int copies = 1;
    Clock::time_point due = received;
    if (rule) {
      if (rule->kind == FaultKind::kNoReply) return;
      if (ops) ApplyFault(*rule, *ops);
      if (data) ApplyFault(*rule, *data);
      due += std::chrono::milliseconds(rule->delay_ms);
      if (rule->kind == FaultKind::kDuplicateReply) copies = rule->copies;
    }
    Enqueue(due, copies, std::move(ops), std::move(data),
            related_identity ? identity : SampleIdentity::unknown());
  }

  void ReplyLoop() {
    std::unique_lock<std::mutex> lock(reply_mu);
    while (true) {
      if (stopping) return;
      if (replies.empty()) {
        reply_cv.wait(lock);
        continue;
      }
      const Clock::time_point due = replies.top().due;
      if (Clock::now() < due) {
        reply_cv.wait_until(lock, due);
        continue;
      }
      Outgoing out = replies.top();
      replies.pop();
      lock.unlock();
      // A reply names its request as the related sample identity.
      eprosima::fastrtps::rtps::WriteParams params;
      params.related_sample_identity(out.request);
      if (out.ops) {
        ops_reply_writer->write(out.ops.get(), params);
      } else if (out.data) {
        data_reply_writer->write(out.data.get(), params);
      }
      lock.lock();
    }
  }

  void PublishLoop() {
    vek_msgs::msg::RealtimeStates rt;
    quiral_lumo_msgs::msg::AllBasicStreamData basic;
    quiral_lumo_msgs::msg::AllExtraStreamData extra;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options.rate_hz));
    Clock::time_point next = Clock::now();
    std::unique_lock<std::mutex> lock(run_mu);
    while (running) {
      next += period;
      const Clock::time_point now = Clock::now();
      if (now > next + 5 * period) next = now;  // fell far behind: do not catch up
      if (run_cv.wait_until(lock, next, [this] { return !running; })) break;
      lock.unlock();
      robot.Step(Clock::now(), rt, basic, extra);
      if (publish_rt && rt_writer->write(&rt)) ++published_rt;
      if (publish_basic && basic_writer->write(&basic)) ++published_basic;
      if (publish_extra && extra_writer->write(&extra)) ++published_extra;
      lock.lock();
    }
  }
};

SimController::SimController(const ControllerOptions& options)
    : impl_(std::make_unique<Impl>(options)) {
  if (!(options.rate_hz >= 1.0 && options.rate_hz <= 10000.0)) {
    throw std::invalid_argument("the publication rate must be 1 to 10000 Hz");
  }
  try {
    impl_->Create();
  } catch (...) {
    impl_->Destroy();
    throw;
  }
}

SimController::~SimController() {
  Stop();
  impl_->stopping = true;
  impl_->Destroy();
}

void SimController::Start() {
  {
    std::lock_guard<std::mutex> lock(impl_->run_mu);
    if (impl_->running) return;
    impl_->running = true;
  }
  impl_->publisher_thread = std::thread([this] { impl_->PublishLoop(); });
  impl_->reply_thread = std::thread([this] { impl_->ReplyLoop(); });
}

void SimController::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->run_mu);
    impl_->running = false;
  }
  impl_->run_cv.notify_all();
  if (impl_->publisher_thread.joinable()) impl_->publisher_thread.join();
  {
    std::lock_guard<std::mutex> lock(impl_->reply_mu);
    impl_->stopping = true;
  }
  impl_->reply_cv.notify_all();
  if (impl_->reply_thread.joinable()) impl_->reply_thread.join();
}

const std::string& SimController::serial() const { return impl_->robot.serial(); }
RobotSim& SimController::robot() { return impl_->robot; }
Recorder& SimController::recorder() { return impl_->recorder; }
FaultTable& SimController::faults() { return impl_->faults; }

void SimController::SetPublishing(const std::vector<std::string>& topics, bool on) {
  for (const auto& t : topics) {
    if (t != "rt_states" && t != "basic_stream" && t != "extra_stream") {
      throw std::invalid_argument("unknown periodic topic '" + t + "'");
    }
  }
  auto wanted = [&topics](const char* name) {
    if (topics.empty()) return true;
    for (const auto& t : topics) {
      if (t == name) return true;
    }
    return false;
  };
  if (wanted("rt_states")) impl_->publish_rt = on;
  if (wanted("basic_stream")) impl_->publish_basic = on;
  if (wanted("extra_stream")) impl_->publish_extra = on;
}

void SimController::HoldObject(const json& fields) {
  std::optional<HeldObject> object;
  if (!fields.is_null()) object = HeldObjectFromJson(fields, serial());
  std::lock_guard<std::mutex> lock(impl_->partner_mu);
  impl_->DropPartnerReader();
  impl_->robot.SetHeldObject(object);
  if (object) impl_->MakePartnerReader(object->partner);
}

void SimController::SetRelatedIdentity(bool on) { impl_->related_identity = on; }
bool SimController::related_identity() const { return impl_->related_identity; }

json SimController::MatchedJson() {
  auto writer = [](dds::DataWriter* w) {
    dds::PublicationMatchedStatus st;
    w->get_publication_matched_status(st);
    return st.current_count;
  };
  auto reader = [](dds::DataReader* r) {
    dds::SubscriptionMatchedStatus st;
    r->get_subscription_matched_status(st);
    return st.current_count;
  };
  return {{"ops_requests", reader(impl_->ops_reader)},
          {"ops_replies", writer(impl_->ops_reply_writer)},
          {"data_requests", reader(impl_->data_reader)},
          {"data_replies", writer(impl_->data_reply_writer)},
          {"event_log", writer(impl_->event_writer)},
          {"heartbeat", reader(impl_->heartbeat_reader)},
          {"motion_commands", reader(impl_->motion_reader)},
          {"rt_states", writer(impl_->rt_writer)},
          {"basic_stream", writer(impl_->basic_writer)},
          {"extra_stream", writer(impl_->extra_writer)}};
}

json SimController::PublishingJson() {
  return {{"rt_states", {{"on", impl_->publish_rt.load()}, {"count", impl_->published_rt.load()}}},
          {"basic_stream",
           {{"on", impl_->publish_basic.load()}, {"count", impl_->published_basic.load()}}},
          {"extra_stream",
           {{"on", impl_->publish_extra.load()}, {"count", impl_->published_extra.load()}}},
          {"rate_hz", impl_->options.rate_hz}};
}

bool SimController::PublishEvent(uint16_t level, int32_t id, const std::string& description,
                                 const std::string& consequences,
                                 const std::string& probable_causes,
                                 const std::string& recommended_actions) {
  quiral_lumo_msgs::msg::EventLog event;
  event.level(level);
  event.id(id);
  event.description(description);
  event.consequences(consequences);
  event.probable_causes(probable_causes);
  event.recommended_actions(recommended_actions);
  std::lock_guard<std::mutex> lock(impl_->event_mu);
  return impl_->event_writer->write(&event);
}

}  // namespace quiral::sim
