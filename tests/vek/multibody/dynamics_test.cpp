// Kinematics and dynamics at random states: Jacobians against finite
// differences, the mass matrix against kinetic energy, Coriolis terms
// against Lagrange's equations and the skew property, gravity against the
// potential energy, and everything against Orocos KDL on a 7-DoF arm.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <Eigen/Cholesky>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainjnttojacsolver.hpp>

#include "tests/vek/multibody/test_models.h"
#include "vek/multibody/multi_body.h"
#include "vek/multibody/urdf.h"

namespace quiral::vek::multibody {
namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;
using testing_util::ReadTestUrdf;
using Vector6d = Eigen::Matrix<double, 6, 1>;

MultiBody Load(const std::string& urdf) {
  Description description = ParseUrdf(ReadTestUrdf(urdf));
  const Eigen::Isometry3d com(Eigen::Translation3d(0.01, 0.0, 0.05));
  const Eigen::Matrix3d inertia = Eigen::Vector3d(1e-3, 2e-3, 1.5e-3).asDiagonal();
  description.AddFixedLink("tool", {0.7, com, inertia}, "flange", "tool_joint",
                           Eigen::Isometry3d(Eigen::Translation3d(0.0, 0.02, 0.1)));
  return MultiBody(Tree(description));
}

struct State {
  VectorXd q, qdot;
};

std::vector<State> RandomStates(Eigen::Index dof, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> angle(-M_PI, M_PI), rate(-2.0, 2.0);
  std::vector<State> states(10, {VectorXd(dof), VectorXd(dof)});
  for (State& s : states) {
    for (Eigen::Index i = 0; i < dof; ++i) s.q[i] = angle(random), s.qdot[i] = rate(random);
  }
  return states;
}

// Central difference of f along `direction` of the positions, at the
// model's state.
template <typename F>
MatrixXd Rate(const MultiBody& model, const VectorXd& direction, F f) {
  constexpr double kStep = 1e-6;
  MultiBody probe = model;
  probe.Update(model.positions() + kStep * direction, model.velocities());
  const MatrixXd plus = f(probe);
  probe.Update(model.positions() - kStep * direction, model.velocities());
  return (plus - f(probe)) / (2 * kStep);
}

class MultiBodyProperties : public testing::TestWithParam<const char*> {};

TEST_P(MultiBodyProperties, JacobiansAreTheRatesOfPosesAndOfJacobians) {
  MultiBody model = Load(GetParam());
  const auto dof = static_cast<Eigen::Index>(model.dof());
  Jacobian j, j_dot;
  for (const State& s : RandomStates(dof, 1)) {
    model.Update(s.q, s.qdot);
    for (std::size_t b = 0; b < model.tree().bodies().size(); ++b) {
      model.BodyJacobian(b, j);
      model.BodyJacobianDot(b, j_dot);
      for (Eigen::Index k = 0; k < dof; ++k) {
        const MatrixXd pose_rate =
            Rate(model, VectorXd::Unit(dof, k),
                 [b](MultiBody& m) -> MatrixXd { return m.pose(b).matrix().topRows<3>(); });
        const Eigen::Matrix3d w = pose_rate.leftCols<3>() * model.pose(b).linear().transpose();
        Vector6d expected;
        expected << pose_rate.col(3), w(2, 1), w(0, 2), w(1, 0);
        EXPECT_LT((j.col(k) - expected).norm(), 1e-7) << "body " << b << " joint " << k;
      }
      const MatrixXd j_rate = Rate(model, s.qdot, [b](MultiBody& m) -> MatrixXd {
        Jacobian out;
        m.BodyJacobian(b, out);
        return out;
      });
      EXPECT_LT((j_dot - j_rate).norm(), 1e-6) << "body " << b;
    }
  }
}

TEST_P(MultiBodyProperties, DynamicsAgreeWithTheEnergiesAndTheSkewProperty) {
  MultiBody model = Load(GetParam());
  model.set_gravity({0.8, -1.5, -9.7});
  const auto& bodies = model.tree().bodies();
  const auto dof = static_cast<Eigen::Index>(model.dof());
  const auto potential = [&bodies](MultiBody& m) -> MatrixXd {
    double v = 0.0;
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      v -= bodies[b].mass * m.gravity().dot(m.pose(b) * bodies[b].com);
    }
    return MatrixXd::Constant(1, 1, v);
  };
  Jacobian j;
  for (const State& s : RandomStates(dof, 2)) {
    model.Update(s.q, s.qdot);
    const MatrixXd m = model.MassMatrix();
    EXPECT_EQ(m, m.transpose());
    EXPECT_EQ(m.llt().info(), Eigen::Success);
    double kinetic = 0.0;
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      model.BodyJacobian(b, j);
      const Vector6d v = j * s.qdot;
      const Eigen::Matrix3d& r = model.pose(b).linear();
      const Eigen::Vector3d v_com = v.head<3>() + v.tail<3>().cross(r * bodies[b].com);
      kinetic += 0.5 * (bodies[b].mass * v_com.squaredNorm() +
                        v.tail<3>().dot(r * bodies[b].inertia * r.transpose() * v.tail<3>()));
    }
    EXPECT_NEAR(0.5 * s.qdot.dot(m * s.qdot), kinetic, 1e-10);

