"""Which benchmark instances exist and which of them each mode runs."""
from __future__ import annotations

from dataclasses import dataclass

MTSPLIB = ("eil51", "berlin52", "eil76", "rat99")


@dataclass(frozen=True)
class InstanceRecipe:
    """One instance to generate: a TSPLIB file plus a variant.

    variant: "plain" (m identical salesmen), "het" (trucks at full cost plus
    drones at half cost that may only serve the half of the targets nearest
    to the depot, within a route-length limit) or "tw" (identical salesmen,
    time windows on half of the targets).
    """

    tsplib: str
    variant: str
    objective: str  # "min_max" or "min_sum"
    trucks: int  # salesmen of the first (full-cost) type
    drones: int = 0  # salesmen of the second type ("het" only)

    @property
    def m(self) -> int:
        return self.trucks + self.drones

    @property
    def name(self) -> str:
        obj = "minmax" if self.objective == "min_max" else "minsum"
        if self.variant == "het":
            return f"{self.tsplib}-het-t{self.trucks}d{self.drones}-{obj}"
        if self.variant == "tw":
            return f"{self.tsplib}-tw-m{self.m}-{obj}"
        return f"{self.tsplib}-m{self.m}-{obj}"


def _full() -> list[InstanceRecipe]:
    recipes = [InstanceRecipe(t, "plain", "min_max", m) for t in MTSPLIB for m in (2, 3, 5, 7)]
    recipes += [InstanceRecipe(t, "plain", "min_sum", m) for t in MTSPLIB for m in (3, 7)]
    recipes += [
        InstanceRecipe("kroA100", "plain", "min_max", 3),
        InstanceRecipe("ch150", "plain", "min_max", 3),
        InstanceRecipe("kroA200", "plain", "min_max", 5),
        InstanceRecipe("pr226", "plain", "min_max", 5),
        InstanceRecipe("eil51", "het", "min_max", 2, 2),
        InstanceRecipe("eil76", "het", "min_max", 2, 2),
        InstanceRecipe("rat99", "het", "min_max", 3, 3),
        InstanceRecipe("kroA100", "het", "min_max", 2, 2),
        InstanceRecipe("eil51", "het", "min_sum", 2, 2),
        InstanceRecipe("kroA100", "het", "min_sum", 2, 2),
        InstanceRecipe("eil51", "tw", "min_max", 3),
        InstanceRecipe("berlin52", "tw", "min_max", 3),
        InstanceRecipe("eil76", "tw", "min_max", 5),
        InstanceRecipe("eil51", "tw", "min_sum", 3),
    ]
    return recipes


FULL: list[InstanceRecipe] = _full()

QUICK_NAMES = (
    "eil51-m3-minmax",
    "berlin52-m5-minmax",
    "eil76-m3-minsum",
    "kroA100-m3-minmax",
    "eil51-het-t2d2-minmax",
    "eil51-tw-m3-minmax",
)
QUICK: list[InstanceRecipe] = [s for s in FULL if s.name in QUICK_NAMES]

# Default CPU budget per solve, in seconds (the large suite's are per instance).
DEFAULT_BUDGET = {"full": 10.0, "quick": 5.0}


@dataclass(frozen=True)
class GeneratedRecipe:
    """One large instance made by benchmarks.generate: `kind` "rand" (uniform
    points) or "clus" (clustered), `n` nodes with the depot, a seed, and a
    variant of the TSPLIB suite ("plain" or "het")."""

    kind: str
    n: int
    variant: str
    objective: str
    trucks: int
    drones: int = 0
    seed: int = 1

    @property
    def m(self) -> int:
        return self.trucks + self.drones

    @property
    def budget(self) -> float:
        """CPU seconds per solve: 20 for 500 nodes, 60 from 1,000 on."""
        return 20.0 if self.n < 1000 else 60.0

    def as_instance_recipe(self) -> InstanceRecipe:
        return InstanceRecipe(f"{self.kind}{self.n}", self.variant, self.objective, self.trucks, self.drones)

    @property
    def name(self) -> str:
        return self.as_instance_recipe().name


