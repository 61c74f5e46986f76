// The operations service against the simulated controller: what each
// operation puts on the wire, how each reply is decoded, and how bad or
// missing replies end as FAULT without an exception.
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "client/crc32.h"
#include "tests/client/client_test_util.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::vek_impl::OperationsRPC;
using quiral_client_test::Clock;
using quiral_client_test::LogCapture;
using quiral_client_test::Seconds;
using quiral_client_test::StartClient;

constexpr int kOk = 100000;
constexpr int kFault = 300000;
const std::string kNoReply = "Failed to send remote call or server reply timeout";
const std::string kRefused = "Remote procedure failed";

// A lite client (the two remote-call services) against its own controller.
class Operations : public ::testing::Test {
 protected:
  void SetUp() override {
    serial_ = UniqueSerial("Varno4");
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{serial_});
    client_ = StartClient(serial_, /*lite=*/true);
    ASSERT_TRUE(sim_->WaitMatched(serial_, 5s, {"ops_requests", "ops_replies"}));
  }

  OperationsRPC& ops() { return client_->operations_rpc; }

  // Recorded requests of one procedure.
  json Requests(int procedure_id) {
    return sim_->Command("requests", {{"serial", serial_}, {"procedure_id", procedure_id}})["items"];
  }
  size_t RequestTotal() { return sim_->Requests(serial_)["total"].get<size_t>(); }

  void Fault(json rule) { sim_->Fault(serial_, rule); }
  void CustomReply(int procedure_id, json reply) {
    Fault({{"procedure_id", procedure_id}, {"kind", "custom_reply"}, {"reply", reply}});
  }

  LogCapture log_;  // outlives the client
  std::string serial_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<quiral::vek_impl::VEKClient> client_;
};

TEST_F(Operations, GeneralCallPutsItsArgumentsOnTheWire) {
  EXPECT_EQ(ops().GeneralCall(20, "", {55}, {}, {}).code, kOk);
  EXPECT_EQ(sim_->State(serial_)["velocity_scale"].get<int>(), 55);

  // An unknown procedure: the controller refuses it, once, and the call
  // ends at once.
  const std::string long_text = std::string(10000, 'a') + std::string(2000, 'b');
  const auto t0 = Clock::now();
  EXPECT_EQ(ops().GeneralCall(99, long_text, {1, -2, 2147483647}, {0.5f, -1e30f},
                              {"x", "", "yz"}).code,
            kFault);
  EXPECT_LT(Seconds(Clock::now() - t0), 1.0);
  EXPECT_EQ(log_.Count(kRefused, spdlog::level::debug), 1u);
  const json reqs = Requests(99);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0]["long_string"].get<std::string>(), std::string(10000, 'a'));
  EXPECT_EQ(reqs[0]["int_args"], json({1, -2, 2147483647}));
  EXPECT_EQ(reqs[0]["float_args"][0].get<float>(), 0.5f);
  EXPECT_EQ(reqs[0]["float_args"][1].get<float>(), -1e30f);
  EXPECT_EQ(reqs[0]["string_args"], json({"x", "", "yz"}));

  // A text with an embedded NUL goes up to the NUL.
  ops().GeneralCall(98, std::string("abc\0def", 7), {}, {}, {});
  EXPECT_EQ(Requests(98)[0]["long_string"].get<std::string>(), "abc");
}

TEST_F(Operations, ARefusalOrAnotherIdEndsTheCallWithoutRetry) {
  Fault({{"procedure_id", 20}, {"kind", "fail"}});
  EXPECT_EQ(ops().GeneralCall(20, "", {10}, {}, {}).code, kFault);
  EXPECT_EQ(sim_->State(serial_)["velocity_scale"].get<int>(), 100);  // refused
  // A reply with another id: the controller did act on the request, but the
  // call cannot know that.
  Fault({{"procedure_id", 20}, {"kind", "wrong_id"}});
  EXPECT_EQ(ops().GeneralCall(20, "", {10}, {}, {}).code, kFault);
  // A reply id that matches only in its low 16 bits is another id.
  Fault({{"procedure_id", 20}, {"kind", "wrong_id"}, {"reply_id", 65536 + 20}});
  EXPECT_EQ(ops().GeneralCall(20, "", {10}, {}, {}).code, kFault);
  EXPECT_EQ(Requests(20).size(), 3u);
  EXPECT_EQ(log_.Count(kRefused), 3u);
  EXPECT_EQ(log_.Count(kNoReply), 0u);

  // A duplicated reply is one answer.
  Fault({{"procedure_id", 20}, {"kind", "duplicate_reply"}, {"copies", 3}});
  EXPECT_EQ(ops().GeneralCall(20, "", {30}, {}, {}).code, kOk);
  EXPECT_EQ(ops().GeneralCall(20, "", {40}, {}, {}).code, kOk);
  EXPECT_TRUE(sim_->WaitForState(
      serial_, [](const json& s) { return s["velocity_scale"].get<int>() == 40; }, 2s));
}

