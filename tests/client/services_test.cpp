// The operations and data services of a lite client against the simulated
// controller: what each call puts on the wire, how every reply is decoded,
// and how bad or missing replies end as FAULT without an exception and
// with the caller's values left as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <zlib.h>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

using quiral::vek::RobotInfo;
using quiral::vek::ToolParams;
using quiral::vek_impl::OperationsRPC;

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
  return crc32_z(0, bytes.data(), bytes.size());
}

const std::string kNoReply = "Failed to send remote call or server reply timeout";
const std::string kRefused = "Remote procedure failed";

// A call's outputs as text: numbers as "%g" separated by blanks, texts by
// "|", the parts of a structure by " / ".
template <class T>
std::string Render(const T& value) {
  if constexpr (std::is_arithmetic_v<T>) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return value;
  } else {
    std::string out;
    const char* separator = std::is_same_v<typename T::value_type, std::string> ? "|" : " ";
    bool first = true;
    for (const auto& item : value) {
      out += (first ? "" : separator) + Render(item);
      first = false;
    }
    return out;
  }
}
std::string Render(const std::vector<uint8_t>& bytes) {
  return std::to_string(bytes.size()) + " " + std::to_string(Crc32(bytes));
}
std::string Render(const RobotInfo& i) {
  return Render(std::vector<size_t>{i.DoF_e, i.DoF_m, i.DoF, i.reply_flag}) + " / " +
         Render(i.q_max) + " / " + Render(i.q_min) + " / " + Render(i.joint_limit_3) + " / " +
         Render(i.tau_max);
}
std::string Render(const ToolParams& t) {
  return Render(t.mass) + " / " + Render(t.CoM) + " / " + Render(t.inertia) + " / " +
         Render(t.tcp_location);
}
std::string Render(const quiral::vek::PlanInfo& i) {
  return Render(std::vector<std::string>{i.item_0, i.item_2, i.item_3}) + " " + Render(i.item_6) +
         " " + Render(i.item_7);
}
template <class A, class B>
std::string Render(const std::pair<A, B>& p) {
  return Render(p.first) + " " + Render(p.second);
}
template <class T>
std::string Outcome(const QorState& state, const T& output) {
  return (state.code == kOk ? "OK " : state.code == kFault ? "FAULT " : "? ") + Render(output);
}
// A decoder call on outputs that hold `kept` before it, and its outcome.
template <class T, class F>
std::function<std::string()> With(T kept, F call) {
  return [kept, call] {
    T out = kept;
    const QorState state = call(out);
    return Outcome(state, out);
  };
}
json Custom(const json& reply) { return {{"kind", "custom_reply"}, {"reply", reply}}; }

class Services : public ::testing::Test {
 protected:
  Services() : env_(/*lite=*/true) {}
  void SetUp() override {
    ASSERT_TRUE(env_.sim.WaitMatched(
        env_.serial, 5s, {"ops_requests", "ops_replies", "data_requests", "data_replies"}));
  }
  OperationsRPC& ops() { return env_.client->operations_rpc; }
  quiral::vek_impl::LUMODataRpc& data() { return env_.client->lumo_data_rpc; }

  // Recorded requests of one operations procedure or data-service request.
  json Requests(int id, const std::string& service = "ops") {
    return service == "ops"
               ? env_.sim.Command("requests",
                                  {{"serial", env_.serial}, {"procedure_id", id}})["items"]
               : env_.sim.Command("data_requests",
                                  {{"serial", env_.serial}, {"request_id", id}})["items"];
  }
  size_t RequestTotal() { return env_.sim.Requests(env_.serial)["total"].get<size_t>(); }
  void Fault(int id, json rule, const std::string& service = "ops") {
    rule["service"] = service;
    rule[service == "ops" ? "procedure_id" : "request_id"] = id;
    env_.sim.Fault(env_.serial, rule);
  }

