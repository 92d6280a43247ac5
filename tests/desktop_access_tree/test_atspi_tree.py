"""The fast tree reader (src/desktop_access/atspi_tree.py) against a straightforward
per-node walk through the Atspi bindings, on the real test windows of each toolkit:
the same nodes in the same order, with the same child-index paths, role names, names,
descriptions, state sets and values. Each reader runs in the system python3 (see
rig/atspi_tree_dump.py)."""

import pytest

WINDOWS = [pytest.param((toolkit, nodes), id=f"{toolkit}-{nodes or 'full'}")
           for nodes in (0, 1000) for toolkit in ("gtk3", "gtk4", "qt5")]


@pytest.fixture(params=WINDOWS)
def window(request, virtual_desktop):
    toolkit, nodes = request.param
    window = virtual_desktop.open_test_window(f"Tree {toolkit} {nodes}", toolkit, full=True, nodes=nodes,
                                              timeout=60)
    yield window
    window.close()


def test_the_fast_reader_gives_the_per_node_tree(window, virtual_desktop):
    # The fast readers go first: a call an application mishandles would show in the walk after them.
    fast = virtual_desktop.accessible_tree(window.process.pid, "fast")["nodes"]
    uncached = virtual_desktop.accessible_tree(window.process.pid, "uncached")["nodes"]
    expected = virtual_desktop.accessible_tree(window.process.pid, "atspi")["nodes"]
    assert len(expected) > 20
    assert fast == expected
    assert uncached == expected


def test_the_reader_stops_at_the_depth_asked_for(window, virtual_desktop):
    expected = virtual_desktop.accessible_tree(window.process.pid, "atspi", max_depth=4)["nodes"]
    assert max(len(node[0]) for node in expected) == 4
    assert virtual_desktop.accessible_tree(window.process.pid, "fast", max_depth=4)["nodes"] == expected
