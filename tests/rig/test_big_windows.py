"""The big test windows: a generated block of about N accessible nodes in each toolkit."""

import pytest

TOOLKITS = ("gtk3", "gtk4", "qt5")
SENSITIVE = 24  # Atspi.StateType.SENSITIVE, a bit of the dumped state masks


@pytest.mark.parametrize("toolkit", TOOLKITS)
def test_a_big_window_holds_about_the_nodes_asked_for(virtual_desktop, toolkit):
    window = virtual_desktop.open_test_window(f"Big {toolkit}", toolkit, nodes=1000, timeout=60)
    try:
        nodes = virtual_desktop.accessible_tree(window.process.pid)["nodes"]
    finally:
        window.close()
    # GTK 4 wraps some widgets in a filler of its own.
    assert 1000 <= len(nodes) <= 1300
    found = {(role, name): (states, value) for _path, role, name, _description, states, value in nodes}
    for role, name in (("label", "Section 0"), ("check box", "Option 70"), ("push button", "Apply 70")):
        assert (role, name) in found
    assert found["push button", "Apply 70"][0] >> SENSITIVE & 1
    assert not found["push button", "Apply 4"][0] >> SENSITIVE & 1  # every fifth one is disabled
    assert {"value 0", "value 70"} <= {value for _path, role, *_, value in nodes if role == "text"}
    # A GTK list row is a list item holding a label, a Qt one a named list item.
    rows = [name for _path, _role, name, *_ in nodes if name.startswith("Row ")]
    assert rows[:2] == ["Row 0", "Row 1"] and len(rows) == (500 if toolkit == "qt5" else 250)