TEST_F(Operations, ASilentProcedureIsTriedExactlyThreeTimes) {
  Fault({{"procedure_id", 3}, {"kind", "no_reply"}, {"count", -1}});
  std::string version = "untouched";
  const auto t0 = Clock::now();
  EXPECT_EQ(ops().RequestServerVersion(version).code, kFault);
  const double took = Seconds(Clock::now() - t0);
  EXPECT_GE(took, 5.95);
  EXPECT_LT(took, 7.5);
  EXPECT_EQ(version, "untouched");
  const json reqs = Requests(3);
  ASSERT_EQ(reqs.size(), 3u);
  // No pause between attempts: each follows the previous time-out.
  for (size_t i = 1; i < reqs.size(); ++i) {
    const double gap = (reqs[i]["t_ns"].get<int64_t>() - reqs[i - 1]["t_ns"].get<int64_t>()) / 1e9;
    EXPECT_GE(gap, 1.95);
    EXPECT_LT(gap, 2.4);
  }
  EXPECT_EQ(log_.Count(kNoReply, spdlog::level::debug), 1u);
}

TEST_F(Operations, AnAnswerToALaterAttemptSucceeds) {
  // Two attempts go unanswered; the third is answered.
  Fault({{"procedure_id", 3}, {"kind", "no_reply"}, {"count", 2}});
  std::string version;
  auto t0 = Clock::now();
  EXPECT_EQ(ops().RequestServerVersion(version).code, kOk);
  double took = Seconds(Clock::now() - t0);
  EXPECT_GE(took, 3.95);
  EXPECT_LT(took, 5.0);
  EXPECT_EQ(version, "v1.9.3");
  EXPECT_EQ(Requests(3).size(), 3u);

  // The late answer to the first attempt is taken by the second one, which
  // is itself never answered.
  Fault({{"procedure_id", 23}, {"kind", "late_reply"}, {"delay_ms", 2500}});
  Fault({{"procedure_id", 23}, {"kind", "no_reply"}});
  std::vector<std::string> plans;
  t0 = Clock::now();
  EXPECT_EQ(ops().RequestStringList(23, plans).code, kOk);
  took = Seconds(Clock::now() - t0);
  EXPECT_GE(took, 2.4);
  EXPECT_LT(took, 3.5);
  EXPECT_EQ(plans, (std::vector<std::string>{"HomePlan", "MainPlan", "WaitPlan"}));
  EXPECT_EQ(Requests(23).size(), 2u);
}

