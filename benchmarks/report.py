"""Table and plots of one benchmark run (the rows built by benchmarks.run)."""
from __future__ import annotations

import math
from pathlib import Path

COLUMNS = (
    "instance", "n", "m", "obj", "ref", "ours", "gap %", "last impr. s",
    "labels/CPU s", "peak MB", "OR-Tools", "OR gap %", "ours/OR",
)


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
    for row in rows:
        ours, peer, ref = row["ours"], row["ortools"], row.get("reference")
        ref_text = "-" if not ref else f"{_num(ref['value'])}" + ("" if ref["kind"] == "BKS" else f" ({ref['kind']})")
        out.append([
            row["instance"], str(row["n"]), str(row["m"]), row["objective"].replace("min_", "min-"), ref_text,
            _figure(ours), _num(ours.get("gap_pct")), _num(ours.get("last_improvement_s")),
            _rate(ours.get("labels_per_cpu_s")), _num(ours.get("peak_rss_mb"), 1),
            _figure(peer), _num(peer.get("gap_pct")), _num(row.get("ratio"), 3),
        ])
    return out


def markdown_table(rows: list[dict]) -> str:
    lines = ["| " + " | ".join(COLUMNS) + " |", "|" + "|".join("---" for _ in COLUMNS) + "|"]
    lines += ["| " + " | ".join(cells) + " |" for cells in table_rows(rows)]
    return "\n".join(lines) + "\n"


def text_table(rows: list[dict]) -> str:
    cells = [list(COLUMNS)] + table_rows(rows)
    widths = [max(len(r[i]) for r in cells) for i in range(len(COLUMNS))]
    lines = ["  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(r, widths))) for r in cells]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines) + "\n"


def _baseline(row: dict) -> float | None:
    """What curves of an instance are divided by: the reference value, or
    else the better of the two final objectives."""
    if row.get("reference"):
        return row["reference"]["value"]
    finals = [s["objective"] for s in (row["ours"], row["ortools"]) if s.get("objective") is not None]
    return min(finals) if finals else None


def plot(rows: list[dict], out_dir: Path) -> list[Path]:
    """Writes anytime.png (one small panel per instance) and gaps.png."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    written = []
    cols = min(6, max(1, len(rows)))
    nrows = math.ceil(len(rows) / cols)
    fig, axes = plt.subplots(nrows, cols, figsize=(3.2 * cols, 2.5 * nrows + 1.0), squeeze=False)
    for ax, row in zip(axes.flat, rows):
        base = _baseline(row)
        for side, label, style in ((row["ours"], "ours", "C0-"), (row["ortools"], "OR-Tools", "C1--")):
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
    axes.flat[0].legend(fontsize=7)
    fig.supxlabel("CPU seconds since the solve started")
    for ax in axes[:, 0]:
        ax.set_ylabel("objective / reference", fontsize=8)
    fig.tight_layout()
    written.append(out_dir / "anytime.png")
    fig.savefig(written[-1], dpi=80)
    plt.close(fig)

    names = [row["instance"] for row in rows]
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(max(6, 0.35 * len(rows) + 2), 7), sharex=True)
    xs = range(len(rows))
    for offset, key, label in ((-0.2, "ours", "ours"), (0.2, "ortools", "OR-Tools")):
        gaps = [row[key].get("gap_pct") for row in rows]
        top.bar([x + offset for x, g in zip(xs, gaps) if g is not None], [g for g in gaps if g is not None],
                width=0.4, label=label)
    top.axhline(0, color="black", linewidth=0.5)
    top.set_ylabel("gap to reference %")
    top.legend(fontsize=8)
    ratios = [row.get("ratio") for row in rows]
    bottom.bar([x for x, r in zip(xs, ratios) if r is not None], [r for r in ratios if r is not None], width=0.6)
    bottom.axhline(1, color="black", linewidth=0.5)
    bottom.set_ylabel("ours / OR-Tools")
    bottom.set_xticks(list(xs))
    bottom.set_xticklabels(names, rotation=75, fontsize=7)
    fig.tight_layout()
    written.append(out_dir / "gaps.png")
    fig.savefig(written[-1], dpi=80)
    plt.close(fig)
    return written
