"""Table and plots of one benchmark run (the rows built by benchmarks.run)."""
from __future__ import annotations

import math
from pathlib import Path

COLUMNS = (
    "instance", "n", "m", "obj", "ref", "focal", "gap %", "engine", "threads", "gap %", "first sol. s", "last impr. s",
    "OR-Tools", "gap %", "PyVRP", "gap %", "engine/OR", "focal labels/CPU s", "peak MB",
)
# Columns of the LKH-3 peer, present only in runs that were given its path.
LKH_COLUMNS = ("LKH-3", "gap %", "engine/LKH")
# Row keys of the solvers, their names in the legends, their line styles.
SOLVERS = (("focal", "ours: focal", "C0-"), ("engine", "ours: engine", "C2-"),
           ("ortools", "OR-Tools", "C1--"), ("pyvrp", "PyVRP", "C3:"), ("lkh", "LKH-3", "C4-."))


def with_lkh(rows: list[dict]) -> bool:
    """Whether the run had LKH-3 (its rows then carry an "lkh" entry)."""
    return any("lkh" in row for row in rows)


def columns(rows: list[dict]) -> tuple[str, ...]:
    if not with_lkh(rows):
        return COLUMNS
    at = COLUMNS.index("engine/OR")
    return COLUMNS[:at] + LKH_COLUMNS + COLUMNS[at:]


def _num(value, digits: int = 2) -> str:
    if value is None:
        return "-"
    return f"{value:,.{digits}f}"


def _figure(side: dict) -> str:
    """The objective, or why there is none (failed, infeasible, n/a, ...)."""
    if side.get("objective") is not None:
        return _num(side["objective"])
    status = side.get("status", "-")
    return "INFEASIBLE" if status == "infeasible" else status


def _rate(value) -> str:
    if value is None:
        return "-"
    return f"{value / 1000:,.0f}k" if value >= 1000 else f"{value:,.0f}"


def table_rows(rows: list[dict]) -> list[list[str]]:
    out = []
    lkh = with_lkh(rows)
    for row in rows:
        focal, engine, ref = row["focal"], row["engine"], row.get("reference")
        ref_text = "-" if not ref else f"{_num(ref['value'])}" + ("" if ref["kind"] == "BKS" else f" ({ref['kind']})")
        peaks = [s.get("peak_rss_mb") for s in (focal, engine) if s.get("peak_rss_mb") is not None]
        out.append([
            row["instance"], str(row["n"]), str(row["m"]), row["objective"].replace("min_", "min-"), ref_text,
            _figure(focal), _num(focal.get("gap_pct")), _figure(engine), str(row.get("threads", 1)),
            _num(engine.get("gap_pct")),
            _num(engine.get("first_solution_s")), _num(engine.get("last_improvement_s")),
            _figure(row["ortools"]), _num(row["ortools"].get("gap_pct")),
            _figure(row["pyvrp"]), _num(row["pyvrp"].get("gap_pct")),
            *((_figure(row.get("lkh", {})), _num(row.get("lkh", {}).get("gap_pct")),
               _num(_ratio(engine, row.get("lkh", {})), 3)) if lkh else ()),
            _num(row.get("ratio"), 3), _rate(focal.get("labels_per_cpu_s")), _num(max(peaks) if peaks else None, 1),
        ])
    return out


def markdown_table(rows: list[dict]) -> str:
    names = columns(rows)
    lines = ["| " + " | ".join(names) + " |", "|" + "|".join("---" for _ in names) + "|"]
    lines += ["| " + " | ".join(cells) + " |" for cells in table_rows(rows)]
    return "\n".join(lines) + "\n"


