#include "vek/data_types.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace quiral::vek {
namespace {

TEST(ValueTypes, DefaultsAreZeroAndEmpty) {
  const Coord coord;
  for (double v : coord.position) EXPECT_EQ(v, 0.0);
  for (double v : coord.orientation) EXPECT_EQ(v, 0.0);
  for (double v : coord.ref_q_m) EXPECT_EQ(v, 0.0);
  for (double v : coord.ref_q_e) EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(coord.ref_frame[0].empty());
  EXPECT_TRUE(coord.ref_frame[1].empty());
  EXPECT_EQ(coord.position.size() + coord.orientation.size() + coord.ref_frame.size() +
                coord.ref_q_m.size() + coord.ref_q_e.size(),
            21u);

  const JPos jpos;
  EXPECT_EQ(jpos.q_m.size() + jpos.q_e.size(), 13u);
  for (double v : jpos.q_m) EXPECT_EQ(v, 0.0);
  for (double v : jpos.q_e) EXPECT_EQ(v, 0.0);

  const RobotInfo info;
  EXPECT_EQ(info.DoF, 0u);
  EXPECT_TRUE(info.K_q_max.empty());
  EXPECT_FALSE(info.reply_flag);
  for (double v : info.K_x_max) EXPECT_EQ(v, 0.0);

  const RobotStates states;
  EXPECT_EQ(states.timestamp[0], 0);
  EXPECT_EQ(states.timestamp[1], 0);
  EXPECT_TRUE(states.link_position.empty());
  for (double v : states.tcp_pose) EXPECT_EQ(v, 0.0);

  const PlanInfo plan;
  EXPECT_EQ(plan.item_6, 0.0);
  EXPECT_FALSE(plan.item_7);

  const NrtCartesianCmd cmd;
  EXPECT_EQ(cmd.max_angular_acc, 0.0);

  const GripperParams params;
  EXPECT_TRUE(params.name.empty());
  EXPECT_EQ(params.max_force, 0.0);
  const GripperStates gripper;
  EXPECT_FALSE(gripper.is_moving);
}

TEST(ParamVariant, AlternativesInTheirOrder) {
  EXPECT_EQ(std::variant_size_v<ParamVariant>, 10u);
  EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<0, ParamVariant>, int>));
  EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<1, ParamVariant>, double>));
  EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<2, ParamVariant>, std::string>));
  EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<3, ParamVariant>, JPos>));
  EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<4, ParamVariant>, Coord>));
  EXPECT_TRUE(
      (std::is_same_v<std::variant_alternative_t<5, ParamVariant>, std::vector<int>>));
  EXPECT_TRUE(
      (std::is_same_v<std::variant_alternative_t<6, ParamVariant>, std::vector<double>>));
  EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<7, ParamVariant>,
                              std::vector<std::string>>));
  EXPECT_TRUE(
      (std::is_same_v<std::variant_alternative_t<8, ParamVariant>, std::vector<JPos>>));
  EXPECT_TRUE(
      (std::is_same_v<std::variant_alternative_t<9, ParamVariant>, std::vector<Coord>>));
}

TEST(NameTables, ModeNamesFollowTheEnumeration) {
  ASSERT_EQ(kModeNames.size(), 13u);
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::UNKNOWN)], "UNKNOWN");
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::IDLE)], "IDLE");
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::RT_JOINT_POSITION)], "RT_JOINT_POSITION");
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::NRT_PLAN_EXECUTION)], "NRT_PLAN_EXECUTION");
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::NRT_CARTESIAN_MOTION_FORCE)],
            "NRT_CARTESIAN_MOTION_FORCE");
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::AUTO_RECOVERY)], "AUTO_RECOVERY");
  ASSERT_EQ(kModeNamesWithoutRecovery.size(), 12u);
  EXPECT_EQ(kModeNamesWithoutRecovery.back(), "NRT_SUPER_PRIMITIVE");
  for (std::size_t i = 0; i < kModeNamesWithoutRecovery.size(); ++i) {
    EXPECT_EQ(kModeNamesWithoutRecovery[i], kModeNames[i]);
  }
  // The link's mode enumeration carries the same values.
  EXPECT_EQ(static_cast<int>(qor::ExtCtrlMode::AUTO_RECOVERY),
            static_cast<int>(Mode::AUTO_RECOVERY));
  EXPECT_EQ(static_cast<int>(qor::ExtCtrlMode::NRT_SUPER_PRIMITIVE),
            static_cast<int>(Mode::NRT_SUPER_PRIMITIVE));
}