  // Expects the outcome of `call` with the controller's own reply, with
  // every list one entry short and one entry too long, and with more
  // replies (fault rules); an empty outcome is not tried.
  void Expect(const std::string& service, int id, const std::function<std::string()>& call,
              const std::string& good, const std::string& short_lists, const std::string& oversized,
              const std::vector<std::pair<json, std::string>>& more = {}) {
    std::vector<std::pair<json, std::string>> replies = {
        {nullptr, good},
        {{{"kind", "short_lists"}}, short_lists},
        {{{"kind", "oversized_lists"}}, oversized}};
    replies.insert(replies.end(), more.begin(), more.end());
    for (const auto& [rule, expected] : replies) {
      if (expected.empty()) continue;
      SCOPED_TRACE(service + " " + std::to_string(id) + " " + rule.dump());
      if (!rule.is_null()) Fault(id, rule, service);
      EXPECT_EQ(call(), expected);
    }
  }

  LogCapture log_;  // outlives the client
  SimClient env_;
};

TEST_F(Services, EveryDecoderWithGoodShortOversizedAndHandMadeReplies) {
  // Fixed answers where the controller would compute them.
  env_.sim.Set(env_.serial,
               {{"manipulability", {9, 9, 1, 2, 3, 4, 5, 6}},
                {"reachability", {{"reachable", true}, {"solution", {1, 2, 3, 4, 5, 6, 7}}}}});
  const json file = env_.sim.Command(
      "files",
      {{"serial", env_.serial}, {"store", "trajectory"}, {"with_bytes", false}})["files"][0];
  const std::string name = file["name"];  // "sample.traj"
  const std::string file_ok = "OK " + file["size"].dump() + " " + file["crc32"].dump();
  RobotInfo info;
  info.DoF = 99;
  const std::vector<uint8_t> bytes{1, 2, 3};
  const std::string no_info = Outcome(QorState{kFault, nullptr}, info);
  const std::string no_file = Outcome(QorState{kFault, nullptr}, bytes);
  quiral::vek::PlanInfo plan;
  plan.item_0 = "kept";
  const std::string no_plan = "FAULT kept|| 0 0";
  ToolParams tool;
  tool.tcp_location.fill(9);
  const std::array<double, 3> nines{9, 9, 9};
  std::vector<float> blocks(28);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<float>(i) + 0.5f;
  auto plan_texts = [](const char* six, const char* seven) {
    return Custom({{"string_container", {"x", "b", "c", "d", "e", "f", six, seven}}});
  };
  auto& o = ops();
  auto& d = data();

  Expect("ops", 3, With(std::string("kept"), [&](auto& v) { return o.RequestServerVersion(v); }),
         "OK v1.9.3", "FAULT kept", "OK v1.9.3");
  Expect(
      "ops", 6, With(info, [&](auto& i) { return o.RequestRobotInfo(i); }),
      "OK 0 7 7 1 / 2.79 2.27 2.96 2.67 2.96 4.54 2.96 / -2.79 -2.27 -2.96 -2.67 "
      "-2.96 -1.4 -2.96 / 2 2.1 2.2 2.3 2.4 2.5 2.6 / 123 123 64 64 39 39 39",
      no_info, no_info,
      {// The four blocks in order, upper limits first.
       {Custom({{"string_container", {"srv"}},
                {"int_container", {1, 6, 7, 0}},
                {"float_container", blocks}}),
        "OK 1 6 7 0 / 0.5 1.5 2.5 3.5 4.5 5.5 6.5 / 7.5 8.5 9.5 10.5 11.5 12.5 13.5 / 14.5 "
        "15.5 16.5 17.5 18.5 19.5 20.5 / 21.5 22.5 23.5 24.5 25.5 26.5 27.5"},
       // Counts from the controller are checked before they size anything.
       {Custom({{"int_container", {0, -1, -1, 1}}, {"float_container", json::array()}}), no_info},
       {Custom({{"int_container", {1, 6, 8, 1}}}), no_info},
       {Custom({{"int_container", {0, 2147483647, 2147483647, 1}},
                {"float_container", json::array()}}),
        no_info},
       {Custom({{"float_container", std::vector<float>(27, 1.0f)}}), no_info}});
  Expect("ops", 45,
         With(std::make_pair(true, false),
              [&](auto& s) { return o.RequestDeviceStatus("SimGripper", s); }),
         "OK 0 1", "FAULT 1 0", "OK 0 1");
  Expect("ops", 53,
         With(std::array<double, 7>{9, 9, 9, 9, 9, 9, 9},
              [&](auto& p) { return o.RequestWorkCoordPose("Table", p); }),
         "OK 0.5 0 0.1 1 0 0 0", "FAULT 9 9 9 9 9 9 9", "FAULT 9 9 9 9 9 9 9");
  Expect("ops", 23,
         With(std::vector<std::string>{"old"}, [&](auto& l) { return o.RequestStringList(Proc(23), l); }),
         "OK HomePlan|MainPlan|WaitPlan", "OK HomePlan|MainPlan",
         "OK HomePlan|MainPlan|WaitPlan|extra");
  Expect("ops", 62, With(bytes, [&](auto& b) { return o.RequestFile(Proc(62), name, b); }), file_ok,
         no_file, file_ok,
         {{{{"kind", "bad_crc"}}, no_file},
          {Custom({{"string_container", {"Sample.traj"}}}), no_file},
          {Custom({{"int_container", json::array()}}), no_file},
          {Custom({{"string_container", {name}}, {"int_container", {0}}, {"raw_bytes_base64", ""}}),
           "OK 0 0"},
          // "123456789": a CRC above 2^31 travels as a negative integer.
          {Custom({{"string_container", {name}},
                   {"int_container", {-873187034}},
                   {"raw_bytes_base64", "MTIzNDU2Nzg5"}}),
           "OK 9 3421780262"}});
  Expect("ops", 10,
         With(std::make_pair(true, std::vector<double>{}),
              [&](auto& r) {
                return o.RequestReachability({0.4, 0.1, 0.5, 0, 1, 0, 0},
                                             std::vector<double>(7, 0.5), true, r);
              }),
         "OK 1 1 2 3 4 5 6 7", "FAULT 1 ", "FAULT 1 ",
         {{Custom({{"int_container", {0}}, {"float_container", {7, 6, 5, 4, 3, 2, 1}}}),
           "OK 0 7 6 5 4 3 2 1"}});
  // Tools: the active one (no name), one by name, and the calibration
  // result, which leaves the tool centre point alone.
  Expect("ops", 34,
         With(std::make_pair(std::string("kept"), tool),
              [&](auto& t) { return o.RequestToolParams("", t.first, t.second); }),
         "OK Flange 0 / 0 0 0 / 0 0 0 0 0 0 / 0 0 0 1 0 0 0", "", "");
  Expect("ops", 35,
         With(std::make_pair(std::string("kept"), tool),
              [&](auto& t) { return o.RequestToolParams("SimTool", t.first, t.second); }),
         "OK SimTool 0.5 / 0 0 0.05 / 0.001 0.001 0.0005 0 0 0 / 0 0 0.12 1 0 0 0", "", "",
         {{Custom({{"tool_params",
                    {{"name", "T"},
                     {"mass", 1.25},
                     {"CoM", {0.5, 0, -0.5}},
                     {"inertia", {1, 2, 3, 4, 5, 6}},
                     {"tcp_location", {0, 0, 0.25, 1, 0, 0, 0}}}}}),
           "OK T 1.25 / 0.5 0 -0.5 / 1 2 3 4 5 6 / 0 0 0.25 1 0 0 0"}});
  Expect("ops", 37, With(tool, [&](auto& t) { return o.RequestToolPayloadCaliResult(t); }),
         "OK 0.5 / 0 0 0.05 / 0.001 0.001 0.0005 0 0 0 / 9 9 9 9 9 9 9", "", "");

  Expect("data", 1, With(std::string("kept"), [&](auto& v) { return d.RequestLUMOVersion(v); }),
         "OK LUMO:v1.4", "FAULT kept", "OK LUMO:v1.4");
  Expect("data", 2,
         With(std::vector<std::string>{"old"}, [&](auto& l) { return d.RequestPtStates(l); }),
         "OK ", "", "",
         {{Custom({{"string_container", {"reachedTarget = 1", "timePeriod = 0.5"}}}),
           "OK reachedTarget = 1|timePeriod = 0.5"}});
  Expect("data", 3, With(plan, [&](auto& i) { return d.RequestPlanInfo(i); }), "OK ||0 1 0",
         no_plan, no_plan,
         {{Custom({{"string_container", {"p", "n", "a/b", "1.5", "3", "p", " 0.5xyz", "1"}}}),
           "OK p|a/b|1.5 0.5 1"},
          // Texts that are not numbers are a bad reply, not an exception.
          {plan_texts("abc", "1"), no_plan},
          {plan_texts("1e999", "1"), no_plan},
          {plan_texts("0.5", "99999999999"), no_plan}});
  // Floats 2 to 4 and 5 to 7.
  Expect("data", 8,
         With(std::make_pair(nines, nines),
              [&](auto& m) { return d.RequestManipulability(m.first, m.second); }),
         "OK 1 2 3 4 5 6", "FAULT 9 9 9 9 9 9", "OK 1 2 3 4 5 6",
         {{Custom({{"float_container", {0, 0, 7, 8, 9, 10, 11, 12, 13}}}), "OK 7 8 9 10 11 12"}});

  EXPECT_EQ(log_.Count(spdlog::level::err,
                       "[quiral::vek::Robot] Concatenated float container has invalid total size"),
            3);
  EXPECT_EQ(log_.Count(spdlog::level::err,
                       "[quiral::vek::Robot] Size of plan info container is incorrect"),
            2);
  // What the calls put on the wire.
  EXPECT_EQ(Requests(45)[0]["string_args"], json({"SimGripper"}));
  EXPECT_EQ(Requests(53)[0]["string_args"], json({"Table"}));
  EXPECT_EQ(Requests(62)[0]["long_string"], name);
  EXPECT_EQ(Requests(35)[0]["tool_params"]["name"], "SimTool");
  EXPECT_EQ(Requests(10)[0]["int_args"], json({1}));
  EXPECT_EQ(Render(Requests(10)[0]["float_args"].get<std::vector<float>>()),
            "0.4 0.1 0.5 0 1 0 0 0.5 0.5 0.5 0.5 0.5 0.5 0.5");
}

