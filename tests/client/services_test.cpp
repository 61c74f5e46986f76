// The operations and data services of a lite client against the simulated
// controller: what a call puts on the wire, how replies are decoded, and
// how bad or missing replies end as FAULT without an exception and with
// the caller's values left as they were.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

using quiral::vek::RobotInfo;
using quiral::vek::ToolParams;
using quiral::vek_impl::OperationsRPC;
using quiral::vek_impl::ProcedureId;

uint32_t Crc32(const std::vector<uint8_t>& bytes) { return crc32_z(0, bytes.data(), bytes.size()); }

// A call's outputs as text: numbers "%g" separated by blanks, texts by "|",
// the parts of a record by " / ".
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
    const char* separator = "";
    for (const auto& item : value) {
      out += separator + Render(item);
      separator = std::is_same_v<typename T::value_type, std::string> ? "|" : " ";
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
std::string Render(const quiral::vek::PlanInfo& i) {
  return Render(std::vector<std::string>{i.item_0, i.item_2, i.item_3}) + " " + Render(i.item_6) +
         " " + Render(i.item_7);
}
// A decoder call on outputs that hold `kept` before it: "OK ..." or
// "FAULT ..." with the outputs after it.
template <class T, class F>
std::function<std::string()> With(T kept, F call) {
  return [kept, call] {
    T out = kept;
    const int code = call(out).code;
    return (code == kOk ? "OK " : code == kFault ? "FAULT " : "? ") + Render(out);
  };
}
json Custom(const json& reply) { return {{"kind", "custom_reply"}, {"reply", reply}}; }
// Every list of the controller's reply one entry short.
const json kShort = {{"kind", "short_lists"}};

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
  json Requests(int id, bool ops = true) {
    return env_.sim.Command(
        ops ? "requests" : "data_requests",
        {{"serial", env_.serial}, {ops ? "procedure_id" : "request_id", id}})["items"];
  }
  size_t RequestTotal() { return env_.sim.Requests(env_.serial)["total"].get<size_t>(); }
  void Fault(int id, json rule, bool ops = true) {
    rule["service"] = ops ? "ops" : "data";
    rule[ops ? "procedure_id" : "request_id"] = id;
    env_.sim.Fault(env_.serial, rule);
  }
  // The outcome of `call` after each rule in turn (null: the controller's
  // own reply).
  void Expect(int id, bool ops, const std::function<std::string()>& call,
              const std::vector<std::pair<json, std::string>>& replies) {
    for (const auto& [rule, expected] : replies) {
      SCOPED_TRACE(std::to_string(id) + " " + rule.dump());
      if (!rule.is_null()) Fault(id, rule, ops);
      EXPECT_EQ(call(), expected);
    }
  }

  LogCapture log_;  // outlives the client
  SimClient env_;
};

