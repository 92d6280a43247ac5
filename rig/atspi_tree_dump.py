"""Reads the accessible tree of the application with a given process id and prints it
as JSON, timed, for the tree reader's tests and benchmark. Run by the system python3:

    python3 atspi_tree_dump.py PID --reader fast|uncached|atspi [--repeat N]

fast: atspi_tree.read_tree with the application's cache; uncached: the same reader
without the cache; atspi: a straightforward per-node walk through the Atspi bindings
(get_role_name, get_name, get_description, get_state_set, get_child_count and
get_child_at_index on each node), the reference the others must match. Prints
{"seconds": [...], "nodes": [[index path, role name, name, description, states], ...]}
in depth-first order, the seconds of each of the N reads (the last read's nodes), with
values filled in for the interactive nodes of the fast readers.
"""

import argparse
import json
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "src" / "desktop_access"))

import atspi_tree  # noqa: E402
from atspi_tree import Atspi  # noqa: E402


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


def read_with_atspi(application) -> list:
    nodes = []
    stack = [(application, ())]
    while stack:
        accessible, index_path = stack.pop()
        nodes.append([list(index_path), accessible.get_role_name() or "", accessible.get_name() or "",
                      accessible.get_description() or "", state_mask(accessible)])
        children = []
        for index in range(accessible.get_child_count()):
            child = accessible.get_child_at_index(index)
            if child is not None:
                children.append((child, index_path + (index,)))
        stack.extend(reversed(children))
    return nodes


def read_fast(application, use_cache: bool) -> list:
    connection = atspi_tree.accessibility_bus()
    bus_name, path = atspi_tree.reference(application)
    root = atspi_tree.read_tree(connection, bus_name, path, use_cache=use_cache)
    return [[list(node.index_path), node.role_name, node.name, node.description, node.states]
            for node, _depth in atspi_tree.depth_first(root)]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("pid", type=int)
    parser.add_argument("--reader", choices=("fast", "uncached", "atspi"), required=True)
    parser.add_argument("--repeat", type=int, default=1)
    options = parser.parse_args()
    application = application_of(options.pid)
    seconds = []
    for _ in range(options.repeat):
        start = time.perf_counter()
        nodes = read_with_atspi(application) if options.reader == "atspi" else read_fast(
            application, options.reader == "fast")
        seconds.append(time.perf_counter() - start)
    print(json.dumps({"seconds": seconds, "nodes": nodes}))


if __name__ == "__main__":
    main()