TEST_F(Services, GeneralCallArgumentsRefusalsAndOtherIds) {
  EXPECT_EQ(ops().GeneralCall(Proc(20), "", {55}, {}, {}).code, kOk);
  EXPECT_EQ(env_.sim.State(env_.serial)["velocity_scale"], 55);
  EXPECT_EQ(ops().SwitchCtrlMode(qor::ExtCtrlMode::IDLE).code, kOk);
  EXPECT_EQ(Requests(7)[0]["int_args"], json({1}));

  // An unknown procedure: refused once, and the call ends at once. The
  // long text is cut at 10000 characters, and a text stops at a NUL.
  const auto t0 = Clock::now();
  EXPECT_EQ(ops()
                .GeneralCall(Proc(99), std::string(10000, 'a') + "bb", {1, -2, 2147483647},
                             {0.5f, -1e30f}, {"x", "", "yz"})
                .code,
            kFault);
  EXPECT_LT(SecondsSince(t0), 1.0);
  ops().GeneralCall(Proc(98), std::string("abc\0def", 7), {}, {}, {});
  const json reqs = Requests(99);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0]["long_string"], std::string(10000, 'a'));
  EXPECT_EQ(reqs[0]["int_args"], json({1, -2, 2147483647}));
  EXPECT_EQ(reqs[0]["float_args"].get<std::vector<float>>(), (std::vector<float>{0.5f, -1e30f}));
  EXPECT_EQ(reqs[0]["string_args"], json({"x", "", "yz"}));
  EXPECT_EQ(Requests(98)[0]["long_string"], "abc");

  // A refusal, or a reply with another id (also one that matches only in
  // its low 16 bits), ends the call without a retry.
  Fault(20, {{"kind", "fail"}});
  EXPECT_EQ(ops().GeneralCall(Proc(20), "", {10}, {}, {}).code, kFault);
  EXPECT_EQ(env_.sim.State(env_.serial)["velocity_scale"], 55);
  Fault(20, {{"kind", "wrong_id"}});
  EXPECT_EQ(ops().GeneralCall(Proc(20), "", {10}, {}, {}).code, kFault);
  Fault(20, {{"kind", "wrong_id"}, {"reply_id", 65536 + 20}});
  EXPECT_EQ(ops().GeneralCall(Proc(20), "", {10}, {}, {}).code, kFault);
  Fault(1, {{"kind", "fail"}}, "data");
  std::string version;
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  Fault(1, {{"kind", "wrong_id"}}, "data");
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  EXPECT_EQ(Requests(20).size(), 4u);
  EXPECT_EQ(Requests(1, "data").size(), 2u);
  EXPECT_EQ(log_.Count(kRefused), 7);
  EXPECT_EQ(log_.Count(kNoReply), 0);

  // A duplicated reply is one answer.
  Fault(20, {{"kind", "duplicate_reply"}, {"copies", 3}});
  EXPECT_EQ(ops().GeneralCall(Proc(20), "", {30}, {}, {}).code, kOk);
  EXPECT_EQ(ops().GeneralCall(Proc(20), "", {40}, {}, {}).code, kOk);
  EXPECT_TRUE(env_.sim.WaitForState(
      env_.serial, [](const json& s) { return s["velocity_scale"] == 40; }, 2s));
}