def text_table(rows: list[dict]) -> str:
    names = columns(rows)
    cells = [list(names)] + table_rows(rows)
    widths = [max(len(r[i]) for r in cells) for i in range(len(names))]
    lines = ["  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(r, widths))) for r in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines) + "\n"


def mean_gap_lines(gaps: dict) -> str:
    """One line per solver: mean gap to the best-known min-max values."""
    names = {key: name for key, name, _ in SOLVERS}
    lines = ["mean gap to best-known, min-max instances:"]
    for key, entry in gaps.items():
        if entry["of"] == 0:
            continue
        value = "-" if entry["mean_gap_pct"] is None else f"{entry['mean_gap_pct']:.2f} %"
        lines.append(f"  {names.get(key, key)}: {value} over {entry['instances']} of {entry['of']} instances")
    if len(lines) == 1:
        lines.append("  (no min-max instance with a best-known value)")
    return "\n".join(lines) + "\n"


def _baseline(row: dict) -> float | None:
    """What curves of an instance are divided by: the reference value, or
    else the best final objective."""
    if row.get("reference"):
        return row["reference"]["value"]
    finals = [row[k]["objective"] for k, _, _ in SOLVERS if row.get(k, {}).get("objective") is not None]
    return min(finals) if finals else None


def _ratio(side: dict, peer: dict) -> float | None:
    if side.get("objective") is None or not peer.get("objective"):
        return None
    return side["objective"] / peer["objective"]


def plot(rows: list[dict], out_dir: Path) -> list[Path]:
    """Writes anytime.png (convergence: objective over CPU time, one small
    panel per instance, every solver that logs its improving solutions) and
    gaps.png."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    written = []
    cols = min(6, max(1, len(rows)))
    nrows = math.ceil(len(rows) / cols)
    fig, axes = plt.subplots(nrows, cols, figsize=(3.2 * cols, 2.5 * nrows + 1.0), squeeze=False)
    for ax, row in zip(axes.flat, rows):
        base = _baseline(row)
        for key, label, style in SOLVERS:
            side = row.get(key, {})
            points = side.get("anytime") or []
            if base and points and side.get("objective") is not None:
                times = [max(t, 1e-3) for t, _ in points]
                values = [v / base for _, v in points]
                ax.step(times + [max(times[-1], side.get("cpu_time") or times[-1])], values + values[-1:],
                        style, where="post", label=label)
        ax.set_xscale("log")
        ax.set_title(row["instance"], fontsize=8)
        ax.tick_params(labelsize=7)
    for ax in axes.flat[len(rows):]:
        ax.axis("off")
    handles = {}
    for ax in axes.flat:
        for line, label in zip(*ax.get_legend_handles_labels()):
            handles.setdefault(label, line)
    if handles:
        fig.legend(list(handles.values()), list(handles), loc="upper center", ncol=len(handles), fontsize=8)
    fig.supxlabel("CPU seconds since the solve started")
    for ax in axes[:, 0]:
        ax.set_ylabel("objective / reference", fontsize=8)
    fig.tight_layout(rect=(0, 0, 1, 1 - 0.35 / (2.5 * nrows + 1.0)))
    written.append(out_dir / "anytime.png")
    fig.savefig(written[-1], dpi=80)
    plt.close(fig)

    names = [row["instance"] for row in rows]
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(max(6, 0.35 * len(rows) + 2), 7), sharex=True)
    xs = range(len(rows))
    for offset, (key, label, _) in zip((-0.32, -0.16, 0.0, 0.16, 0.32), SOLVERS):
        gaps = [row.get(key, {}).get("gap_pct") for row in rows]
        top.bar([x + offset for x, g in zip(xs, gaps) if g is not None], [g for g in gaps if g is not None],
                width=0.16, label=label)
    top.axhline(0, color="black", linewidth=0.5)
    top.set_ylabel("gap to reference %")
    top.legend(fontsize=8)
    for offset, key, label in ((-0.2, "focal", "focal / OR-Tools"), (0.2, "engine", "engine / OR-Tools")):
        ratios = [_ratio(row[key], row["ortools"]) for row in rows]
        bottom.bar([x + offset for x, r in zip(xs, ratios) if r is not None], [r for r in ratios if r is not None],
                   width=0.4, label=label)
    bottom.axhline(1, color="black", linewidth=0.5)
    bottom.set_ylabel("ours / OR-Tools")
    bottom.legend(fontsize=8)
    bottom.set_xticks(list(xs))
    bottom.set_xticklabels(names, rotation=75, fontsize=7)
    fig.tight_layout()
    written.append(out_dir / "gaps.png")
    fig.savefig(written[-1], dpi=80)
    plt.close(fig)
    return written