TEST(NameTables, OperationalStatusTexts) {
  ASSERT_EQ(kOperationalStatusTexts.size(), 12u);
  EXPECT_EQ(kOperationalStatusTexts[static_cast<int>(OperationalStatus::UNKNOWN)],
            "Unknown status");
  EXPECT_EQ(kOperationalStatusTexts[static_cast<int>(OperationalStatus::READY)], "Ready");
  EXPECT_EQ(kOperationalStatusTexts[static_cast<int>(OperationalStatus::ESTOP_NOT_RELEASED)],
            "E-Stop not released");
  EXPECT_EQ(kOperationalStatusTexts[static_cast<int>(OperationalStatus::MINOR_FAULT)],
            "Minor fault occurred");
  EXPECT_EQ(kOperationalStatusTexts[static_cast<int>(OperationalStatus::IN_MANUAL_MODE)],
            "In Manual mode");
  EXPECT_EQ(kOperationalStatusTexts[static_cast<int>(OperationalStatus::IN_AUTO_MODE)],
            "In regular Auto mode");
  EXPECT_EQ(static_cast<int>(CoordType::WORLD), 0);
  EXPECT_EQ(static_cast<int>(CoordType::TCP), 1);
}

TEST(NameTables, SystemStatesByValue) {
  ASSERT_EQ(kSystemStateNames.size(), 19u);
  for (int v = 0; v <= 18; ++v) {
    EXPECT_EQ(kSystemStateNames.count(static_cast<qor::SystemState>(v)), 1u) << v;
  }
  EXPECT_EQ(kSystemStateNames.at(qor::SystemState::UNKNOWN), "UNKNOWN");
  EXPECT_EQ(kSystemStateNames.at(qor::SystemState::FAULT_EXTERNAL_AUTO),
            "FAULT_EXTERNAL_AUTO");
  EXPECT_EQ(kSystemStateNames.at(static_cast<qor::SystemState>(18)),
            "RECOVERY_EXTERNAL_AUTO");
  EXPECT_EQ(kSystemStateNames.count(static_cast<qor::SystemState>(19)), 0u);
}

TEST(NameTables, SafetyBoardStatesInAscendingOrderFromMinusOne) {
  ASSERT_EQ(kSafetyBoardStateNames.size(), 11u);
  const std::vector<std::pair<int, std::string>> expected = {
      {-1, "UNKNOWN"},   {0, "STARTUP"},       {8, "SYNC"},         {9, "RECOVERY"},
      {10, "REDUCED"},   {12, "NORMAL"},       {14, "TRANSITION"},  {24, "RELEASE_BRAKE"},
      {40, "CAT_0_STOP"}, {72, "CAT_1_STOP"}, {136, "CAT_2_STOP"}};
  std::size_t i = 0;
  for (const auto& [state, name] : kSafetyBoardStateNames) {
    EXPECT_EQ(static_cast<int>(state), expected[i].first);
    EXPECT_EQ(name, expected[i].second);
    ++i;
  }
  EXPECT_EQ(kSafetyBoardStateNames.count(static_cast<qor::SafetyBoardState>(11)), 0u);
}

TEST(NameTables, VersionsAndStiffnessTables) {
  EXPECT_EQ(kVEKVersion, "v1.9.3");
  EXPECT_EQ(kLUMOVersion, "v1.4");
  EXPECT_EQ(kMaxJointStiffnessVarno4,
            (std::vector<double>{6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  EXPECT_EQ(kMaxJointStiffnessVarno10,
            (std::vector<double>{12000, 12000, 10000, 10000, 5000, 5000, 5000}));
  EXPECT_EQ(kMaxJointStiffnessStarfloat, (std::vector<double>{6000, 6000, 6000}));
  EXPECT_EQ(kMaxJointStiffnessOmbriskL, kMaxJointStiffnessVarno4);
}

}  // namespace
}  // namespace quiral::vek