TEST_F(Services, ASilentProcedureIsTriedThreeTimesASilentDataCallOnce) {
  Fault(3, {{"kind", "no_reply"}, {"count", -1}});
  std::string version = "kept";
  auto t0 = Clock::now();
  EXPECT_EQ(ops().RequestServerVersion(version).code, kFault);
  EXPECT_GE(SecondsSince(t0), 5.95);
  EXPECT_LT(SecondsSince(t0), 7.5);
  const json reqs = Requests(3);
  ASSERT_EQ(reqs.size(), 3u);
  // No pause between attempts: each follows the previous time-out.
  for (size_t i = 1; i < reqs.size(); ++i) {
    const double gap = (reqs[i]["t_ns"].get<int64_t>() - reqs[i - 1]["t_ns"].get<int64_t>()) / 1e9;
    EXPECT_GE(gap, 1.95);
    EXPECT_LT(gap, 2.4);
  }

  Fault(1, {{"kind", "no_reply"}, {"count", -1}}, "data");
  t0 = Clock::now();
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  EXPECT_GE(SecondsSince(t0), 1.95);
  EXPECT_LT(SecondsSince(t0), 2.8);
  EXPECT_EQ(Requests(1, "data").size(), 1u);
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(log_.Count(spdlog::level::debug, kNoReply), 2);
}

