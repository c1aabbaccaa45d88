#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "plugin_test_util.h"
#include "plugins/composite_constraint_checker.h"
#include "plugins/default_constraint_checker.h"
#include "plugins/time_limit_constraint_checker.h"

namespace tarsel {
namespace {

using testing::MakeAgents;
using testing::MakeGraph;
using testing::MakeLabel;
using testing::MakeNodes;

std::vector<std::vector<double>> Ones(size_t n) {
  return std::vector<std::vector<double>>(n, std::vector<double>(n, 1.0));
}

TEST(DefaultConstraintCheckerTest, AssignmentRule) {
  const SparseGraph graph = MakeGraph({Ones(3)});
  DefaultConstraintChecker checker;
  // Agent 2 has no known type.
  checker.Initialize(&graph, MakeNodes({{1}, {}, {0, 1}}), MakeAgents({0, 1, -1}));
  EXPECT_TRUE(checker.IsForbidden(0, 0));
  EXPECT_FALSE(checker.IsForbidden(1, 0));
  EXPECT_TRUE(checker.IsForbidden(0, 1));
  EXPECT_TRUE(checker.IsForbidden(1, 1));
  EXPECT_FALSE(checker.IsForbidden(0, 2));
  for (size_t node = 0; node < 3; ++node) EXPECT_TRUE(checker.IsForbidden(2, node));
  EXPECT_FALSE(checker.TypeAllowed(-1, 2));
  EXPECT_FALSE(checker.TypeAllowed(0, 3));  // outside the node table
}

TEST(DefaultConstraintCheckerTest, DeadEndOnceEveryTypeZeroAgentHasFinished) {
  const SparseGraph graph = MakeGraph({Ones(3), Ones(3)});
  DefaultConstraintChecker checker;
  checker.Initialize(&graph, MakeNodes({{0, 1}, {0, 1}, {0}}), MakeAgents({0, 1, 0}));
  Label label = MakeLabel(3, 3);
  label.visited.Set(0);
  label.visited.Set(1);

  label.finished = {1, 0, 0};  // one type-0 agent still active
  EXPECT_FALSE(checker.IsDeadEnd(label));
  label.finished = {1, 0, 1};
  EXPECT_TRUE(checker.IsDeadEnd(label));
  label.visited.Set(2);
  EXPECT_FALSE(checker.IsDeadEnd(label));

  // A node that type 1 may also visit is not stranded.
  DefaultConstraintChecker shared;
  shared.Initialize(&graph, MakeNodes({{0, 1}, {0, 1}, {0, 1}}), MakeAgents({0, 1, 0}));
  label.visited.Reset(2);
  EXPECT_FALSE(shared.IsDeadEnd(label));

  // Only the exact list [0] counts; [1] alone is never a dead end here.
  DefaultConstraintChecker other;
  other.Initialize(&graph, MakeNodes({{0, 1}, {0, 1}, {1}}), MakeAgents({0, 1, 0}));
  EXPECT_FALSE(other.IsDeadEnd(label));
}

TEST(TimeLimitConstraintCheckerTest, RouteLengthAtAndOverTheLimit) {
  const SparseGraph graph = MakeGraph({Ones(2)});
  TimeLimitConstraintChecker checker;
  checker.Initialize(&graph, MakeNodes({{0}, {1}}), MakeAgents({0, 0, 0}, {100.0, 0.0, -3.0}));
  Label label = MakeLabel(2, 3);
  label.costs = {100.0, 1e12, 1e12};
  EXPECT_TRUE(checker.IsAgentFeasible(label, 0));
  EXPECT_TRUE(checker.IsAgentFeasible(label, 1));
  EXPECT_TRUE(checker.IsAgentFeasible(label, 2));
  label.costs[0] = 100.5;
  EXPECT_FALSE(checker.IsAgentFeasible(label, 0));
  // Assignment and dead-end rules come from the inner default checker.
  EXPECT_FALSE(checker.IsForbidden(0, 0));
  EXPECT_TRUE(checker.IsForbidden(0, 1));
  label.finished = {1, 1, 1};
  EXPECT_TRUE(checker.IsDeadEnd(label));
}

// A child that answers from fixed settings and logs what it was asked.
struct Probe : ConstraintCheckerPlugin {
  Probe(std::string name, std::vector<std::string>* log) : name(std::move(name)), log(log) {}
  ~Probe() override { log->push_back("~" + name); }
  std::string Name() const override { return name; }
  void Initialize(const PlannerGraph*, const std::vector<NodeInfo>&,
                  const std::vector<AgentInfo>&) override {
    log->push_back("init " + name);
  }
  bool IsForbidden(size_t, size_t) const override {
    log->push_back("forbidden? " + name);
    return forbid;
  }
  MoveCheck ApplyMove(const Label& child, size_t agent, size_t) const override {
    log->push_back("apply " + name + " sees " + std::to_string(child.costs[agent]));
    return answer;
  }
  bool IsAgentFeasible(const Label&, size_t) const override {
    log->push_back("feasible? " + name);
    return agent_feasible;
  }
  bool IsDeadEnd(const Label&) const override {
    log->push_back("dead? " + name);
    return dead_end;
  }