TEST_F(Operations, RobotInfoFromAGoodReply) {
  quiral::vek::RobotInfo info;
  info.serial_number = "kept";
  info.model_name = "kept too";
  ASSERT_EQ(ops().RequestRobotInfo(info).code, kOk);
  const json joints = sim_->State(serial_)["joints"];
  EXPECT_EQ(info.DoF_e, 0u);
  EXPECT_EQ(info.DoF_m, 7u);
  EXPECT_EQ(info.DoF, 7u);
  EXPECT_TRUE(info.reply_flag);
  EXPECT_FALSE(info.server_text.empty());
  ASSERT_EQ(info.q_max.size(), 7u);
  ASSERT_EQ(info.q_min.size(), 7u);
  ASSERT_EQ(info.joint_limit_3.size(), 7u);
  ASSERT_EQ(info.tau_max.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(info.q_max[i], static_cast<double>(joints["q_max"][i].get<float>()));
    EXPECT_EQ(info.q_min[i], static_cast<double>(joints["q_min"][i].get<float>()));
    EXPECT_NE(info.joint_limit_3[i], 0.0);
  }
  EXPECT_EQ(info.serial_number, "kept");
  EXPECT_EQ(info.model_name, "kept too");

  // The four blocks in order: upper limits first.
  std::vector<float> floats(28);
  for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(i) + 0.5f;
  CustomReply(6, {{"string_container", {"srv"}}, {"int_container", {1, 6, 7, 0}},
                  {"float_container", floats}});
  ASSERT_EQ(ops().RequestRobotInfo(info).code, kOk);
  EXPECT_EQ(info.server_text, "srv");
  EXPECT_EQ(info.DoF_e, 1u);
  EXPECT_EQ(info.DoF_m, 6u);
  EXPECT_FALSE(info.reply_flag);
  EXPECT_EQ(info.q_max, (std::vector<double>{0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5}));
  EXPECT_EQ(info.q_min[0], 7.5);
  EXPECT_EQ(info.joint_limit_3[0], 14.5);
  EXPECT_EQ(info.tau_max[6], 27.5);

  // Extra texts and integers are not read.
  Fault({{"procedure_id", 6}, {"kind", "custom_reply"},
         {"reply", {{"string_container", {"a", "b"}}, {"int_container", {0, 7, 7, 1, 9}}}}});
  EXPECT_EQ(ops().RequestRobotInfo(info).code, kOk);
}

bool SameInfo(const quiral::vek::RobotInfo& a, const quiral::vek::RobotInfo& b) {
  return a.server_text == b.server_text && a.DoF_e == b.DoF_e && a.DoF_m == b.DoF_m &&
         a.DoF == b.DoF && a.q_max == b.q_max && a.q_min == b.q_min &&
         a.joint_limit_3 == b.joint_limit_3 && a.tau_max == b.tau_max &&
         a.reply_flag == b.reply_flag;
}

TEST_F(Operations, BadRobotInfoRepliesAreFaultsThatLeaveTheInfoAsItWas) {
  quiral::vek::RobotInfo info;
  ASSERT_EQ(ops().RequestRobotInfo(info).code, kOk);
  const quiral::vek::RobotInfo good = info;
  const std::vector<float> f28(28, 1.0f);
  struct Case {
    const char* what;
    json reply;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"three integers", {{"int_container", {0, 7, 7}}}, ""},
      {"no text", {{"string_container", json::array()}}, ""},
      {"no integer", {{"int_container", json::array()}}, ""},
      {"negative external joints", {{"int_container", {-1, 8, 7, 1}}},
       "Negative joint count in robot info reply: DoF_e -1, DoF_m 8, DoF 7"},
      {"negative joint count", {{"int_container", {0, -1, -1, 1}}, {"float_container", json::array()}},
       "Negative joint count in robot info reply: DoF_e 0, DoF_m -1, DoF -1"},
      {"counts that do not add up", {{"int_container", {1, 6, 8, 1}}}, "DoF_e + DoF_m != DoF"},
      {"a huge joint count without floats",
       {{"int_container", {0, 2147483647, 2147483647, 1}}, {"float_container", json::array()}},
       "[quiral::vek::Robot] Concatenated float container has invalid total size"},
      {"one float too few", {{"float_container", std::vector<float>(27, 1.0f)}},
       "[quiral::vek::Robot] Concatenated float container has invalid total size"},
      {"one float too many", {{"float_container", std::vector<float>(29, 1.0f)}},
       "[quiral::vek::Robot] Concatenated float container has invalid total size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CustomReply(6, c.reply);
    quiral::vek::RobotInfo out = good;
    EXPECT_EQ(ops().RequestRobotInfo(out).code, kFault);
    EXPECT_TRUE(SameInfo(out, good));
    if (!c.line.empty()) {
      EXPECT_GE(log_.Count(c.line), 1u) << c.line;
    }
  }
  EXPECT_EQ(log_.Count("[quiral::vek::Robot] Concatenated float container has invalid total size",
                       spdlog::level::err), 3u);

  // Every list cut by one, and every list padded by one.
  for (const char* kind : {"short_lists", "oversized_lists"}) {
    SCOPED_TRACE(kind);
    Fault({{"procedure_id", 6}, {"kind", kind}});
    quiral::vek::RobotInfo out = good;
    EXPECT_EQ(ops().RequestRobotInfo(out).code, kFault);
    EXPECT_TRUE(SameInfo(out, good));
  }
}

