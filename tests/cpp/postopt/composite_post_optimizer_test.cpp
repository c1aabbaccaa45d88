#include "postopt/composite_post_optimizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "postopt_test_support.h"

namespace tarsel {
namespace {

using namespace postopt_testing;

// Writes every call it receives, with its own tag, into a shared log.
class RecordingOptimizer : public PostOptimizerPlugin {
 public:
  RecordingOptimizer(std::string tag, std::vector<std::string>* log)
      : tag(std::move(tag)), log(log) {}
  ~RecordingOptimizer() override { log->push_back(tag + " destroyed"); }
  std::string Name() const override { return tag; }
  void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                const std::vector<AgentInfo>& agents, Result& result) override {
    log->push_back(tag + " optimize " + std::to_string(graph->NumVertex()) + " " +
                   std::to_string(nodes.size()) + " " + std::to_string(agents.size()) + " " +
                   std::to_string(result.n_generated));
    ++result.n_generated;  // the next child must see this
  }
  void SetReturnToEnd(bool value) override {
    log->push_back(tag + " return " + std::to_string(value));
  }
  void SetStarts(const std::vector<size_t>& starts) override {
    log->push_back(tag + " starts " + std::to_string(starts.size()));
  }
  void SetGoals(const std::vector<size_t>& goals) override {
    log->push_back(tag + " goals " + std::to_string(goals.size()));
  }
  void SetTimeWindows(const TimeWindowTable& windows) override {
    log->push_back(tag + " windows " + std::to_string(windows.size()));
  }

 private:
  std::string tag;
  std::vector<std::string>* log;
};

TEST(CompositePostOptimizerTest, ForwardsEveryCallToChildrenInOrder) {
  std::vector<std::string> log;
  {
    CompositePostOptimizer composite;
    EXPECT_EQ(composite.Name(), "CompositePostOptimizer");
    composite.Add(std::make_unique<RecordingOptimizer>("A", &log));
    composite.Add(std::make_unique<RecordingOptimizer>("B", &log));
    composite.SetReturnToEnd(false);
    composite.SetStarts({0, 0});
    composite.SetGoals({0, 0, 0});
    composite.SetTimeWindows({{1, {0.0, 1.0}}});
    const SparseGraph graph = LineGraph({0, 1, 2});
    Result result;
    composite.Optimize(&graph, OpenNodes(3), MakeAgents({0, 0}), result);
    EXPECT_EQ(result.n_generated, 2);
  }
  EXPECT_EQ(log, (std::vector<std::string>{
                     "A return 0", "B return 0", "A starts 2", "B starts 2", "A goals 3",
                     "B goals 3", "A windows 1", "B windows 1", "A optimize 3 3 2 0",
                     "B optimize 3 3 2 1", "B destroyed", "A destroyed"}));
}

TEST(CompositePostOptimizerTest, WithoutChildrenNothingChanges) {
  CompositePostOptimizer composite;
  composite.SetReturnToEnd(true);
  const SparseGraph graph = LineGraph({0, 1});
  Result result = ResultWithPaths({{0, 1, 0}});
  result.n_generated = 4;
  composite.Optimize(&graph, OpenNodes(2), MakeAgents({0}), result);
  EXPECT_EQ(result.paths.at(0), (std::vector<uint64_t>{0, 1, 0}));
  EXPECT_EQ(result.n_generated, 4);
  EXPECT_TRUE(result.times.empty());
}

// The standard chain: the default optimiser resets the counters and
// rebalances, then the merger dissolves the route it left short.
TEST(CompositePostOptimizerTest, StandardChainBalancesThenMerges) {
  CompositePostOptimizer composite;
  composite.Add(std::make_unique<DefaultPostOptimizer>());
  composite.Add(std::make_unique<RouteMergingPostOptimizer>());
  ASSERT_EQ(composite.Children().size(), 2u);
  EXPECT_EQ(composite.Children()[0]->Name(), "DefaultPostOptimizer");
  EXPECT_EQ(composite.Children()[1]->Name(), "RouteMergingPostOptimizer");
  Configure(composite, DepotRules(3));

  // Line 0:0, 1:5, 2:-6, 3:-4, 4:3. The default optimiser moves node 1 from
  // the longest route 0 to the shortest route 2; with the bound 12 it left,
  // the merger folds route 1 into route 0 and route 2 into route 1.
  const SparseGraph graph = LineGraph({0, 5, -6, -4, 3});
  Result result = ResultWithPaths({{0, 1, 2, 0}, {0, 3, 0}, {0, 4, 0}});
  result.n_generated = 12;
  composite.Optimize(&graph, OpenNodes(5), MakeAgents({0, 0, 0}), result);
  EXPECT_EQ(result.n_generated, 0);
  EXPECT_EQ(result.paths.at(0), (std::vector<uint64_t>{0, 3, 2, 0}));
  EXPECT_EQ(result.paths.at(1), (std::vector<uint64_t>{0, 4, 1, 0}));
  EXPECT_EQ(result.paths.at(2), (std::vector<uint64_t>{0, 0}));
  EXPECT_EQ(result.times.at(0), 12.0);
  EXPECT_EQ(result.times.at(1), 10.0);
  EXPECT_EQ(result.times.at(2), 0.0);
}

}  // namespace
}  // namespace tarsel
