"""Hypothesis strategies for instance documents of the JSON entry.

`instances` draws small documents in the instance format: up to 8 nodes and
3 agents, ids dense, sparse or repeated, cost matrices complete, short,
ragged, oversized or missing, entries missing their connection (9999.0 and
above), now and then a negative cost,
assignment lists naming unknown types, windows that close before they open,
zero and negative route-length limits and every kind of options object.
`easy_instances` draws documents that always have a solution.
`tiny_instances` draws documents of every kind within reach of a brute force.
`mutated_documents` breaks a drawn document at one to three places: a value
of another JSON type, a removed key or element, an id that is negative,
fractional, huge or boolean, a reference to a node that does not exist.
`mutated_bytes` applies byte-level edits to the text of a document.
"""
from __future__ import annotations

import json
import random

from hypothesis import strategies as st

from kvr_mtsp.json_ints import as_u64

TYPE_POOL = ["truck", "drone", "van"]
OBJECTIVES = ["min_max", "MIN_MAX", "min_sum", "MIN_SUM", "MinMax", "minmax", ""]
NO_CONNECTION = 9999.0

coordinates = st.one_of(st.integers(-50, 50), st.floats(-50, 50, allow_nan=False, allow_infinity=False))
finite_costs = st.one_of(st.integers(0, 40), st.floats(0, 40, allow_nan=False).map(lambda x: round(x, 3)))
# Entries of a matrix with holes: missing connections and large costs. A
# negative cost, which the solver rejects, is placed in one matrix of about
# eight (see _matrix).
holed_costs = st.one_of(finite_costs, st.sampled_from([NO_CONNECTION, NO_CONNECTION + 1, 1e6, 30000]))
route_limits = st.one_of(
    st.integers(60, 400), st.integers(60, 400), st.integers(-5, 0), st.integers(1, 60), st.floats(-3, 150, allow_nan=False)
)

# Values of every JSON type, including the awkward numbers.
awkward_numbers = st.sampled_from(
    [0, -1, -7, 2**31, 2**32 + 3, 2**63, 2**64 - 1, 2**64 + 5, -(2**70), 0.5, 2.9, -2.9, 1e300, -1e-300, 1e19]
)
json_scalars = st.one_of(
    st.none(), st.booleans(), awkward_numbers, st.integers(-10, 10), st.text(max_size=6)
)
json_values = st.recursive(
    json_scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=3), st.dictionaries(st.text(max_size=4), inner, max_size=3)),
    max_leaves=6,
)