# Random uniform and clustered instances of 500, 1,000 and 2,000 nodes: one
# depot, m = 5, 10, 20, min-max and min-sum, and heterogeneous ones with two
# agent types (the 2,000-node one is the memory target's instance).
LARGE: list[GeneratedRecipe] = [
    GeneratedRecipe("rand", 500, "plain", "min_max", 5),
    GeneratedRecipe("clus", 500, "plain", "min_sum", 10),
    GeneratedRecipe("rand", 1000, "plain", "min_max", 10),
    GeneratedRecipe("clus", 1000, "plain", "min_sum", 10),
    GeneratedRecipe("rand", 1000, "het", "min_max", 5, 5),
    GeneratedRecipe("clus", 2000, "plain", "min_max", 20),
    GeneratedRecipe("rand", 2000, "plain", "min_sum", 20),
    GeneratedRecipe("rand", 2000, "het", "min_max", 10, 10),
]


# The large min-max suite: TSPLIB coordinates of 150 to 1,173 nodes, depot the
# first node, unrounded Euclidean costs, 2 to 20 identical salesmen. Budget:
# 30 CPU s per solve (`--budget` overrides it).
LARGE_MINMAX_TSPLIB = ("ch150", "kroA200", "lin318", "pcb442", "rat783", "pcb1173")
LARGE_MINMAX_AGENTS = (2, 3, 5, 10, 20)
LARGE_MINMAX: list[InstanceRecipe] = [
    InstanceRecipe(t, "plain", "min_max", m) for t in LARGE_MINMAX_TSPLIB for m in LARGE_MINMAX_AGENTS
]


@dataclass(frozen=True)
class RoutingRecipe:
    """A capacitated or precedence instance over the first `customers` + 1
    points of a TSPLIB file (benchmarks.make_suites builds it).

    variant: "cvrp" (identical trucks with one capacity), "hetfleet" (trucks
    with a larger capacity at full cost, vans with a smaller one on a cheaper
    matrix), "pd" (pickup-and-delivery "same" pairs), "prec" (plain pairs)
    or "diff" ("diff" pairs); every variant carries demands and capacities.
    profile: demands "uniform", "few-large" or "many-small". depot: the
    point nearest to the middle of the points' bounding box ("central") or
    to its lower left corner ("corner").
    """

    tsplib: str
    customers: int
    variant: str
    objective: str
    profile: str = "uniform"
    depot: str = "central"
    seed: int = 1

    @property
    def name(self) -> str:
        obj = "minmax" if self.objective == "min_max" else "minsum"
        return f"{self.tsplib}-c{self.customers}-{self.variant}-{self.profile}-{self.depot}-{obj}"


CAPACITY: list[RoutingRecipe] = [
    RoutingRecipe("kroA200", 100, "cvrp", "min_sum", "uniform", "central"),
    RoutingRecipe("kroA200", 100, "cvrp", "min_sum", "few-large", "corner"),
    RoutingRecipe("kroA200", 100, "cvrp", "min_max", "many-small", "central"),
    RoutingRecipe("lin318", 200, "cvrp", "min_sum", "many-small", "corner"),
    RoutingRecipe("lin318", 200, "cvrp", "min_max", "uniform", "corner"),
    RoutingRecipe("rat783", 500, "cvrp", "min_sum", "uniform", "central"),
    RoutingRecipe("pcb1173", 1000, "cvrp", "min_sum", "uniform", "central"),
    RoutingRecipe("pcb1173", 1000, "cvrp", "min_sum", "few-large", "corner"),
    RoutingRecipe("kroA200", 100, "hetfleet", "min_sum", "uniform", "central"),
    RoutingRecipe("kroA200", 100, "hetfleet", "min_max", "uniform", "central"),
    RoutingRecipe("lin318", 200, "hetfleet", "min_sum", "few-large", "corner"),
]

PAIRS: list[RoutingRecipe] = [
    RoutingRecipe("kroA200", 100, "pd", "min_sum", "uniform", "central"),
    RoutingRecipe("kroA200", 100, "pd", "min_max", "uniform", "corner"),
    RoutingRecipe("lin318", 200, "pd", "min_sum", "many-small", "central"),
    RoutingRecipe("kroA200", 100, "prec", "min_sum", "uniform", "central"),
    RoutingRecipe("kroA200", 100, "prec", "min_max", "uniform", "central"),
    RoutingRecipe("kroA200", 100, "diff", "min_sum", "uniform", "central"),
    RoutingRecipe("kroA200", 100, "diff", "min_max", "uniform", "central"),
]

# Suites that `python -m benchmarks.run --suite NAME` runs from
# benchmarks/generated/, with their default CPU budget per solve.
SUITES: dict[str, list] = {"large-minmax": LARGE_MINMAX, "capacity": CAPACITY, "pairs": PAIRS}
DEFAULT_BUDGET.update({"large-minmax": 30.0, "capacity": 10.0, "pairs": 10.0})
