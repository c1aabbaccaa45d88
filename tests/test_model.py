"""Python view of the problem model: defaults, enumerations, references and copies."""

import pickle
import sys

import pytest

import _kvr_core as core


MODEL_NAMES = [
    "ObjectiveType",
    "NodeType",
    "Position",
    "Node",
    "Agent",
    "Options",
    "AssignmentConstraint",
    "TimeWindowConstraint",
    "Problem",
]


def make_agent(agent_id=1, type_name="truck"):
    agent = core.Agent()
    agent.id = agent_id
    agent.type = type_name
    return agent


def test_module_registers_model_in_order():
    assert core.__doc__ == "KVR MTSP Solver — C++ core bindings"
    registered = [name for name in vars(core) if name in MODEL_NAMES]
    assert registered == MODEL_NAMES


def test_record_defaults():
    options = core.Options()
    assert options.return_to_end is True
    assert options.objective == core.ObjectiveType.MinSum
    assert options.time_limit == 60.0

    node = core.Node()
    assert (node.id, node.type, node.demand) == (0, core.NodeType.TARGET, 0.0)
    assert (node.position.x, node.position.y, node.position.z) == (0.0, 0.0, 0.0)

    agent = core.Agent()
    assert (agent.id, agent.type, agent.start_node, agent.end_node) == (0, "", 0, 0)
    assert (agent.capacity_limit, agent.time_limit) == (0.0, 0.0)

    problem = core.Problem()
    assert problem.nodes() == []
    assert problem.agents_ordered() == []
    assert problem.options().objective == core.ObjectiveType.MinSum
    assert problem.options().time_limit == 60.0


def test_enumerations():
    assert int(core.ObjectiveType.MinMax) == 0
    assert int(core.ObjectiveType.MinSum) == 1
    assert core.NodeType.DEPOT.value == 0
    assert int(core.NodeType.TARGET) == 1
    assert core.NodeType.DEPOT.name == "DEPOT"
    assert core.ObjectiveType(0) == core.ObjectiveType.MinMax
    assert core.ObjectiveType.MinMax != core.ObjectiveType.MinSum
    assert len({core.NodeType.DEPOT, core.NodeType.TARGET, core.NodeType(0)}) == 2
    assert set(core.NodeType.__members__) == {"DEPOT", "TARGET"}
    for member in ("MinMax", "MinSum", "DEPOT", "TARGET"):
        assert not hasattr(core, member)


@pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
def test_enumerations_pickle(protocol):
    for member in (*core.ObjectiveType.__members__.values(), *core.NodeType.__members__.values()):
        restored = pickle.loads(pickle.dumps(member, protocol=protocol))
        assert type(restored) is type(member)
        assert restored == member
        assert hash(restored) == hash(member)


def test_int_arguments_are_accepted_for_floats():
    position = core.Position()
    position.y = 3
    assert position.y == 3.0 and isinstance(position.y, float)
    window = core.TimeWindowConstraint()
    window.set_timewindow(node=1, start=0, end=5)
    problem = core.Problem()
    problem.set_cost_matrix(agent_type="truck", matrix=[[0, 1], [2.5, 0]])


def test_node_position_is_a_view_and_assignment_copies():
    node = core.Node()
    refs_before = sys.getrefcount(node)
    position = node.position
    assert sys.getrefcount(node) == refs_before + 1  # the view keeps the node alive
    position.x = 4.0
    assert node.position.x == 4.0

    replacement = core.Position()
    replacement.z = 2.0
    node.position = replacement
    replacement.z = 9.0
    assert node.position.z == 2.0
    assert position.z == 2.0  # the earlier view still reads the node


def test_problem_stores_copies():
    problem = core.Problem()
    node = core.Node()
    node.demand = 1.0
    problem.add_node(node=node)
    node.demand = 5.0
    assert problem.nodes()[0].demand == 1.0

    agent = make_agent(3)
    problem.add_agent(agent=agent, id=7)
    agent.capacity_limit = 10.0
    stored = problem.agents_ordered()
    assert len(stored) == 1
    assert stored[0].id == 3
    assert stored[0].capacity_limit == 0.0


