#include "python/solve_json.h"

#include <chrono>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "model/anytime_points.h"
#include "model/json_loader.h"
#include "model/problem.h"
#include "python/console_forward.h"
#include "python/progress_watch.h"
#include "python/signal_watch.h"
#include "search/solver.h"

namespace py = pybind11;

namespace tarsel {

namespace {

// A route's "stops": per node of its path, its position and the times of
// the schedule, with the load after it when routes carry loads.
py::list BuildStops(const std::vector<ScheduledStop>& stops, bool loads) {
  py::list listed;
  for (const ScheduledStop& stop : stops) {
    py::dict entry;
    entry["position"] = py::int_(stop.node);
    entry["arrival"] = py::float_(stop.arrival);
    entry["start"] = py::float_(stop.start);
    entry["departure"] = py::float_(stop.departure);
    if (loads) entry["load"] = py::float_(stop.load);
    listed.append(std::move(entry));
  }
  return listed;
}

// One entry of "routes" per element of agents_ordered, keyed by its position;
// `totals` accumulates the listed costs. With `loads`, each route also
// carries its "load" (0 without a route); with `stops`, its "stops" (empty
// without a route).
py::list BuildRoutes(const std::deque<Agent>& agents, const Result& result, bool loads, bool stops,
                     CostTotals& totals) {
  py::list routes;
  for (size_t k = 0; k < agents.size(); ++k) {
    py::list path;
    const auto path_it = result.paths.find(k);
    if (path_it != result.paths.end()) {
      for (uint64_t node : path_it->second) path.append(py::int_(node));
    }
    const auto cost_it = result.times.find(k);
    const double cost = cost_it != result.times.end() ? cost_it->second : 0.0;
    totals.Add(cost);

    py::dict route;
    route["agent_id"] = py::int_(agents[k].id);
    route["path"] = std::move(path);
    route["cost"] = py::float_(cost);
    if (loads) {
      const auto load_it = result.loads.find(k);
      route["load"] = py::float_(load_it != result.loads.end() ? load_it->second : 0.0);
    }
    if (stops) {
      const auto stops_it = result.stops.find(k);
      route["stops"] = stops_it != result.stops.end() ? BuildStops(stops_it->second, loads) : py::list();
    }
    routes.append(std::move(route));
  }
  return routes;
}

// With `wall`, each entry also carries "wall_time" (wall-clock seconds).
py::list BuildAnytime(const AnytimeLog& log, ObjectiveType objective, bool wall) {
  py::list anytime;
  for (const AnytimePoint& point : ImprovingPoints(log, objective)) {
    py::dict entry;
    entry["time"] = py::float_(point.time);
    entry["max_cost"] = py::float_(point.max_cost);
    entry["sum_cost"] = py::float_(point.sum_cost);
    if (wall) entry["wall_time"] = py::float_(point.wall_time);
    anytime.append(std::move(entry));
  }
  return anytime;
}

}  // namespace

namespace {

// The reader proper; runs without the interpreter lock.
Problem ParseDocument(std::string json_text) {
  Problem problem;
  const nlohmann::json document = nlohmann::json::parse(json_text);
  std::string().swap(json_text);
  std::string refusal;
  try {
    ParseProblemJson(document, problem, &refusal);
  } catch (const nlohmann::json::exception& error) {
    throw DocumentRefused(error.what(), std::move(refusal));
  }
  return problem;
}

}  // namespace

Problem ReadProblem(std::string json_text) {
  py::gil_scoped_release free;
  return ParseDocument(std::move(json_text));
}

Problem ReadProblemFile(const std::string& input_path) {
  py::gil_scoped_release free;
  std::ifstream input(input_path, std::ios::binary);
  if (!input.is_open()) throw std::runtime_error("Cannot open file: " + input_path);
  std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  return ParseDocument(std::move(text));
}

py::dict SolveJson(std::string json_text, double time_limit, py::object on_progress) {
  return SolveProblem(ReadProblem(std::move(json_text)), time_limit, std::move(on_progress));
}

py::dict SolveProblem(Problem problem, double time_limit, py::object on_progress, py::object on_console,
                      bool wall_times) {
  if (time_limit > 0) problem.options.time_limit = time_limit;
  // The result needs the agents and the objective; the Solver takes the
  // Problem itself, so its matrices are not held twice.
  const auto agents = problem.agents_ordered;
  const Options options = problem.options;

  // Wall-clock time of the whole solve, construction and preprocessing included.
  const auto start = std::chrono::steady_clock::now();
  python::ConsoleForward console(std::move(on_console));
  // Building the solver and the solve itself run without the interpreter
  // lock, so that other Python threads run meanwhile; the watches take it
  // back for the moments they call into Python.
  std::unique_ptr<Solver> built;
  {
    py::gil_scoped_release free;
    built = std::make_unique<Solver>(std::move(problem), options);
  }
  Solver& solver = *built;
  console.Finish();  // the callable raised while the solver was built: no search
  python::SignalWatch watch(solver);
  python::ProgressWatch progress(solver, watch, std::move(on_progress));
  console.Watch(solver, watch);
  int found = 0;
  {
    py::gil_scoped_release free;
    found = solver.Solve();
  }
  watch.Finish(found == 1);
  const auto end = std::chrono::steady_clock::now();
  const double solve_time =
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()) /
      1e9;

  const Result result = solver.GetResult();
  const AnytimeLog log = solver.GetResultProcess();

  CostTotals totals;
  py::list routes = BuildRoutes(agents, result, options.enforce_capacity, options.schedule, totals);

  py::dict statistics;
  statistics["solve_time"] = py::float_(solve_time);
  statistics["max_cost"] = py::float_(totals.max_cost);
  statistics["sum_cost"] = py::float_(totals.sum_cost);
  statistics["n_generated"] = py::int_(result.n_generated);
  statistics["n_expanded"] = py::int_(result.n_expanded);
  statistics["last_update_time"] = py::float_(result.last_update_time);

  py::dict output;
  output["status"] = py::str(result.paths.empty() ? "failed" : "success");
  output["timeout"] = py::bool_(result.timeout);
  output["routes"] = std::move(routes);
  output["statistics"] = std::move(statistics);
  // The wall clock joins the trace when the solve was bounded by it, or when the caller asks for it.
  output["anytime"] = BuildAnytime(log, options.objective, wall_times || options.wall_time_limit > 0);
  progress.Finish([&output] { return py::object(output); });
  console.Finish([&output] { return py::object(output); });
  return output;
}

py::dict solve_json_file(const std::string& input_path, double time_limit, py::object on_progress) {
  return SolveProblem(ReadProblemFile(input_path), time_limit, std::move(on_progress));
}

}  // namespace tarsel