def _node_ids(draw, n: int) -> list:
    # Repeated ids are rejected; they stay a minority.
    style = draw(st.sampled_from(["dense"] * 4 + ["sparse"] * 2 + ["repeated", "awkward", "awkward"]))
    if style == "dense":
        return list(range(n))
    if style == "sparse":
        return draw(st.lists(st.integers(0, 10**6), min_size=n, max_size=n, unique=True))
    if style == "repeated":
        return draw(st.lists(st.integers(0, n // 2 + 1), min_size=n, max_size=n))
    # Ids the reader converts: fractions truncate, negatives wrap, booleans
    # are 1/0; mostly distinct once converted, sometimes not.
    return draw(
        st.lists(
            st.one_of(st.integers(0, 20), st.sampled_from([2.9, 3.0, -1, -2.5, True, False, 2**64 - 1, 2**63])),
            min_size=n,
            max_size=n,
            unique_by=as_u64 if draw(st.integers(0, 3)) else None,
        )
    )


def _matrix(draw, n: int) -> list:
    shape = draw(st.sampled_from(["full"] * 6 + ["short", "ragged", "oversized", "empty"]))
    entries = finite_costs if draw(st.integers(0, 2)) else holed_costs
    rows = {"full": n, "short": max(0, n - 2), "ragged": n, "oversized": n + 2, "empty": 0}[shape]
    matrix = []
    for _ in range(rows):
        width = n
        if shape == "ragged":
            width = draw(st.integers(0, n + 1))
        elif shape == "oversized":
            width = n + 2
        elif shape == "short":
            width = max(0, n - 1)
        matrix.append(draw(st.lists(entries, min_size=width, max_size=width)))
    rows_with_entries = [row for row in matrix if row]
    if rows_with_entries and draw(st.integers(0, 7)) == 0:
        row = draw(st.sampled_from(rows_with_entries))
        row[draw(st.integers(0, len(row) - 1))] = draw(st.sampled_from([-1, -4.5]))
    return matrix


def _constraints(draw, ids: list, types: list) -> list:
    constraints = []
    names = st.sampled_from(types + ["boat"]) if types else st.just("boat")
    if draw(st.integers(0, 2)) == 0:
        # Mostly lists that name a type of the instance; sometimes none does.
        items = [
            {"node": node, "types": draw(st.lists(names, min_size=draw(st.sampled_from([0, 1, 1, 1, 1])), max_size=3))}
            for node in draw(st.lists(st.sampled_from(ids), max_size=len(ids)))
        ]
        constraints.append({"kind": "assignment", "items": items})
    if draw(st.integers(0, 2)) == 0:
        items = []
        for node in draw(st.lists(st.sampled_from(ids + [10**7]), max_size=4)):
            start = draw(st.integers(-5, 60))
            # Mostly wide windows; sometimes narrow ones or ones that close before they open.
            end = start + draw(st.one_of(st.integers(40, 200), st.integers(40, 200), st.integers(-10, 40)))
            items.append({"node": node, "start": start, "end": end})
        constraints.append({"kind": "timewindow", "items": items})
    if draw(st.booleans()):
        pairs = [
            {"before": draw(st.sampled_from(ids)), "after": draw(st.sampled_from(ids)),
             **({"type": draw(st.sampled_from(["same", "diff", "other"]))} if draw(st.booleans()) else {})}
            for _ in range(draw(st.integers(0, 2)))
        ]
        constraints.append({"kind": "sequence", "precedence": pairs})
    if draw(st.booleans()):
        constraints.append({"kind": draw(st.sampled_from(["capacity", "Assignment", "timewindow", "sequence"]))})
    return constraints


def _options(draw) -> dict:
    options = {}
    if draw(st.booleans()):
        options["return_to_end"] = draw(st.booleans())
    if draw(st.booleans()):
        options["objective"] = draw(st.sampled_from(OBJECTIVES))
    if draw(st.booleans()):
        options["time_limit"] = draw(st.sampled_from([-1.0, 0, 0.05, 0.1, 60]))
    if draw(st.integers(0, 4)) == 0:
        options["missing_cost"] = draw(st.sampled_from([NO_CONNECTION, 30, 5, 1e6, 0, -1]))
    if draw(st.integers(0, 2)) == 0:
        options["enforce_capacity"] = draw(st.booleans())
    if draw(st.integers(0, 3)) == 0:
        options["enforce_precedence"] = draw(st.booleans())
    return options


@st.composite
def instances(draw, max_nodes: int = 8, max_agents: int = 3):
    n = draw(st.integers(1, max_nodes))
    ids = _node_ids(draw, n)
    nodes = []
    for node_id in ids:
        node = {"id": node_id, "x": draw(coordinates), "y": draw(coordinates), "z": draw(coordinates)}
        if draw(st.booleans()):
            node["type"] = draw(st.sampled_from(["DEPOT", "TARGET", "depot", ""]))
        if draw(st.booleans()):
            node["demand"] = draw(st.one_of(st.integers(0, 9), st.integers(0, 9), st.sampled_from([-1, 2.5, 1e300])))
        nodes.append(node)

    agents = []
    agent_ids = draw(st.sampled_from(["distinct"] * 9 + ["repeated"]))
    depots = draw(st.sampled_from(["shared", "shared", "own", "random"]))
    for k in range(draw(st.integers(1, max_agents)) if draw(st.integers(0, 9)) else 0):
        if depots == "shared":
            start = end = ids[0]
        elif depots == "own":
            start = end = draw(st.sampled_from(ids))
        else:
            start, end = draw(st.sampled_from(ids)), draw(st.sampled_from(ids))
        agent = {
            "id": k + 1 if agent_ids == "distinct" else draw(st.integers(1, 2)),
            "type": draw(st.sampled_from(TYPE_POOL)),
            "start_node": start,
            "end_node": end,
        }
        if draw(st.booleans()):
            agent["capacity"] = draw(st.integers(0, 100))
        if draw(st.integers(0, 3)) == 0:
            agent["max_length"] = draw(route_limits)
        agents.append(agent)

    types = list(dict.fromkeys(agent["type"] for agent in agents))
    doc = {"nodes": nodes, "agents": agents}
    if draw(st.integers(0, 19)) > 0:
        costs = {name: _matrix(draw, n) for name in types if draw(st.integers(0, 11)) > 0}
        doc["costs"] = list(costs.values()) if draw(st.integers(0, 19)) == 0 else costs
    constraints = _constraints(draw, ids, types)
    if constraints or draw(st.booleans()):
        doc["constraints"] = constraints
    if draw(st.booleans()):
        doc["options"] = _options(draw)
    return doc


@st.composite
def easy_instances(draw, max_nodes: int = 8, max_agents: int = 3):
    """One depot where every agent starts and ends, a complete matrix of finite
    costs for every type, no constraints: a solution always exists.

    Two limits keep the search from discarding every solution. At most one
    agent can stay idle: an idle agent closes its route with a move that
    changes neither its position, its cost nor the visited set once the depot
    is visited, and the dominance test discards it; so there is at most one
    agent more than there are targets. The costs are generic reals: labels
    that tie on visited count, f and total cost share one place in the focal
    list, and with many ties it can run dry while labels remain open."""
    n = draw(st.integers(1, max_nodes))
    types = draw(st.lists(st.sampled_from(TYPE_POOL), min_size=1, max_size=min(n, max_agents)))
    generator = random.Random(draw(st.integers(0, 2**32 - 1)))
    doc = {
        "nodes": [{"id": 10 * i, "x": i, "y": 0, "z": 0} for i in range(n)],
        "agents": [{"id": k, "type": t, "start_node": 0, "end_node": 0} for k, t in enumerate(types)],
        "costs": {
            t: [[0.0 if r == c else generator.uniform(0.5, 40) for c in range(n)] for r in range(n)]
            for t in dict.fromkeys(types)
        },
        "options": {"objective": draw(st.sampled_from(["min_max", "min_sum"]))},
    }
    return doc


def _tiny_matrix(draw, points: list, kind: str) -> list:
    """Costs between the points: Euclidean (metric, symmetric), asymmetric
    random, or either with missing connections."""
    n = len(points)
    generator = random.Random(draw(st.integers(0, 2**32 - 1)))
    if kind.startswith("euclidean"):
        matrix = [[round(((p[0] - q[0]) ** 2 + (p[1] - q[1]) ** 2) ** 0.5, 3) for q in points] for p in points]
    else:
        matrix = [[0.0 if r == c else round(generator.uniform(1, 40), 2) for c in range(n)] for r in range(n)]
    if kind.endswith("holed"):
        for r in range(n):
            for c in range(n):
                if r != c and generator.random() < 0.25:
                    matrix[r][c] = NO_CONNECTION
    return matrix


@st.composite
def tiny_instances(draw, max_targets: int = 6, max_agents: int = 3):
    """Documents small enough for the brute force of tests/brute_force.py, of
    every kind the search handles: one or two agent types, shared, own or
    separate start and end depots, closed and open routes, both objectives,
    Euclidean, asymmetric and holed matrices, time windows (on depots too),
    route-length limits, assignment lists (now and then one that leaves a
    target to nobody), and demands with capacities, enforced or not
    (enforced, the improvement engine runs a fixed number of iterations, as
    capacities that bind need it)."""
    m = draw(st.integers(1, max_agents))
    types = draw(st.lists(st.sampled_from(TYPE_POOL[:2]), min_size=m, max_size=m))
    layout = draw(st.sampled_from(["shared", "shared", "own", "split"]))
    depots = []  # (start, end) positions per agent
    for k in range(m):
        if layout == "shared":
            depots.append((0, 0))
        elif layout == "own":
            depots.append((k, k))
        else:
            start = draw(st.integers(0, 2 * m - 1))
            depots.append((start, draw(st.sampled_from([start, 2 * m - 1 - start, draw(st.integers(0, 2 * m - 1))]))))
    # Depots take the first positions, in the order the agents name them.
    renumber = {node: i for i, node in enumerate(dict.fromkeys(node for pair in depots for node in pair))}
    depots = [(renumber[s], renumber[e]) for s, e in depots]
    n = len(renumber) + draw(st.integers(0, max_targets))
    points = [(draw(st.integers(-20, 20)), draw(st.integers(-20, 20))) for _ in range(n)]
    doc = {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": types[k], "start_node": s, "end_node": e} for k, (s, e) in enumerate(depots)],
        "costs": {
            t: _tiny_matrix(draw, points, draw(st.sampled_from(
                ["euclidean", "euclidean", "asymmetric", "euclidean holed", "asymmetric holed"])))
            for t in dict.fromkeys(types)
        },
        "constraints": [],
        "options": {
            "objective": draw(st.sampled_from(["min_max", "min_sum"])),
            "return_to_end": draw(st.booleans()),
        },
    }
    for k, agent in enumerate(doc["agents"]):
        if draw(st.integers(0, 3)) == 0:
            agent["max_length"] = draw(st.integers(15, 150))
    if draw(st.booleans()):
        items = []
        for node in sorted(draw(st.sets(st.integers(0, n - 1), max_size=3))):
            start = draw(st.integers(0, 60))
            items.append({"node": node, "start": start, "end": start + draw(st.integers(0, 90))})
        doc["constraints"].append({"kind": "timewindow", "items": items})
    if len(set(types)) > 1 and draw(st.booleans()):
        items = [{"node": i, "types": draw(st.lists(st.sampled_from(types), min_size=draw(st.sampled_from([0, 1, 1, 1, 1, 1])),
                                                     max_size=2, unique=True))}
                 for i in range(n)]
        doc["constraints"].append({"kind": "assignment", "items": items})
    if draw(st.integers(0, 2)) == 0:
        for node in doc["nodes"]:
            node["demand"] = draw(st.integers(0, 5))
        for agent in doc["agents"]:
            if draw(st.integers(0, 3)) > 0:
                agent["capacity"] = draw(st.integers(3, 12))
        if draw(st.integers(0, 3)) > 0:
            doc["options"].update({"enforce_capacity": True, "improve": True, "max_iterations": 300,
                                   "seed": draw(st.integers(0, 2**31 - 1))})
    targets = list(range(len(renumber), n))
    if len(targets) >= 2 and draw(st.integers(0, 2)) == 0:
        # Precedence pairs between targets, enforced or carried; the brute
        # force enumerates whole solutions for them, so at most 4 targets.
        del targets[4:]
        doc["nodes"] = doc["nodes"][: len(renumber) + len(targets)]
        for name in doc["costs"]:
            doc["costs"][name] = [row[: len(doc["nodes"])] for row in doc["costs"][name][: len(doc["nodes"])]]
        for constraint in doc["constraints"]:
            constraint["items"] = [item for item in constraint["items"] if item["node"] < len(doc["nodes"])]
        pairs = []
        for _ in range(draw(st.integers(1, 3))):
            before, after = draw(st.permutations(targets))[:2]
            pair = {"before": before, "after": after}
            kind = draw(st.sampled_from(["plain", "same", "diff"]))
            if kind != "plain":
                pair["type"] = kind
            pairs.append(pair)
        doc["constraints"].append({"kind": "sequence", "precedence": pairs})
        if draw(st.booleans()):
            doc["options"].update(enforce_precedence=True, improve=True, max_iterations=200,
                                  seed=draw(st.integers(0, 1000)))
    return doc


def _paths(value, prefix=()):
    """Every position inside a JSON value, as a tuple of keys and indices."""
    yield prefix
    if isinstance(value, dict):
        for key, item in value.items():
            yield from _paths(item, prefix + (key,))
    elif isinstance(value, list):
        for i, item in enumerate(value):
            yield from _paths(item, prefix + (i,))


def _get(doc, path):
    for step in path:
        doc = doc[step]
    return doc


ID_KEYS = ("id", "start_node", "end_node", "node", "before", "after")
awkward_ids = st.sampled_from([-1, -3, 0.5, 1.7, -0.5, 2**63, 2**64 - 1, 2**64, 10**30, True, False, 10**7])


@st.composite
def mutated_documents(draw):
    doc = json.loads(json.dumps(draw(instances())))  # a private copy
    for _ in range(draw(st.integers(1, 3))):
        paths = list(_paths(doc))
        path = draw(st.sampled_from(paths))
        operation = draw(st.sampled_from(["retype", "retype", "drop", "awkward_id", "insert", "duplicate"]))
        if operation == "awkward_id":
            id_paths = [p for p in paths if p and p[-1] in ID_KEYS]
            if id_paths:
                path = draw(st.sampled_from(id_paths))
                _get(doc, path[:-1])[path[-1]] = draw(awkward_ids)
                continue
            operation = "retype"
        if not path:
            if operation == "retype":
                doc = draw(json_values)
            continue
        parent, key = _get(doc, path[:-1]), path[-1]
        if operation == "retype":
            parent[key] = draw(json_values)
        elif operation == "drop":
            del parent[key]
        elif operation == "insert" and isinstance(parent, dict):
            parent[draw(st.sampled_from(["extra", "type", "items", "demand", "costs"]))] = draw(json_values)
        elif operation == "insert":
            parent.insert(key, draw(json_values))
        elif isinstance(parent, list):
            parent.insert(key, json.loads(json.dumps(parent[key])))
    return doc


@st.composite
def mutated_bytes(draw):
    """The text of a document after one to four byte-level edits."""
    doc = draw(st.one_of(instances(), easy_instances()))
    data = bytearray(json.dumps(doc, indent=draw(st.sampled_from([None, 1]))).encode("utf-8"))
    significant = list(b'{}[]":,-.0123456789eE \\tfnu') + [0x00, 0xC3, 0xFF, 0xEF, 0xBB, 0xBF]
    for _ in range(draw(st.integers(1, 4))):
        if not data:
            break
        at = draw(st.integers(0, len(data) - 1))
        operation = draw(
            st.sampled_from(["digit", "digit", "space", "flip", "replace", "delete", "insert", "duplicate", "truncate"])
        )
        if operation == "digit":
            digits = [i for i, byte in enumerate(data) if 0x30 <= byte <= 0x39]
            if digits:
                data[draw(st.sampled_from(digits))] = draw(st.integers(0x30, 0x39))
        elif operation == "space":
            data[at:at] = draw(st.sampled_from([b" ", b"\n", b"\t", b"\r", b"\x0b", b"\xc2\xa0"]))
        elif operation == "flip":
            data[at] ^= 1 << draw(st.integers(0, 7))
        elif operation == "replace":
            data[at] = draw(st.sampled_from(significant))
        elif operation == "delete":
            del data[at : at + draw(st.integers(1, 4))]
        elif operation == "insert":
            data[at:at] = bytes([draw(st.sampled_from(significant))])
        elif operation == "duplicate":
            data[at:at] = data[at : at + draw(st.integers(1, 12))]
        else:
            del data[at:]
    if draw(st.integers(0, 19)) == 0:
        data[0:0] = b"\xef\xbb\xbf"  # byte-order mark, which the reader skips
    return bytes(data)
