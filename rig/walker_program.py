"""The snapshot walker's program as the desktop module builds it (its header, the tree
reader, the walker), built here from the sources for one window, so that tests and
benchmarks can run either of its walks on their own:

    walker_program(window, override=PER_NODE_ONLY)   # run with the desktop's python3 -c
"""

from __future__ import annotations

import json
from pathlib import Path

SOURCES = Path(__file__).resolve().parent.parent / "src" / "desktop_access"
HEADER = '\nimport json, sys\nimport gi\ngi.require_version("Atspi", "2.0")\nfrom gi.repository import Atspi\n\n'
# Overrides that leave the walker one walk: the bulk read must not fall back, and the
# per-node walk is the walk through the Atspi bindings the bulk read replaced.
BULK_ONLY = 'def walk_per_node(*_):\n    raise SystemExit("the bulk read fell back on the per-node walk")\n'
PER_NODE_ONLY = 'def accessibility_bus():\n    raise ConnectionError("node by node")\n'


def walker_program(window, override: str = "", max_depth: int = 8, max_elements: int | None = None,
                   states: bool = False, walk_seconds: float = 11.0) -> str:
    """The program that snapshots `window` (a rig DesktopWindow, found by its process)."""
    body, call = (SOURCES / "atspi_walker.py").read_text().rstrip().rsplit("\n", 1)
    if call != "main()":
        raise RuntimeError("atspi_walker.py no longer ends with its main() call")
    return (f"{HEADER}max_depth = {max_depth}\ntarget_title = {json.dumps(window.title)}\n"
            f"target_pid = {window.process.pid}\nmax_elements = {max_elements}\nwith_states = {states}\n"
            f"walk_seconds = {walk_seconds!r}\n\n"
            f"{(SOURCES / 'atspi_tree.py').read_text()}\n{body}\n{override}\nmain()\n")