TEST_F(Services, AnAnswerToALaterAttemptIsTaken) {
  // Two attempts go unanswered; the third is answered.
  Fault(3, {{"kind", "no_reply"}, {"count", 2}});
  std::string version;
  auto t0 = Clock::now();
  EXPECT_EQ(ops().RequestServerVersion(version).code, kOk);
  EXPECT_GE(SecondsSince(t0), 3.95);
  EXPECT_LT(SecondsSince(t0), 5.0);
  EXPECT_EQ(version, "v1.9.3");
  EXPECT_EQ(Requests(3).size(), 3u);

  // The late answer to the first attempt is taken by the second one, which
  // is itself never answered.
  Fault(23, {{"kind", "late_reply"}, {"delay_ms", 2500}});
  Fault(23, {{"kind", "no_reply"}});
  std::vector<std::string> plans;
  t0 = Clock::now();
  EXPECT_EQ(ops().RequestStringList(Proc(23), plans).code, kOk);
  EXPECT_GE(SecondsSince(t0), 2.4);
  EXPECT_LT(SecondsSince(t0), 3.5);
  EXPECT_EQ(plans, (std::vector<std::string>{"HomePlan", "MainPlan", "WaitPlan"}));
  EXPECT_EQ(Requests(23).size(), 2u);
}

