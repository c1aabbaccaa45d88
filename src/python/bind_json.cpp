#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include <cstring>
#include <exception>
#include <string>
#include <unordered_map>
#include <utility>
#include <nlohmann/json.hpp>

#include "common/console.h"
#include "common/progress.h"
#include "model/problem.h"
#include "python/console_forward.h"
#include "python/solve_json.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace tarsel::python {

namespace {

// The text as a Python str; bytes that are not UTF-8 become \xNN escapes.
PyObject* DecodedText(const char* text) {
  return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "backslashreplace");
}

// JSON errors quote the input at the point where reading stopped, which need
// not be valid UTF-8 (bytes of a file, or a multi-byte character cut short).
// The standard translation would then fail to build the message and raise
// UnicodeDecodeError; here such bytes become \xNN escapes and the error stays
// a RuntimeError carrying the library's message. A document's refused value
// also carries the place it arose in, as the attribute "detail".
void TranslateJsonError(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const DocumentRefused& e) {
    py::object message = py::reinterpret_steal<py::object>(DecodedText(e.what()));
    py::object detail = py::reinterpret_steal<py::object>(DecodedText(e.detail().c_str()));
    if (!message || !detail) {
      PyErr_Clear();
      PyErr_SetString(PyExc_RuntimeError, "invalid JSON document");
      return;
    }
    py::object instance = py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(message);
    instance.attr("detail") = detail;
    PyErr_SetObject(PyExc_RuntimeError, instance.ptr());
  } catch (const nlohmann::json::exception& e) {
    PyObject* message = DecodedText(e.what());
    if (message == nullptr) {
      PyErr_Clear();
      PyErr_SetString(PyExc_RuntimeError, "invalid JSON document");
      return;
    }
    PyErr_SetObject(PyExc_RuntimeError, message);
    Py_DECREF(message);
  }
}

// What both JSON entries do past reading their input (their docstrings' common part).
constexpr char kSolveDocBody[] =
    "time_limit: processor seconds of search; a positive value replaces the document's own\n"
    "limit (\"options\" \"time_limit\", default 60), any other keeps it.\n"
    "on_progress: None, or a callable taking one ProgressRecord, called on this thread on\n"
    "every improving solution (the entries of \"anytime\", in order; record.improving True)\n"
    "and, between them, at most once per second of processor time. When it raises, the\n"
    "solve stops as Ctrl-C stops it, and the exception propagates with the result dict of\n"
    "the best solution found so far (status \"failed\" when there is none) as its attribute\n"
    "'result'; a KeyboardInterrupt raised in it acts exactly as Ctrl-C does.\n"
    "\n"
    "Returns the result document as a dict: \"status\" (\"success\" or \"failed\"), \"timeout\"\n"
    "(the time limit, the memory budget or an interrupt ended the search), \"routes\" (one\n"
    "per agent in the order of \"agents\": \"agent_id\", \"path\" as positions in \"nodes\",\n"
    "\"cost\", \"load\", the demand it carries, when \"enforce_capacity\" is on, and\n"
    "\"stops\" when \"schedule\" is on: per node of \"path\" its \"position\", \"arrival\",\n"
    "\"start\" of service after waiting, \"departure\" and, beside \"load\", the \"load\" after it),\n"
    "\"statistics\" (\"solve_time\", \"max_cost\", \"sum_cost\", \"n_generated\",\n"
    "\"n_expanded\", \"last_update_time\") and \"anytime\" (the improving solutions: \"time\",\n"
    "\"max_cost\", \"sum_cost\").\n"
    "\n"
    "Raises RuntimeError for a text that is no JSON or a document of the wrong shape (for the\n"
    "latter with the attribute 'detail' naming the element and key, e.g. \"agents[0] (agent 7)\n"
    "has no key 'end_node'\"),\n"
    "IndexError naming the agent or type for an unknown node id or cost type, ValueError\n"
    "for repeated ids, a negative cost, a negative or non-finite demand with\n"
    "\"enforce_capacity\" on, a \"seed\", \"max_iterations\" or \"max_no_improvement\"\n"
    "outside the signed 64-bit range, tables and engine beyond \"memory_limit_mb\", or more\n"
    "than 256 nodes.\n"
    "Ctrl-C stops a running solve within a fraction of a second: the best solution found\n"
    "so far is returned with timeout True; before any solution the KeyboardInterrupt\n"
    "propagates.\n"
    "Reading and solving run without the interpreter lock, so other Python threads run\n"
    "meanwhile, and solves in different threads run at the same time.";

