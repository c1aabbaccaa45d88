#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarsel {

// Directed graph whose arcs carry one cost per cost dimension (agent type).
// Every getter returns a copy.
class PlannerGraph {
 public:
  virtual ~PlannerGraph() = default;

  virtual bool HasVertex(size_t v) const = 0;
  virtual bool HasArc(size_t u, size_t v) const = 0;
  virtual std::vector<size_t> GetSuccs(size_t v) const = 0;
  virtual std::vector<size_t> GetPreds(size_t v) const = 0;
  // Cost vector of the arc u -> v; empty when there is no such arc.
  virtual std::vector<double> GetArcCost(size_t u, size_t v) const = 0;
  virtual std::vector<std::vector<double>> GetSuccCosts(size_t v) const = 0;
  virtual std::vector<std::vector<double>> GetPredCosts(size_t v) const = 0;
  virtual size_t NumVertex() const = 0;
  virtual size_t NumArc() const = 0;
  virtual size_t NumEdge() const = 0;
  virtual size_t GetCostDim() const = 0;
  virtual std::vector<size_t> GetAllVertices() const = 0;
  virtual void AddVertex(size_t v) = 0;
  virtual void AddEdge(size_t u, size_t v, std::vector<double> cost) = 0;
  virtual void AddArc(size_t u, size_t v, std::vector<double> cost) = 0;
  virtual void CreateFromEdges(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                               const std::vector<std::vector<double>>& costs) = 0;
  virtual void CreateFromArcs(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                              const std::vector<std::vector<double>>& costs) = 0;
  virtual void ChangeCostDim(size_t d, double fill) = 0;
  virtual bool SetArcCost(size_t u, size_t v, std::vector<double> cost) = 0;
  virtual std::string ToStr() const = 0;

  // One component of an arc's cost without copying the vector: component
  // `dim` of GetArcCost(u, v), and 0 when there is no arc or the vector has
  // no such component (callers count a missing arc as cost 0). Hot paths of
  // the search and the post-optimisers read costs through this.
  virtual double ArcCost(size_t u, size_t v, size_t dim) const {
    const std::vector<double> cost = GetArcCost(u, v);
    return dim < cost.size() ? cost[dim] : 0.0;
  }
};

}  // namespace tarsel
