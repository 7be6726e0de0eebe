"""What the namespace benchmarks share: whether they can run here, and keeping their figures.

    from bench.bench_support import skip_reason, save_figures
    reason = skip_reason(build, [cli, delay_link], programs=["mtr"], need_nft=True)
"""
from __future__ import annotations

import json
import os
import shutil

from tools.netpath import unavailable_reason

# The exit status ctest reads as "skipped".
SKIPPED = 77


def skip_reason(build: str, binaries: list[str], programs: tuple[str, ...] = (),
                need_nft: bool = False) -> str | None:
    """Why the benchmark cannot run here (no namespaces, a binary not built, a tool it
    compares against not installed), or None."""
    reason = unavailable_reason(need_nft=need_nft)
    for binary in binaries:
        if not reason and not os.access(binary, os.X_OK):
            reason = f"{binary} is not built (cmake --build {build})"
    for program in programs:
        if not reason and not shutil.which(program):
            reason = f"{program} is not installed (scripts/install-deps.sh)"
    return reason


def save_figures(path: str | None, results: dict) -> None:
    """Writes every figure to `path` (--json FILE), when one was given."""
    if path:
        with open(path, "w") as f:
            json.dump(results, f, indent=1)