// Counts from the controller are checked before they size anything; a CRC
// above 2^31 travels as a negative integer; texts that are not numbers are a
// bad reply, not an exception.
TEST_F(Services, EveryDecoderWithGoodShortOversizedAndHandMadeReplies) {
  const json file = env_.sim.Command(
      "files",
      {{"serial", env_.serial}, {"store", "trajectory"}, {"with_bytes", false}})["files"][0];
  const std::string name = file["name"];
  RobotInfo info;
  info.DoF = 99;
  const std::string no_info = "FAULT 0 0 99 0 /  /  /  / ";
  const std::vector<uint8_t> bytes{1, 2, 3};
  const std::string no_file = "FAULT 3 " + std::to_string(Crc32(bytes));
  std::vector<float> blocks(28);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<float>(i) + 0.5f;
  quiral::vek::PlanInfo plan;
  plan.item_0 = "kept";
  const std::string no_plan = "FAULT kept|| 0 0";
  auto plan_texts = [](const char* six, const char* seven) {
    return Custom({{"string_container", {"x", "b", "c", "d", "e", "f", six, seven}}});
  };
  auto& o = ops();
  // The four limit blocks in order, upper limits first.
  Expect(
      6, true, With(info, [&](auto& i) { return o.RequestRobotInfo(i); }),
      {{Custom({{"string_container", {"srv"}},
                {"int_container", {1, 6, 7, 0}},
                {"float_container", blocks}}),
        "OK 1 6 7 0 / 0.5 1.5 2.5 3.5 4.5 5.5 6.5 / 7.5 8.5 9.5 10.5 11.5 12.5 13.5 / 14.5 "
        "15.5 16.5 17.5 18.5 19.5 20.5 / 21.5 22.5 23.5 24.5 25.5 26.5 27.5"},
       {Custom({{"int_container", {0, 2147483647, 2147483647, 1}}}), no_info},
       {Custom({{"float_container", std::vector<float>(27, 1.0f)}}), no_info}});
  Expect(
      62, true,
      With(bytes, [&](auto& b) { return o.RequestFile(ProcedureId::DownloadTrajFile, name, b); }),
      {{nullptr, "OK " + file["size"].dump() + " " + file["crc32"].dump()},
       {{{"kind", "bad_crc"}}, no_file},
       {Custom({{"string_container", {name}},
                {"int_container", {-873187034}},
                {"raw_bytes_base64", "MTIzNDU2Nzg5"}}),  // "123456789"
        "OK 9 3421780262"}});
  Expect(3, false, With(plan, [&](auto& i) { return data().RequestPlanInfo(i); }),
         {{Custom({{"string_container", {"p", "n", "a/b", "1.5", "3", "p", " 0.5xyz", "1"}}}),
           "OK p|a/b|1.5 0.5 1"},
          {kShort, no_plan},
          {plan_texts("abc", "1"), no_plan},
          {plan_texts("0.5", "99999999999"), no_plan}});
  EXPECT_EQ(Requests(62)[0]["long_string"], name);
}

TEST_F(Services, GeneralCallArgumentsRefusalsAndOtherIds) {
  // An unknown procedure: refused once, and the call ends at once.
  const auto t0 = Clock::now();
  EXPECT_EQ(ops().GeneralCall(Proc(99), "t", {1, -2}, {0.5f}, {"x", ""}).code, kFault);
  EXPECT_LT(SecondsSince(t0), 1.0);
  const json reqs = Requests(99);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(json({reqs[0]["long_string"], reqs[0]["int_args"], reqs[0]["float_args"],
                  reqs[0]["string_args"]}),
            json({"t", {1, -2}, {0.5}, {"x", ""}}));

  // A refusal, or a reply with another id (also one that matches only in
  // its low 16 bits), ends the call without a retry; on both services.
  for (const json& rule : {json{{"kind", "fail"}}, json{{"kind", "wrong_id"}},
                           json{{"kind", "wrong_id"}, {"reply_id", 65536 + 20}}}) {
    Fault(20, rule);
    EXPECT_EQ(ops().GeneralCall(ProcedureId::SetVelocityScale, "", {10}, {}, {}).code, kFault);
  }
  std::string version;
  Fault(1, {{"kind", "wrong_id"}}, false);
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  EXPECT_EQ(Requests(20).size(), 3u);
  EXPECT_EQ(Requests(1, false).size(), 1u);
  EXPECT_EQ(log_.Count("Remote procedure failed"), 5);
  EXPECT_EQ(log_.Count("Failed to send remote call or server reply timeout"), 0);

  // A duplicated reply is one answer.
  Fault(20, {{"kind", "duplicate_reply"}, {"copies", 3}});
  EXPECT_EQ(ops().GeneralCall(ProcedureId::SetVelocityScale, "", {30}, {}, {}).code, kOk);
  EXPECT_EQ(ops().GeneralCall(ProcedureId::SetVelocityScale, "", {40}, {}, {}).code, kOk);
  EXPECT_TRUE(env_.sim.WaitForState(
      env_.serial, [](const json& s) { return s["velocity_scale"] == 40; }, 2s));
}