// The readers' console argument.
constexpr char kReadConsoleDoc[] =
    "on_console: None (warnings about the document go to standard error), or a callable\n"
    "taking one ConsoleRecord, called on this thread for each of them instead; an exception\n"
    "it raises propagates once the document is read.";

}  // namespace

void BindJsonEntry(py::module_& m) {
  py::register_exception_translator(&TranslateJsonError);
  using ProgressCallable = py::typing::Optional<py::typing::Callable<py::object(const ProgressRecord&)>>;
  using ConsoleCallable = py::typing::Optional<py::typing::Callable<py::object(const ConsoleRecord&)>>;
  m.def(
      "solve_json_file",
      [](const std::string& input_path, double time_limit, ProgressCallable on_progress) {
        return solve_json_file(input_path, time_limit, std::move(on_progress));
      },
      py::arg("input_path"), py::arg("time_limit") = -1, py::kw_only(), py::arg("on_progress") = py::none(),
      (std::string("Solve the instance document in the file input_path (UTF-8 JSON).\n\n") + kSolveDocBody +
       "\nA file that cannot be read raises RuntimeError \"Cannot open file: \" + input_path.")
          .c_str());
  m.def(
      "solve_json_str",
      [](const std::string& json_str, double time_limit, ProgressCallable on_progress) {
        return SolveJson(json_str, time_limit, std::move(on_progress));
      },
      py::arg("json_str"), py::arg("time_limit") = -1, py::kw_only(), py::arg("on_progress") = py::none(),
      (std::string("Solve the instance document held by the JSON text json_str.\n\n") + kSolveDocBody).c_str());

  // The reader on its own: a document read once into a Problem, which a
  // caller may change (its options()) and solve with solve_problem.
  m.def(
      "read_document",
      [](std::string json_str, ConsoleCallable on_console) {
        ConsoleForward console(std::move(on_console));
        Problem problem = ReadProblem(std::move(json_str));
        console.Finish();
        return problem;
      },
      py::arg("json_str"), py::kw_only(), py::arg("on_console") = py::none(),
      (std::string("Read the instance document held by the JSON text json_str into a new Problem, its\n"
                   "\"options\" in options(). Raises what solve_json_str raises for the document.\n") +
       kReadConsoleDoc)
          .c_str());
  m.def(
      "read_document_file",
      [](const std::string& input_path, ConsoleCallable on_console) {
        ConsoleForward console(std::move(on_console));
        Problem problem = ReadProblemFile(input_path);
        console.Finish();
        return problem;
      },
      py::arg("input_path"), py::kw_only(), py::arg("on_console") = py::none(),
      (std::string("Read the instance document in the file input_path (UTF-8 JSON) into a new Problem, its\n"
                   "\"options\" in options(). Raises what solve_json_file raises for the document.\n") +
       kReadConsoleDoc)
          .c_str());
  m.def(
      "solve_problem",
      [](Problem& problem, double time_limit, bool consume_costs, ProgressCallable on_progress,
         ConsoleCallable on_console, bool wall_times) {
        if (!consume_costs) {
          return SolveProblem(problem, time_limit, std::move(on_progress), std::move(on_console), wall_times);
        }
        // The matrices move into the solve; everything else is copied, so
        // that references into the problem's nodes and agents stay valid.
        std::unordered_map<std::string, CostMatrix> matrices;
        matrices.swap(problem.cost_matrices);
        Problem solved = problem;
        solved.cost_matrices = std::move(matrices);
        return SolveProblem(std::move(solved), time_limit, std::move(on_progress), std::move(on_console),
                            wall_times);
      },
      py::arg("problem"), py::arg("time_limit") = -1, py::kw_only(), py::arg("consume_costs") = false,
      py::arg("on_progress") = py::none(), py::arg("on_console") = py::none(), py::arg("wall_times") = false,
      (std::string("Solve problem under its options() and return the result document, as solve_json_str\n"
                   "does for the document the problem was read from.\n"
                   "consume_costs: True moves the problem's cost matrices into the solve instead of\n"
                   "copying them (the problem is left without them).\n"
                   "on_console: None (the solver's lines go to standard output and error), or a callable\n"
                   "taking one ConsoleRecord, called on this thread for each line instead. When it\n"
                   "raises, the solve stops and the exception propagates as one raised by on_progress\n"
                   "does (raised while the solver is built: before the search, without 'result').\n"
                   "wall_times: True gives every \"anytime\" entry its \"wall_time\" (wall-clock seconds\n"
                   "since the start), as a positive \"wall_time_limit\" does.\n\n") +
       kSolveDocBody)
          .c_str());
}

}  // namespace tarsel::python