TEST_F(Operations, FileDownloadIsCheckedByNameAndCrc) {
  const json files = sim_->Command("files", {{"serial", serial_}, {"store", "trajectory"},
                                             {"with_bytes", false}})["files"];
  ASSERT_FALSE(files.empty());
  const std::string name = files[0]["name"].get<std::string>();
  std::vector<uint8_t> bytes;
  ASSERT_EQ(ops().RequestFile(62, name, bytes).code, kOk);
  EXPECT_EQ(bytes.size(), files[0]["size"].get<size_t>());
  EXPECT_EQ(quiral::vek_impl::Crc32(bytes), files[0]["crc32"].get<uint32_t>());
  EXPECT_EQ(Requests(62)[0]["long_string"].get<std::string>(), name);

  const std::vector<uint8_t> sentinel{1, 2, 3};
  auto expect_fault = [&](const std::string& line) {
    std::vector<uint8_t> out = sentinel;
    EXPECT_EQ(ops().RequestFile(62, name, out).code, kFault);
    EXPECT_EQ(out, sentinel);
    EXPECT_GE(log_.Count(line), 1u) << line;
  };
  Fault({{"procedure_id", 62}, {"kind", "bad_crc"}});
  expect_fault("CRC32 checksum mismatch");
  std::string other_case = name;
  other_case[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(other_case[0])));
  ASSERT_NE(other_case, name);
  CustomReply(62, {{"string_container", {other_case}}});
  expect_fault("Wrong filename is returned");
  Fault({{"procedure_id", 62}, {"kind", "short_lists"}, {"keep", 0}});
  expect_fault("Wrong filename is returned");
  CustomReply(62, {{"int_container", json::array()}});
  expect_fault("File reply carries no CRC32 checksum");
  EXPECT_EQ(log_.Count("CRC32 checksum mismatch"), 1u);

  // An empty file with CRC 0.
  CustomReply(62, {{"string_container", {name}}, {"int_container", {0}}, {"raw_bytes_base64", ""}});
  std::vector<uint8_t> out = sentinel;
  EXPECT_EQ(ops().RequestFile(62, name, out).code, kOk);
  EXPECT_TRUE(out.empty());
  // A CRC above 2^31 travels as a negative integer.
  CustomReply(62, {{"string_container", {name}}, {"int_container", {-873187034}},
                   {"raw_bytes_base64", "MTIzNDU2Nzg5"}});  // "123456789", CRC 0xCBF43926
  EXPECT_EQ(ops().RequestFile(62, name, out).code, kOk);
  EXPECT_EQ(out, std::vector<uint8_t>({'1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

TEST_F(Operations, FileUploadCarriesNameCrcAndBytesAndAMismatchStoresNothing) {
  auto stored = [&](const std::string& name) -> json {
    const json files = sim_->Command("files", {{"serial", serial_}, {"store", "trajectory"}})["files"];
    for (const auto& f : files) {
      if (f["name"] == name) return f;
    }
    return json();
  };
  std::vector<uint8_t> bytes(1000000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  const uint32_t crc = quiral::vek_impl::Crc32(bytes);
  ASSERT_EQ(ops().SendFile(61, "big.traj", crc, bytes).code, kOk);
  const json file = stored("big.traj");
  ASSERT_FALSE(file.is_null());
  EXPECT_EQ(file["size"].get<size_t>(), bytes.size());
  EXPECT_EQ(file["crc32"].get<uint32_t>(), crc);
  const json req = Requests(61).back();
  EXPECT_EQ(req["long_string"].get<std::string>(), "big.traj");
  EXPECT_EQ(static_cast<uint32_t>(req["int_args"][0].get<int32_t>()), crc);

  // A checksum that does not match the bytes: refused, nothing written.
  const std::vector<uint8_t> small{'a', 'b', 'c'};
  EXPECT_EQ(ops().SendFile(61, "bad.traj", quiral::vek_impl::Crc32(small) ^ 1U, small).code, kFault);
  EXPECT_TRUE(stored("bad.traj").is_null());

  // Above the limit nothing is sent at all.
  const size_t before = RequestTotal();
  std::vector<uint8_t> too_big(1000001, 0);
  EXPECT_EQ(ops().SendFile(61, "huge.traj", quiral::vek_impl::Crc32(too_big), too_big).code, kFault);
  EXPECT_EQ(RequestTotal(), before);
  EXPECT_TRUE(stored("huge.traj").is_null());
}

TEST_F(Operations, DeviceStatusWorkCoordinatesAndStringLists) {
  std::pair<bool, bool> status{true, false};
  ASSERT_EQ(ops().RequestDeviceStatus("SimGripper", status).code, kOk);
  EXPECT_FALSE(status.first);  // not enabled
  EXPECT_TRUE(status.second);  // connected
  EXPECT_EQ(Requests(45)[0]["string_args"], json({"SimGripper"}));
  CustomReply(45, {{"int_container", {1}}});
  status = {true, true};
  EXPECT_EQ(ops().RequestDeviceStatus("SimGripper", status).code, kFault);
  EXPECT_EQ(status, std::make_pair(true, true));
  EXPECT_EQ(log_.Count("Size of int container is 1, expecting 2"), 1u);
  Fault({{"procedure_id", 45}, {"kind", "oversized_lists"}});
  EXPECT_EQ(ops().RequestDeviceStatus("SimGripper", status).code, kOk);
  EXPECT_EQ(status, std::make_pair(false, true));

  std::array<double, 7> pose{};
  ASSERT_EQ(ops().RequestWorkCoordPose("Table", pose).code, kOk);
  EXPECT_EQ(Requests(53)[0]["string_args"], json({"Table"}));
  CustomReply(53, {{"float_container", {1, 2, 3, 4, 5, 6, 7}}});
  ASSERT_EQ(ops().RequestWorkCoordPose("Table", pose).code, kOk);
  EXPECT_EQ(pose, (std::array<double, 7>{1, 2, 3, 4, 5, 6, 7}));
  for (const char* kind : {"short_lists", "oversized_lists"}) {
    Fault({{"procedure_id", 53}, {"kind", kind}});
    EXPECT_EQ(ops().RequestWorkCoordPose("Table", pose).code, kFault) << kind;
    EXPECT_EQ(pose, (std::array<double, 7>{1, 2, 3, 4, 5, 6, 7}));
  }
  EXPECT_EQ(log_.Count("Size mismatch between float_container and pose_output"), 2u);

  std::string version;
  ASSERT_EQ(ops().RequestServerVersion(version).code, kOk);
  EXPECT_EQ(version, "v1.9.3");
  EXPECT_EQ(log_.Count("Received server version = v1.9.3", spdlog::level::debug), 1u);
  EXPECT_EQ(log_.Count("[quiral::vek::Robot] Synced server version", spdlog::level::debug), 1u);
  CustomReply(3, {{"string_container", json::array()}});
  version = "kept";
  EXPECT_EQ(ops().RequestServerVersion(version).code, kFault);
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(log_.Count("[quiral::vek::Robot] Synced server version"), 1u);

  std::vector<std::string> list{"old"};
  ASSERT_EQ(ops().RequestStringList(11, list).code, kOk);
  EXPECT_EQ(list.size(), 4u);
  CustomReply(23, {{"string_container", json::array()}});
  EXPECT_EQ(ops().RequestStringList(23, list).code, kOk);
  EXPECT_TRUE(list.empty());
}

TEST_F(Operations, ToolParameters) {
  std::string name;
  quiral::vek::ToolParams params;
  ASSERT_EQ(ops().RequestToolParams("", name, params).code, kOk);
  EXPECT_EQ(name, "Flange");
  ASSERT_EQ(Requests(34).size(), 1u);
  ASSERT_EQ(ops().RequestToolParams("SimTool", name, params).code, kOk);
  EXPECT_EQ(name, "SimTool");
  EXPECT_EQ(Requests(35)[0]["tool_params"]["name"].get<std::string>(), "SimTool");

  CustomReply(35, {{"tool_params", {{"name", "T"}, {"mass", 1.25}, {"CoM", {0.5, 0, -0.5}},
                                    {"inertia", {1, 2, 3, 4, 5, 6}},
                                    {"tcp_location", {0, 0, 0.25, 1, 0, 0, 0}}}}});
  ASSERT_EQ(ops().RequestToolParams("SimTool", name, params).code, kOk);
  EXPECT_EQ(name, "T");
  EXPECT_EQ(params.mass, 1.25);
  EXPECT_EQ(params.CoM, (std::array<double, 3>{0.5, 0, -0.5}));
  EXPECT_EQ(params.inertia, (std::array<double, 6>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(params.tcp_location, (std::array<double, 7>{0, 0, 0.25, 1, 0, 0, 0}));
  EXPECT_EQ(ops().RequestToolParams("NoSuchTool", name, params).code, kFault);
  EXPECT_EQ(name, "T");

  // The calibration result leaves the tool centre point alone.
  CustomReply(37, {{"tool_params", {{"mass", 2.5}, {"CoM", {1, 1, 1}},
                                    {"inertia", {0, 0, 0, 0, 0, 0}},
                                    {"tcp_location", {9, 9, 9, 9, 9, 9, 9}}}}});
  ASSERT_EQ(ops().RequestToolPayloadCaliResult(params).code, kOk);
  EXPECT_EQ(params.mass, 2.5);
  EXPECT_EQ(params.CoM, (std::array<double, 3>{1, 1, 1}));
  EXPECT_EQ(params.tcp_location, (std::array<double, 7>{0, 0, 0.25, 1, 0, 0, 0}));
}

TEST_F(Operations, ToolUpdateSendsFloatsAndNeverANonFiniteValue) {
  quiral::vek::ToolParams params;
  params.mass = 0.1;  // rounded to the nearest float
  params.CoM = {1, 2, 3};
  params.inertia = {4, 5, 6, 7, 8, 9};
  params.tcp_location = {0, 0, 0.1, 1, 0, 0, 0};
  ops().UpdateTool(97, "Gripper", params);  // no such procedure: refused, but recorded
  const json reqs = Requests(97);
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0]["tool_params"]["name"].get<std::string>(), "Gripper");
  EXPECT_EQ(reqs[0]["tool_params"]["mass"].get<float>(), 0.1f);
  EXPECT_EQ(reqs[0]["tool_params"]["inertia"][5].get<float>(), 9.0f);

  const size_t before = RequestTotal();
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e39, -1e300}) {
    quiral::vek::ToolParams p = params;
    p.tcp_location[2] = bad;
    EXPECT_EQ(ops().UpdateTool(97, "Gripper", p).code, kFault) << bad;
    p = params;
    p.mass = bad;
    EXPECT_EQ(ops().UpdateTool(97, "Gripper", p).code, kFault) << bad;
  }
  EXPECT_EQ(RequestTotal(), before);
}

TEST_F(Operations, DeviceParametersByKindOfValue) {
  json device_params = json::object();
  device_params["vec"] = {1.5, 2.5, 3.5};
  device_params["text"] = "hello";
  device_params["count"] = 7;
  device_params["names"] = {"x", "y"};
  device_params["scale"] = 0.25;
  device_params["refused"] = nullptr;
  json device = json::object();
  device["name"] = "Dev";
  device["enabled"] = true;
  device["connected"] = true;
  device["params"] = device_params;
  json fields = json::object();
  fields["devices"] = json::array({device});
  sim_->Set(serial_, fields);
  std::map<std::string, OperationsRPC::DeviceParamValue> params{{"stale", 1}};
  ASSERT_EQ(ops().RequestDeviceParams("Dev", params).code, kOk);
  EXPECT_EQ(params.count("stale"), 0u);
  EXPECT_EQ(std::get<std::vector<double>>(params.at("vec")), (std::vector<double>{1.5, 2.5, 3.5}));
  EXPECT_EQ(std::get<std::string>(params.at("text")), "hello");
  EXPECT_EQ(std::get<int>(params.at("count")), 7);
  EXPECT_EQ(std::get<std::vector<std::string>>(params.at("names")),
            (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(std::get<double>(params.at("scale")), 0.25);
  EXPECT_EQ(params.count("refused"), 0u);
  EXPECT_EQ(log_.Count("[quiral::vek::Device::params] Data type of parameter [refused] is not "
                       "supported yet and will be omitted",
                       spdlog::level::warn),
            1u);
  const json value_requests = Requests(44);
  ASSERT_EQ(value_requests.size(), 6u);
  EXPECT_EQ(value_requests[0]["string_args"][0].get<std::string>(), "Dev");

  // A repeated name keeps its first value; an empty answer leaves no entry.
  CustomReply(43, {{"string_container", {"count", "count", "text"}}});
  Fault({{"procedure_id", 44}, {"kind", "custom_reply"}, {"count", 1},
         {"reply", {{"int_container", {1}}}}});
  Fault({{"procedure_id", 44}, {"kind", "custom_reply"}, {"count", 1},
         {"reply", {{"int_container", {2}}}}});
  Fault({{"procedure_id", 44}, {"kind", "custom_reply"}, {"count", 1},
         {"reply", {{"string_container", json::array()}}}});
  ASSERT_EQ(ops().RequestDeviceParams("Dev", params).code, kOk);
  EXPECT_EQ(params.size(), 1u);
  EXPECT_EQ(std::get<int>(params.at("count")), 1);

  // Two integers end the whole call.
  Fault({{"procedure_id", 44}, {"kind", "custom_reply"}, {"count", 1},
         {"reply", {{"int_container", {1, 2}}}}});
  EXPECT_EQ(ops().RequestDeviceParams("Dev", params).code, kFault);
  EXPECT_EQ(log_.Count("int vector is not a supported variant"), 1u);
}

TEST_F(Operations, ReachabilityRequestAndReplyShapes) {
  const std::array<double, 7> pose{0.4, 0.1, 0.5, 0, 1, 0, 0};
  const std::vector<double> seed{0, -0.7, 0, 1.57, 0, 0.7, 0};
  std::pair<bool, std::vector<double>> result;
  ASSERT_EQ(ops().RequestReachability(pose, seed, true, result).code, kOk);
  EXPECT_EQ(result.second.size(), 7u);
  json req = Requests(10)[0];
  EXPECT_EQ(req["int_args"], json({1}));
  ASSERT_EQ(req["float_args"].size(), 14u);
  EXPECT_EQ(req["float_args"][0].get<float>(), 0.4f);
  EXPECT_EQ(req["float_args"][10].get<float>(), 1.57f);

  CustomReply(10, {{"int_container", {0}}, {"float_container", {1, 2, 3, 4, 5, 6, 7}}});
  ASSERT_EQ(ops().RequestReachability(pose, seed, false, result).code, kOk);
  EXPECT_FALSE(result.first);
  EXPECT_EQ(result.second, (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Requests(10)[1]["int_args"], json({0}));

  CustomReply(10, {{"int_container", {1, 0}}, {"float_container", {1, 2, 3, 4, 5, 6, 7}}});
  EXPECT_EQ(ops().RequestReachability(pose, seed, false, result).code, kFault);
  EXPECT_EQ(log_.Count("Size of int container is 2, expecting 1"), 1u);
  CustomReply(10, {{"int_container", {1}}, {"float_container", {1, 2, 3, 4, 5, 6}}});
  EXPECT_EQ(ops().RequestReachability(pose, seed, false, result).code, kFault);
  EXPECT_EQ(log_.Count("Size of float container is 6, expecting 7"), 1u);
  EXPECT_EQ(result.second, (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));

  // A non-finite pose or seed value is never sent.
  const size_t before = RequestTotal();
  std::vector<double> bad_seed = seed;
  bad_seed[3] = std::nan("");
  EXPECT_EQ(ops().RequestReachability(pose, bad_seed, false, result).code, kFault);
  std::array<double, 7> bad_pose = pose;
  bad_pose[0] = -std::numeric_limits<double>::infinity();
  EXPECT_EQ(ops().RequestReachability(bad_pose, seed, false, result).code, kFault);
  EXPECT_EQ(RequestTotal(), before);
}

TEST_F(Operations, ControlModeSwitch) {
  EXPECT_EQ(ops().SwitchCtrlMode(qor::ExtCtrlMode::IDLE).code, kOk);
  EXPECT_EQ(Requests(7)[0]["int_args"], json({1}));
  // Not operational: the controller refuses a motion mode.
  EXPECT_EQ(ops().SwitchCtrlMode(qor::ExtCtrlMode::RT_JOINT_POSITION).code, kFault);
  EXPECT_EQ(Requests(7)[1]["int_args"], json({5}));
  EXPECT_EQ(Requests(7).size(), 2u);
}

}  // namespace