def test_problem_accessors_write_through():
    problem = core.Problem()
    problem.add_node(core.Node())
    problem.add_node(core.Node())
    problem.add_agent(make_agent(1), 1)
    problem.add_agent(make_agent(1, "drone"), 1)

    nodes = problem.nodes()
    assert nodes is not problem.nodes()
    nodes[1].demand = 2.5
    nodes[1].position.y = -1.0
    nodes.append(core.Node())  # the list itself is a fresh copy
    assert [n.demand for n in problem.nodes()] == [0.0, 2.5]
    assert problem.nodes()[1].position.y == -1.0

    agents = problem.agents_ordered()
    assert [a.type for a in agents] == ["truck", "drone"]
    agents[0].time_limit = 30.0
    assert problem.agents_ordered()[0].time_limit == 30.0

    options = problem.options()
    options.objective = core.ObjectiveType.MinMax
    options.return_to_end = False
    assert problem.options().objective == core.ObjectiveType.MinMax
    assert problem.options().return_to_end is False


def test_fetched_elements_stay_valid_after_more_additions():
    """Adding records must not leave earlier fetched elements dangling."""
    problem = core.Problem()
    problem.add_node(core.Node())
    problem.add_agent(make_agent(1), 1)
    node = problem.nodes()[0]
    agent = problem.agents_ordered()[0]
    for i in range(2000):
        extra = core.Node()
        extra.id = i + 1
        problem.add_node(extra)
        problem.add_agent(make_agent(i + 2), i + 2)
    node.demand = 4.0
    agent.time_limit = 9.0
    assert problem.nodes()[0].demand == 4.0
    assert problem.agents_ordered()[0].time_limit == 9.0
    assert problem.nodes()[1500].id == 1500


def test_returned_references_keep_problem_alive():
    problem = core.Problem()
    problem.add_node(core.Node())
    refs_before = sys.getrefcount(problem)
    options = problem.options()
    nodes = problem.nodes()
    agents = problem.agents_ordered()
    assert sys.getrefcount(problem) == refs_before + 2  # options and the one node
    del agents
    del problem
    options.time_limit = 5.0
    nodes[0].demand = 1.0
    assert (options.time_limit, nodes[0].demand) == (5.0, 1.0)


def test_constraint_setters_accept_named_arguments():
    assignment = core.AssignmentConstraint()
    assert assignment.set_assignment(node=2, types=["truck", "drone"]) is None
    windows = core.TimeWindowConstraint()
    assert windows.set_timewindow(node=2, start=1.0, end=4.0) is None
    problem = core.Problem()
    assert problem.set_assignment_constraint(constraint=assignment) is None
    assert problem.set_timewindow_constraint(constraint=windows) is None


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.Problem().add_agent(make_agent(), -1),
        lambda: setattr(core.Node(), "id", -1),
        lambda: setattr(core.Agent(), "start_node", -3),
        lambda: core.AssignmentConstraint().set_assignment(-1, ["truck"]),
        lambda: core.TimeWindowConstraint().set_timewindow(-1, 0.0, 1.0),
    ],
)
def test_negative_ids_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.Problem().add_node(core.Agent()),
        lambda: core.Problem().add_agent(make_agent(), 1.5),
        lambda: core.Problem().set_cost_matrix("truck", [[0, "1"]]),
        lambda: core.Problem().set_assignment_constraint(core.TimeWindowConstraint()),
        lambda: core.AssignmentConstraint().set_assignment(1, "truck"),
        lambda: setattr(core.Node(), "type", 0),
        lambda: setattr(core.Options(), "objective", "min_max"),
        lambda: setattr(core.Node(), "position", (1.0, 2.0, 3.0)),
    ],
)
def test_wrong_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()

