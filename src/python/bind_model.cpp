#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include <deque>
#include <vector>

#include "model/constraints.h"
#include "model/problem.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

namespace {

// A new list whose elements refer to the stored records; each element keeps
// the owning Problem alive. The records live in a deque, so the references
// survive later add_node/add_agent calls.
template <typename Record>
py::typing::List<Record> ReferenceList(Problem& problem, std::deque<Record>& records) {
  // `problem` came from a Python object; casting its address finds that
  // object again instead of creating a new wrapper.
  const py::object owner = py::cast(&problem, py::return_value_policy::reference);
  py::typing::List<Record> items;
  for (Record& record : records) {
    items.append(py::cast(&record, py::return_value_policy::reference_internal, owner));
  }
  return items;
}

}  // namespace

void BindModel(py::module_& m) {
  py::class_<Position>(m, "Position")
      .def(py::init<>())
      .def_readwrite("x", &Position::x)
      .def_readwrite("y", &Position::y)
      .def_readwrite("z", &Position::z);

  // Reading `position` gives a view into the node (keeping it alive);
  // assigning it copies.
  py::class_<Node>(m, "Node")
      .def(py::init<>())
      .def_readwrite("id", &Node::id)
      .def_readwrite("position", &Node::position)
      .def_readwrite("type", &Node::type)
      .def_readwrite("demand", &Node::demand);

  py::class_<Agent>(m, "Agent")
      .def(py::init<>())
      .def_readwrite("id", &Agent::id)
      .def_readwrite("type", &Agent::type)
      .def_readwrite("start_node", &Agent::start_node)
      .def_readwrite("end_node", &Agent::end_node)
      .def_readwrite("capacity_limit", &Agent::capacity_limit)
      .def_readwrite("time_limit", &Agent::time_limit);

  py::class_<Options>(m, "Options")
      .def(py::init<>())
      .def_readwrite("return_to_end", &Options::return_to_end)
      .def_readwrite("objective", &Options::objective)
      .def_readwrite("time_limit", &Options::time_limit)
      .def_readwrite("wall_time_limit", &Options::wall_time_limit)
      .def_readwrite("memory_limit_mb", &Options::memory_limit_mb)
      .def_readwrite("improve", &Options::improve)
      .def_readwrite("seed", &Options::seed)
      .def_readwrite("max_iterations", &Options::max_iterations)
      .def_readwrite("max_no_improvement", &Options::max_no_improvement)
      .def_readwrite("threads", &Options::threads)
      .def_readwrite("enforce_capacity", &Options::enforce_capacity)
      .def_readwrite("missing_cost", &Options::missing_cost)
      .def_readwrite("enforce_precedence", &Options::enforce_precedence)
      .def_readwrite("schedule", &Options::schedule);

  py::class_<AssignmentConstraint>(m, "AssignmentConstraint")
      .def(py::init<>())
      .def("set_assignment", &AssignmentConstraint::set_assignment, py::arg("node"),
           py::arg("types"));

  py::class_<TimeWindowConstraint>(m, "TimeWindowConstraint")
      .def(py::init<>())
      .def("set_timewindow", &TimeWindowConstraint::set_timewindow, py::arg("node"),
           py::arg("start"), py::arg("end"));

  py::class_<Problem>(m, "Problem")
      .def(py::init<>())
      .def("add_node", &Problem::add_node, py::arg("node"))
      .def("add_agent", &Problem::add_agent, py::arg("agent"), py::arg("id"))
      .def("set_cost_matrix", &Problem::set_cost_matrix, py::arg("agent_type"), py::arg("matrix"))
      .def("set_assignment_constraint", &Problem::set_assignment_constraint,
           py::arg("constraint"))
      .def("set_timewindow_constraint", &Problem::set_timewindow_constraint,
           py::arg("constraint"))
      .def("options", &Problem::get_options, py::return_value_policy::reference_internal)
      .def("nodes", [](Problem& problem) { return ReferenceList(problem, problem.nodes); })
      .def("agents_ordered",
           [](Problem& problem) { return ReferenceList(problem, problem.agents_ordered); });
}

}  // namespace tarsel::python