TEST_F(Services, ASilentProcedureIsTriedThreeTimesASilentDataCallOnce) {
  // Answered only on the third attempt: OK after two time-outs.
  Fault(3, {{"kind", "no_reply"}, {"count", 2}});
  std::string version = "kept";
  auto t0 = Clock::now();
  EXPECT_EQ(ops().RequestServerVersion(version).code, kOk);
  EXPECT_GE(SecondsSince(t0), 3.95);
  EXPECT_LT(SecondsSince(t0), 5.0);

  Fault(3, {{"kind", "no_reply"}, {"count", -1}});
  t0 = Clock::now();
  EXPECT_EQ(ops().RequestServerVersion(version).code, kFault);
  EXPECT_GE(SecondsSince(t0), 5.95);
  EXPECT_LT(SecondsSince(t0), 7.5);
  const json reqs = Requests(3);
  ASSERT_EQ(reqs.size(), 6u);
  // No pause between attempts: each follows the previous time-out.
  for (size_t i = 4; i < reqs.size(); ++i) {
    const double gap = (reqs[i]["t_ns"].get<int64_t>() - reqs[i - 1]["t_ns"].get<int64_t>()) / 1e9;
    EXPECT_GE(gap, 1.95);
    EXPECT_LT(gap, 2.4);
  }

  Fault(1, {{"kind", "no_reply"}, {"count", -1}}, false);
  t0 = Clock::now();
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  EXPECT_GE(SecondsSince(t0), 1.95);
  EXPECT_LT(SecondsSince(t0), 2.8);
  EXPECT_EQ(Requests(1, false).size(), 1u);
  EXPECT_EQ(version, "v1.9.3");
  EXPECT_EQ(log_.Count(spdlog::level::debug, "Failed to send remote call or server reply timeout"),
            2);
}

TEST_F(Services, FileUploadCarriesNameCrcAndBytes) {
  auto stored = [&](const std::string& name) -> json {
    const json files =
        env_.sim.Command("files", {{"serial", env_.serial}, {"store", "trajectory"}});
    for (const auto& f : files["files"]) {
      if (f["name"] == name) return f;
    }
    return json();
  };
  const auto upload = ProcedureId::UploadTrajFile;
  std::vector<uint8_t> bytes(1000000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  const uint32_t crc = Crc32(bytes);
  ASSERT_EQ(ops().SendFile(upload, "big.traj", crc, bytes).code, kOk);
  EXPECT_EQ(stored("big.traj")["size"], bytes.size());
  EXPECT_EQ(stored("big.traj")["crc32"], crc);
  const json req = Requests(61).back();
  EXPECT_EQ(req["long_string"], "big.traj");
  EXPECT_EQ(static_cast<uint32_t>(req["int_args"][0].get<int32_t>()), crc);
  // Above the limit nothing is sent at all.
  const size_t before = RequestTotal();
  const std::vector<uint8_t> too_big(1000001, 0);
  EXPECT_EQ(ops().SendFile(upload, "huge.traj", Crc32(too_big), too_big).code, kFault);
  EXPECT_EQ(RequestTotal(), before);
}

TEST_F(Services, NoNonFiniteValueReachesTheWire) {
  ToolParams params;
  const size_t before = RequestTotal();
  params.tcp_location[2] = std::nan("");
  EXPECT_EQ(ops().UpdateTool(Proc(97), "Gripper", params).code, kFault);
  std::vector<double> seed(7, 0.0);
  seed[3] = 1e39;  // finite, but no 32-bit float
  std::pair<bool, std::vector<double>> result;
  EXPECT_EQ(ops().RequestReachability({0, 0, 0, 1, 0, 0, 0}, seed, false, result).code, kFault);
  EXPECT_EQ(RequestTotal(), before);
}

TEST_F(Services, DeviceParametersByKindOfValue) {
  using Params = std::map<std::string, OperationsRPC::DeviceParamValue>;
  json device = {{"name", "Dev"}, {"enabled", true}, {"connected", true}};
  device["params"] = {{"vec", {1.5, 2.5}}, {"count", 7}, {"refused", nullptr}};
  env_.sim.Set(env_.serial, {{"devices", json::array({device})}});
  Params params{{"stale", 1}};
  ASSERT_EQ(ops().RequestDeviceParams("Dev", params).code, kOk);
  EXPECT_EQ(params, (Params{{"vec", std::vector<double>{1.5, 2.5}}, {"count", 7}}));
  EXPECT_EQ(log_.Count(spdlog::level::warn,
                       "[quiral::vek::Device::params] Data type of parameter [refused] is not "
                       "supported yet and will be omitted"),
            1);
}

}  // namespace
}  // namespace quiral_client_test