  std::string name;
  std::vector<std::string>* log;
  bool forbid = false;
  MoveCheck answer{true, std::nullopt};
  bool agent_feasible = true;
  bool dead_end = false;
};

TEST(CompositeConstraintCheckerTest, EmptyCompositeAcceptsEverything) {
  CompositeConstraintChecker composite;
  Label label = MakeLabel(3, 1);
  label.costs[0] = 4.0;
  EXPECT_FALSE(composite.IsForbidden(0, 1));
  const MoveCheck move = composite.ApplyMove(label, 0, 1);
  EXPECT_TRUE(move.feasible);
  EXPECT_FALSE(move.new_cost.has_value());
  EXPECT_TRUE(composite.IsAgentFeasible(label, 0));
  EXPECT_FALSE(composite.IsDeadEnd(label));
}

TEST(CompositeConstraintCheckerTest, AsksChildrenInOrderAndStopsAtTheFirstNo) {
  std::vector<std::string> log;
  {
    CompositeConstraintChecker composite;
    auto first = std::make_unique<Probe>("a", &log);
    auto second = std::make_unique<Probe>("b", &log);
    Probe* a = first.get();
    Probe* b = second.get();
    composite.Add(std::move(first));
    composite.Add(std::move(second));
    composite.Initialize(nullptr, {}, {});
    Label label = MakeLabel(3, 1);
    label.costs[0] = 4.0;

    a->forbid = true;
    a->answer = MoveCheck{false, 99.0};
    a->agent_feasible = false;
    a->dead_end = true;
    EXPECT_TRUE(composite.IsForbidden(0, 1));
    const MoveCheck rejected = composite.ApplyMove(label, 0, 1);
    EXPECT_FALSE(rejected.feasible);
    EXPECT_EQ(rejected.new_cost, 99.0);  // the rejecting child's answer as is
    EXPECT_FALSE(composite.IsAgentFeasible(label, 0));
    EXPECT_TRUE(composite.IsDeadEnd(label));
    EXPECT_EQ(log, (std::vector<std::string>{"init a", "init b", "forbidden? a",
                                             "apply a sees 4.000000", "feasible? a", "dead? a"}));

    log.clear();
    a->forbid = false;
    a->dead_end = false;
    b->forbid = true;
    b->dead_end = true;
    EXPECT_TRUE(composite.IsForbidden(0, 1));
    EXPECT_TRUE(composite.IsDeadEnd(label));
    EXPECT_EQ(log, (std::vector<std::string>{"forbidden? a", "forbidden? b", "dead? a",
                                             "dead? b"}));
    log.clear();
  }
  // Children are destroyed from the last added to the first.
  EXPECT_EQ(log, (std::vector<std::string>{"~b", "~a"}));
}

TEST(CompositeConstraintCheckerTest, LaterChildrenSeeEarlierCostsAndTheLastOneIsReturned) {
  std::vector<std::string> log;
  CompositeConstraintChecker composite;
  auto first = std::make_unique<Probe>("a", &log);
  auto second = std::make_unique<Probe>("b", &log);
  auto third = std::make_unique<Probe>("c", &log);
  first->answer = MoveCheck{true, 10.0};
  second->answer = MoveCheck{true, 12.5};
  composite.Add(std::move(first));
  composite.Add(std::move(second));
  composite.Add(std::move(third));

  Label label = MakeLabel(3, 2);
  label.costs = {1.0, 4.0};
  const MoveCheck move = composite.ApplyMove(label, 1, 2);
  EXPECT_TRUE(move.feasible);
  EXPECT_EQ(move.new_cost, 12.5);
  EXPECT_EQ(log, (std::vector<std::string>{"apply a sees 4.000000", "apply b sees 10.000000",
                                           "apply c sees 12.500000"}));
  EXPECT_EQ(label.costs[1], 4.0);  // the caller's label is untouched

  // The scratch label does not carry costs over to the next call.
  log.clear();
  EXPECT_EQ(composite.ApplyMove(label, 1, 2).new_cost, 12.5);
  EXPECT_EQ(log.front(), "apply a sees 4.000000");
}

}  // namespace
}  // namespace tarsel
