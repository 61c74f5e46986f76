// The data service against the simulated controller.
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/client/client_test_util.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::vek_impl::LUMODataRpc;
using quiral_client_test::Clock;
using quiral_client_test::LogCapture;
using quiral_client_test::Seconds;
using quiral_client_test::StartClient;

constexpr int kOk = 100000;
constexpr int kFault = 300000;

class DataService : public ::testing::Test {
 protected:
  void SetUp() override {
    serial_ = UniqueSerial("Varno4");
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{serial_});
    client_ = StartClient(serial_, /*lite=*/true);
    ASSERT_TRUE(sim_->WaitMatched(serial_, 5s, {"data_requests", "data_replies"}));
  }

  LUMODataRpc& data() { return client_->lumo_data_rpc; }
  json Requests(int request_id) {
    return sim_->Command("data_requests", {{"serial", serial_}, {"request_id", request_id}})["items"];
  }
  void Fault(json rule) {
    rule["service"] = "data";
    sim_->Fault(serial_, rule);
  }
  void CustomReply(int request_id, json reply) {
    Fault({{"request_id", request_id}, {"kind", "custom_reply"}, {"reply", reply}});
  }

  LogCapture log_;
  std::string serial_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<quiral::vek_impl::VEKClient> client_;
};

TEST_F(DataService, ASilentCallIsSentOnce) {
  Fault({{"request_id", 1}, {"kind", "no_reply"}, {"count", -1}});
  std::string version = "kept";
  const auto t0 = Clock::now();
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  const double took = Seconds(Clock::now() - t0);
  EXPECT_GE(took, 1.95);
  EXPECT_LT(took, 2.8);
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(Requests(1).size(), 1u);
  EXPECT_EQ(log_.Count("Failed to send remote call or server reply timeout", spdlog::level::debug),
            1u);
}

TEST_F(DataService, VersionAndPrimitiveStates) {
  std::string version;
  ASSERT_EQ(data().RequestLUMOVersion(version).code, kOk);
  EXPECT_EQ(version, "LUMO:v1.4");
  sim_->Set(serial_, {{"lumo_version", "v1.4"}});
  ASSERT_EQ(data().RequestLUMOVersion(version).code, kOk);
  EXPECT_EQ(version, "v1.4");

  CustomReply(1, {{"string_container", json::array()}});
  version = "kept";
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(log_.Count("Data service version reply holds no text"), 1u);

  Fault({{"request_id", 1}, {"kind", "fail"}});
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  Fault({{"request_id", 1}, {"kind", "wrong_id"}});
  EXPECT_EQ(data().RequestLUMOVersion(version).code, kFault);
  EXPECT_EQ(log_.Count("Remote procedure failed"), 2u);
  EXPECT_EQ(Requests(1).size(), 5u);

  std::vector<std::string> states{"old"};
  ASSERT_EQ(data().RequestPtStates(states).code, kOk);
  EXPECT_TRUE(states.empty());  // no primitive was started
  CustomReply(2, {{"string_container", {"reachedTarget = 1", "timePeriod = 0.5"}}});
  ASSERT_EQ(data().RequestPtStates(states).code, kOk);
  EXPECT_EQ(states, (std::vector<std::string>{"reachedTarget = 1", "timePeriod = 0.5"}));
  Fault({{"request_id", 2}, {"kind", "fail"}});
  EXPECT_EQ(data().RequestPtStates(states).code, kFault);
  EXPECT_EQ(states.size(), 2u);
}

TEST_F(DataService, PlanInformation) {
  quiral::vek::PlanInfo info;
  ASSERT_EQ(data().RequestPlanInfo(info).code, kOk);
  EXPECT_EQ(info.item_0, "");
  EXPECT_DOUBLE_EQ(info.item_6, 1.0);  // velocity scale 100 %
  EXPECT_FALSE(info.item_7);

  CustomReply(3, {{"string_container", {"p", "n", "a/b", "1.5", "3", "p", " 0.5xyz", "1"}}});
  ASSERT_EQ(data().RequestPlanInfo(info).code, kOk);
  EXPECT_EQ(info.item_0, "p");
  EXPECT_EQ(info.item_2, "a/b");
  EXPECT_EQ(info.item_3, "1.5");
  EXPECT_DOUBLE_EQ(info.item_6, 0.5);
  EXPECT_TRUE(info.item_7);

  const quiral::vek::PlanInfo good = info;
  auto expect_fault = [&](const json& texts) {
    CustomReply(3, {{"string_container", texts}});
    quiral::vek::PlanInfo out = good;
    EXPECT_EQ(data().RequestPlanInfo(out).code, kFault) << texts.dump();
    EXPECT_EQ(out.item_0, good.item_0);
    EXPECT_EQ(out.item_6, good.item_6);
    EXPECT_EQ(out.item_7, good.item_7);
  };
  expect_fault({"a", "b", "c", "d", "e", "f", "0.5"});
  expect_fault({"a", "b", "c", "d", "e", "f", "0.5", "1", "extra"});
  EXPECT_EQ(log_.Count("[quiral::vek::Robot] Size of plan info container is incorrect",
                       spdlog::level::err), 2u);
  // Texts that are not numbers are a bad reply, not an exception.
  expect_fault({"x", "b", "c", "d", "e", "f", "abc", "1"});
  expect_fault({"x", "b", "c", "d", "e", "f", "1e999", "1"});
  expect_fault({"x", "b", "c", "d", "e", "f", "0.5", "one"});
  expect_fault({"x", "b", "c", "d", "e", "f", "0.5", "99999999999"});
  EXPECT_EQ(log_.Count("Plan info text 6 is not a number: [abc]"), 1u);
  EXPECT_EQ(log_.Count("Plan info text 7 is not an integer: [one]"), 1u);

  CustomReply(3, {{"string_container", {"a", "b", "c", "d", "e", "f", "2", "0"}}});
  ASSERT_EQ(data().RequestPlanInfo(info).code, kOk);
  EXPECT_FALSE(info.item_7);
  EXPECT_EQ(info.item_6, 2.0);
}

TEST_F(DataService, ManipulabilityReadsFloatsTwoToSeven) {
  std::array<double, 3> first{}, second{};
  ASSERT_EQ(data().RequestManipulability(first, second).code, kOk);
  CustomReply(8, {{"float_container", {9, 9, 1, 2, 3, 4, 5, 6}}});
  ASSERT_EQ(data().RequestManipulability(first, second).code, kOk);
  EXPECT_EQ(first, (std::array<double, 3>{1, 2, 3}));
  EXPECT_EQ(second, (std::array<double, 3>{4, 5, 6}));

  CustomReply(8, {{"float_container", {9, 9, 1, 2, 3, 4, 5}}});
  EXPECT_EQ(data().RequestManipulability(first, second).code, kFault);
  EXPECT_EQ(log_.Count("Size of float container is 7, expecting at least 8"), 1u);
  EXPECT_EQ(first, (std::array<double, 3>{1, 2, 3}));
  EXPECT_EQ(second, (std::array<double, 3>{4, 5, 6}));
  CustomReply(8, {{"float_container", json::array()}});
  EXPECT_EQ(data().RequestManipulability(first, second).code, kFault);

  CustomReply(8, {{"float_container", {0, 0, 7, 8, 9, 10, 11, 12, 13}}});
  ASSERT_EQ(data().RequestManipulability(first, second).code, kOk);
  EXPECT_EQ(first, (std::array<double, 3>{7, 8, 9}));
  EXPECT_EQ(second, (std::array<double, 3>{10, 11, 12}));
  EXPECT_EQ(Requests(8).size(), 5u);
}

}  // namespace
