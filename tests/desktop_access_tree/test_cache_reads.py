"""The application's cache as the tree reader parses it from the wire, against GLib's own
decoding of the same reply, and the few calls a read takes once the cache holds the
tree. Each check runs in the system python3, which has the bindings."""

import json
import subprocess
from pathlib import Path

import pytest

SOURCES = Path(__file__).resolve().parents[2] / "src" / "desktop_access"

# Prints the parsed cache, GLib's decoding of it, the nodes and calls of two reads of the
# tree, then of two reads that skip the states of labels, over the bus and over the
# application's direct connection where it has one.
CACHE_PROGRAM = """
import json, sys
sys.path.insert(0, sys.argv[2])
import atspi_tree
from atspi_tree import Atspi, Gio
desktop = Atspi.get_desktop(0)
application = next(application for application in map(desktop.get_child_at_index, range(desktop.get_child_count()))
                   if application is not None and application.get_process_id() == int(sys.argv[1]))
connection = atspi_tree.accessibility_bus()
bus_name, path = atspi_tree.reference(application)
sent = []
call_all = atspi_tree.call_all
atspi_tree.call_all = lambda connection, calls: sent.append(len(calls)) or call_all(connection, calls)
reads = []
for _ in range(2):
    sent.clear()
    root = atspi_tree.read_tree(connection, bus_name, path)
    reads.append([sum(1 for _ in atspi_tree.depth_first(root)), sum(sent)])
shapes = []
for reader in (connection, atspi_tree.application_routes(connection, bus_name)):
    sent.clear()
    root = atspi_tree.read_tree(reader, bus_name, path, needs_states=lambda role: role != "label")
    shapes.append([[list(node.index_path), node.role_name, node.name, node.description, node.child_count]
                   for node, _depth in atspi_tree.depth_first(root)])
    reads.append([len(shapes[-1]), sum(sent)])
routes = reader if isinstance(reader, atspi_tree.Routes) else None
direct = routes and [routes.to(bus_name) is not connection, routes.to(":1.0") is connection]
items, _ = atspi_tree.cached_items(connection, bus_name)
glib_connection = Gio.DBusConnection.new_for_address_sync(
    atspi_tree.accessibility_bus_address(),
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
reply = glib_connection.call_sync(bus_name, atspi_tree.CACHE_PATH, "org.a11y.atspi.Cache", "GetItems", None, None,
                                  Gio.DBusCallFlags.NONE, 10000, None)
decoded = {}
for (own_bus, own_path), _application, (_bus, parent), index, count, interfaces, name, role, description, states \\
        in reply.unpack()[0]:
    decoded[own_path] = [parent, index, count, interfaces, name, role, description,
                         sum(word << 32 * number for number, word in enumerate(states))]
print(json.dumps({"parsed": {key: list(item) for key, item in items.items()}, "decoded": decoded,
                  "reads": reads, "same_shapes": shapes[0] == shapes[1], "direct": direct}))
"""


@pytest.mark.parametrize("toolkit", ("gtk3", "gtk4"))
def test_the_cache_parses_as_glib_decodes_it_and_spares_the_calls(virtual_desktop, toolkit):
    window = virtual_desktop.open_test_window(f"Cache {toolkit}", toolkit, full=True, nodes=1000, timeout=60)
    try:
        result = subprocess.run(["python3", "-c", CACHE_PROGRAM, str(window.process.pid), str(SOURCES)],
                                env=virtual_desktop.service_env, capture_output=True, text=True, timeout=120)
    finally:
        window.close()
    assert result.returncode == 0, result.stderr
    answer = json.loads(result.stdout)
    assert len(answer["parsed"]) > 500 and answer["parsed"] == answer["decoded"]
    (first_nodes, _), (nodes, calls), (lean_nodes, lean_calls), (direct_nodes, _) = answer["reads"]
    assert first_nodes == nodes == lean_nodes == direct_nodes > 1000
    # GTK 4 fills its cache as accessibles are asked for, so the second read finds the
    # whole tree there but for the root; GTK 3 leaves out the rows of its list boxes (253
    # list items holding a label), which take seven calls each, and nothing else; six
    # when the labels' states are not wanted. A read begins with a dozen calls at most
    # (the cache itself, the toolkit's name, the root).
    assert calls < (12 if toolkit == "gtk4" else 7 * 253 + 12)
    assert lean_calls < (12 if toolkit == "gtk4" else 6 * 253 + 12)
    assert answer["same_shapes"]
    if toolkit == "gtk3":
        # Calls to the application go over its own connection, calls to others over the bus.
        assert answer["direct"] == [True, True]
