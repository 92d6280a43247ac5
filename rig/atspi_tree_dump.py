"""Reads the accessible tree of the application with a given process id and prints it
as JSON, timed, for the tree reader's tests and benchmark. Run by the system python3:

    python3 atspi_tree_dump.py PID --reader fast|uncached|atspi [--max-depth D] [--repeat N]

fast: atspi_tree.read_tree with the application's cache, then read_values; uncached:
the same without the cache; atspi: a straightforward per-node walk through the Atspi
bindings (role name, name, description, state set and children of each node, the value
of each interactive one through the snapshot walker's own value_of), the reference the
others must match. Prints {"seconds": [...], "nodes": [[index path, role name, name,
description, states, value], ...]}: the time of each of the N reads, and the last
read's nodes in depth-first order.
"""

import argparse
import json
import sys
import time
from pathlib import Path

SOURCES = Path(__file__).resolve().parent.parent / "src" / "desktop_access"
sys.path.insert(0, str(SOURCES))

import atspi_tree  # noqa: E402
from atspi_tree import Atspi  # noqa: E402

WALKER = SOURCES / "atspi_walker.py"


def walker_definitions() -> dict:
    """The snapshot walker's definitions (its role sets, value_of, ...), taken from its
    program without running it, so the per-node walk reads values as the walker does."""
    body, call = WALKER.read_text().rstrip().rsplit("\n", 1)
    if call != "main()":
        raise SystemExit(f"{WALKER} no longer ends with its main() call")
    definitions = {"json": json, "sys": sys, "Atspi": Atspi, "max_depth": 0, "target_title": None,
                   "walk_seconds": 11.0}
    exec(compile(body, str(WALKER), "exec"), definitions)
    return definitions


WALKER_DEFINITIONS = walker_definitions()
INTERACTIVE_ROLES = WALKER_DEFINITIONS["INTERACTIVE_ROLES"]


def application_of(pid: int):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        if application is not None and application.get_process_id() == pid:
            return application
    raise SystemExit(f"no accessible application with process id {pid}")


def state_mask(accessible) -> int:
    mask = 0
    for state in accessible.get_state_set().get_states():
        mask |= 1 << int(state)
    return mask


def read_with_atspi(application, max_depth) -> list:
    nodes = []
    stack = [(application, ())]
    while stack:
        accessible, index_path = stack.pop()
        role = accessible.get_role_name() or ""
        value = WALKER_DEFINITIONS["value_of"](accessible, role) if role in INTERACTIVE_ROLES else ""
        nodes.append([list(index_path), role, accessible.get_name() or "", accessible.get_description() or "",
                      state_mask(accessible), value])
        if max_depth is not None and len(index_path) >= max_depth:
            continue
        children = []
        for index in range(accessible.get_child_count()):
            child = accessible.get_child_at_index(index)
            if child is not None:
                children.append((child, index_path + (index,)))
        stack.extend(reversed(children))
    return nodes


def read_fast(application, max_depth, use_cache: bool) -> list:
    connection = atspi_tree.accessibility_bus()
    bus_name, path = atspi_tree.reference(application)
    root = atspi_tree.read_tree(connection, bus_name, path, max_depth=max_depth, use_cache=use_cache)
    nodes = list(atspi_tree.depth_first(root))
    atspi_tree.read_values(connection, [node for node, _depth in nodes if node.role_name in INTERACTIVE_ROLES],
                           WALKER_DEFINITIONS["TEXT_CONTENT_ROLES"], WALKER_DEFINITIONS["TEXT_CONTENT_LIMIT"])
    return [[list(node.index_path), node.role_name, node.name, node.description, node.states, node.value]
            for node, _depth in nodes]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("pid", type=int)
    parser.add_argument("--reader", choices=("fast", "uncached", "atspi"), required=True)
    parser.add_argument("--max-depth", type=int)
    parser.add_argument("--repeat", type=int, default=1)
    options = parser.parse_args()
    application = application_of(options.pid)
    seconds = []
    for _ in range(options.repeat):
        start = time.perf_counter()
        if options.reader == "atspi":
            nodes = read_with_atspi(application, options.max_depth)
        else:
            nodes = read_fast(application, options.max_depth, options.reader == "fast")
        seconds.append(time.perf_counter() - start)
    print(json.dumps({"seconds": seconds, "nodes": nodes}))


if __name__ == "__main__":
    main()