TEST_F(Services, FileUploadCarriesNameCrcAndBytesAndAMismatchStoresNothing) {
  auto stored = [&](const std::string& name) -> json {
    const json files =
        env_.sim.Command("files", {{"serial", env_.serial}, {"store", "trajectory"}});
    for (const auto& f : files["files"]) {
      if (f["name"] == name) return f;
    }
    return json();
  };
  std::vector<uint8_t> bytes(1000000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  const uint32_t crc = Crc32(bytes);
  ASSERT_EQ(ops().SendFile(Proc(61), "big.traj", crc, bytes).code, kOk);
  EXPECT_EQ(stored("big.traj")["size"], bytes.size());
  EXPECT_EQ(stored("big.traj")["crc32"], crc);
  const json req = Requests(61).back();
  EXPECT_EQ(req["long_string"], "big.traj");
  EXPECT_EQ(static_cast<uint32_t>(req["int_args"][0].get<int32_t>()), crc);

  // A checksum that does not match the bytes: refused, nothing written.
  const std::vector<uint8_t> small{'a', 'b', 'c'};
  EXPECT_EQ(ops().SendFile(Proc(61), "bad.traj", Crc32(small) ^ 1U, small).code, kFault);
  EXPECT_TRUE(stored("bad.traj").is_null());
  // Above the limit nothing is sent at all.
  const size_t before = RequestTotal();
  const std::vector<uint8_t> too_big(1000001, 0);
  EXPECT_EQ(ops().SendFile(Proc(61), "huge.traj", Crc32(too_big), too_big).code, kFault);
  EXPECT_EQ(RequestTotal(), before);
}

TEST_F(Services, NoNonFiniteValueReachesTheWire) {
  ToolParams params;
  params.mass = 0.1;  // rounded to the nearest float
  params.inertia = {4, 5, 6, 7, 8, 9};
  ops().UpdateTool(Proc(97), "Gripper", params);  // no such procedure: refused, but recorded
  const json tool = Requests(97)[0]["tool_params"];
  EXPECT_EQ(tool["name"], "Gripper");
  EXPECT_EQ(tool["mass"].get<float>(), 0.1f);
  EXPECT_EQ(tool["inertia"][5].get<float>(), 9.0f);

  const size_t before = RequestTotal();
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e39, -1e300}) {
    ToolParams p = params;
    p.tcp_location[2] = bad;
    EXPECT_EQ(ops().UpdateTool(Proc(97), "Gripper", p).code, kFault) << bad;
    p = params;
    p.mass = bad;
    EXPECT_EQ(ops().UpdateTool(Proc(97), "Gripper", p).code, kFault) << bad;
    std::vector<double> seed(7, 0.0);
    std::array<double, 7> pose{0, 0, 0, 1, 0, 0, 0};
    std::pair<bool, std::vector<double>> result;
    seed[3] = bad;
    EXPECT_EQ(ops().RequestReachability(pose, seed, false, result).code, kFault) << bad;
    seed[3] = 0;
    pose[0] = bad;
    EXPECT_EQ(ops().RequestReachability(pose, seed, false, result).code, kFault) << bad;
  }
  EXPECT_EQ(RequestTotal(), before);
}

TEST_F(Services, DeviceParametersByKindOfValue) {
  json device = {{"name", "Dev"}, {"enabled", true}, {"connected", true}};
  device["params"] = {{"vec", {1.5, 2.5, 3.5}}, {"text", "hello"}, {"count", 7},
                      {"names", {"x", "y"}},    {"scale", 0.25},   {"refused", nullptr}};
  env_.sim.Set(env_.serial, {{"devices", json::array({device})}});
  std::map<std::string, OperationsRPC::DeviceParamValue> params{{"stale", 1}};
  ASSERT_EQ(ops().RequestDeviceParams("Dev", params).code, kOk);
  const std::map<std::string, OperationsRPC::DeviceParamValue> expected = {
      {"vec", std::vector<double>{1.5, 2.5, 3.5}},
      {"text", std::string("hello")},
      {"count", 7},
      {"names", std::vector<std::string>{"x", "y"}},
      {"scale", 0.25}};
  EXPECT_EQ(params, expected);
  EXPECT_EQ(log_.Count(spdlog::level::warn,
                       "[quiral::vek::Device::params] Data type of parameter [refused] is not "
                       "supported yet and will be omitted"),
            1);
  const json value_requests = Requests(44);
  ASSERT_EQ(value_requests.size(), 6u);
  EXPECT_EQ(value_requests[0]["string_args"][0], "Dev");

  // A repeated name keeps its first value; an empty answer leaves no entry.
  Fault(43, Custom({{"string_container", {"count", "count", "text"}}}));
  for (const json& reply : {json{{"int_container", {1}}}, json{{"int_container", {2}}},
                            json{{"string_container", json::array()}}}) {
    Fault(44, Custom(reply));
  }
  ASSERT_EQ(ops().RequestDeviceParams("Dev", params).code, kOk);
  EXPECT_EQ(params, (std::map<std::string, OperationsRPC::DeviceParamValue>{{"count", 1}}));
  // Two integers end the whole call.
  Fault(44, Custom({{"int_container", {1, 2}}}));
  EXPECT_EQ(ops().RequestDeviceParams("Dev", params).code, kFault);
}

}  // namespace
}  // namespace quiral_client_test