    // Lagrange: Coriolis torques_k = (dM/dt qdot)_k - 1/2 qdot^T dM/dq_k qdot.
    const MatrixXd m_dot =
        Rate(model, s.qdot, [](MultiBody& x) -> MatrixXd { return x.MassMatrix(); });
    VectorXd coriolis = m_dot * s.qdot;
    for (Eigen::Index k = 0; k < dof; ++k) {
      const MatrixXd m_k = Rate(model, VectorXd::Unit(dof, k),
                                [](MultiBody& x) -> MatrixXd { return x.MassMatrix(); });
      coriolis[k] -= 0.5 * s.qdot.dot(m_k * s.qdot);
      EXPECT_NEAR(model.GravityTorques()[k], Rate(model, VectorXd::Unit(dof, k), potential)(0, 0),
                  1e-7);
    }
    EXPECT_LT((model.CoriolisTorques() - coriolis).norm(), 1e-6);
    const MatrixXd c = model.CoriolisMatrix();
    EXPECT_LT((c * s.qdot - model.CoriolisTorques()).norm(), 1e-10);
    const MatrixXd n = m_dot - 2 * c;
    EXPECT_LT((n + n.transpose()).norm(), 1e-6);
    EXPECT_LT((model.NonLinearEffects() - c * s.qdot - model.GravityTorques()).norm(), 1e-10);
  }
}

INSTANTIATE_TEST_SUITE_P(TestRobots, MultiBodyProperties,
                         testing::Values("arm7.urdf", "rail_arm.urdf"));

TEST(MultiBodyAgainstKdl, SevenDofArmPosesJacobianMassGravityAndCoriolis) {
  const Description description = ParseUrdf(ReadTestUrdf("arm7.urdf"));
  MultiBody model{Tree(description)};
  const KDL::Chain chain = testing_util::KdlChain(description, "flange");
  ASSERT_EQ(chain.getNrOfJoints(), 7u);
  KDL::ChainFkSolverPos_recursive fk(chain);
  KDL::ChainJntToJacSolver jacobian(chain);
  KDL::ChainDynParam dynamics(chain, KDL::Vector(0.0, 0.0, -9.81));
  KDL::JntArray q(7), qdot(7), gravity(7), coriolis(7);
  KDL::Jacobian kdl_j(7);
  KDL::JntSpaceInertiaMatrix mass(7);
  Jacobian j;
  for (const State& s : RandomStates(7, 3)) {
    model.Update(s.q, s.qdot);
    q.data = s.q;
    qdot.data = s.qdot;
    for (unsigned segment = 0; segment < chain.getNrOfSegments(); ++segment) {
      KDL::Frame frame;
      fk.JntToCart(q, frame, static_cast<int>(segment) + 1);
      const std::string& link = chain.getSegment(segment).getName();
      const Eigen::Matrix4d pose = model.pose(*model.tree().body_index(link)).matrix();
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(pose(r, c), frame.M(r, c), 1e-12) << link;
        EXPECT_NEAR(pose(r, 3), frame.p(r), 1e-12) << link;
      }
    }
    jacobian.JntToJac(q, kdl_j);
    model.BodyJacobian(*model.tree().body_index("flange"), j);
    dynamics.JntToMass(q, mass);
    dynamics.JntToGravity(q, gravity);
    dynamics.JntToCoriolis(q, qdot, coriolis);
    EXPECT_LT((j - kdl_j.data).norm(), 1e-12);
    EXPECT_LT((model.MassMatrix() - mass.data).norm(), 1e-12);
    EXPECT_LT((model.GravityTorques() - gravity.data).norm(), 1e-11);
    EXPECT_LT((model.CoriolisTorques() - coriolis.data).norm(), 1e-11);
    EXPECT_LT((model.CoriolisMatrix() * s.qdot - coriolis.data).norm(), 1e-11);
  }
}

TEST(MultiBodyUpdate, RefusesBadInputsKeepingItsStateAndAppliesANewGravity) {
  MultiBody model = Load("arm7.urdf");
  const VectorXd q = VectorXd::Constant(7, 0.3), zero = VectorXd::Zero(7);
  model.Update(q, zero);
  const Eigen::Matrix4d flange = model.pose(8).matrix();
  VectorXd nan = zero, inf = zero;
  nan[2] = std::numeric_limits<double>::quiet_NaN();
  inf[6] = -std::numeric_limits<double>::infinity();
  const std::string prefix = "[quiral::vek::multibody::MultiBody::Update] ";
  const struct {
    VectorXd q, qdot;
    std::string error;
  } cases[] = {
      {VectorXd::Zero(6), zero, "Size of vector [positions] is 6, expected 7"},
      {zero, VectorXd::Zero(8), "Size of vector [velocities] is 8, expected 7"},
      {nan, zero, "Vector [positions] holds a non-finite value"},
      {zero, inf, "Vector [velocities] holds a non-finite value"},
  };
  for (const auto& c : cases) {
    try {
      model.Update(c.q, c.qdot);
      ADD_FAILURE() << c.error;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), prefix + c.error);
    }
  }
  EXPECT_EQ(model.positions(), q);
  EXPECT_EQ(model.pose(8).matrix(), flange);
  EXPECT_THROW(model.set_gravity({0.0, 0.0, std::nan("")}), std::invalid_argument);
  const VectorXd gravity = model.GravityTorques();
  model.set_gravity({0.0, 0.0, -2 * 9.81});
  EXPECT_TRUE(model.GravityTorques().isApprox(2 * gravity));
}

}  // namespace
}  // namespace quiral::vek::multibody
