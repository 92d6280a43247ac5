# The AT-SPI2 walker, run as `python3 -c` by DesktopAccess._snapshot_linux_atspi. Its
# text is prefixed with a header that imports json, sys and Atspi and sets max_depth,
# target_title, target_pid, max_elements, with_states and walk_seconds, then with the definitions of atspi_tree.py. It finds the
# target window, reads its accessible tree to max_depth and prints one JSON object: the
# window, its application and the listed elements. The target is the window of process
# target_pid when that is set (its active or only window; target_title then only names
# it), else the first window whose name holds target_title, else the active window. No
# other window ever stands in for it. The tree is read in bulk (read_tree); where the
# accessibility bus cannot be reached directly, node by node through the bindings.

import time

STARTED = time.monotonic()
# The walk answers with what it has after this long, well ahead of the snapshot's own
# time limit (the desktop module's SNAPSHOT_TIMEOUT) that ends a walker which does not
# answer.
WALK_SECONDS = walk_seconds
# Under an element bound, the fewest nodes read in one round of calls.
BOUNDED_ROUND = 64

# GTK 3 names its check and radio menu items apart; other toolkits call them "menu item".
INTERACTIVE_ROLES = {
    "push button", "check box", "combo box", "text", "link", "menu item", "menu bar", "radio button",
    "slider", "page tab", "tree item", "list item", "toggle button", "spin button", "entry", "password text",
    "check menu item", "radio menu item",
}
CONTEXT_ROLES = {"label", "status bar", "panel", "frame", "filler", "heading", "section", "paragraph"}
# Interactive roles without a Value interface whose text content is their value; the
# text of a "password text" node is never read.
TEXT_CONTENT_ROLES = ("text", "entry")
TEXT_CONTENT_LIMIT = 1000


def indexed_children(node):
    """(index, child) for the node's children, leaving out the ones that are gone."""
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield index, child


def children(node):
    return (child for _index, child in indexed_children(node))


def child_paths(node, path):
    """(path, child) for the node's children, each path extending the node's."""
    for index, child in indexed_children(node):
        yield path + (index,), child


def has_state(node, state):
    return node.get_state_set().contains(state)


def has_state_named(node, state):
    """Whether the node has the state Atspi.StateType.<state>; False when unreadable."""
    try:
        return has_state(node, getattr(Atspi.StateType, state))
    except Exception:
        return False


def is_active(window):
    try:
        return has_state(window, Atspi.StateType.ACTIVE)
    except Exception:
        return False


def process_id(app):
    try:
        return app.get_process_id()
    except Exception:
        return None


def bus_name(app):
    try:
        return app.app.bus_name or ""
    except Exception:
        return ""


def find_target():
    """The (application, window, window's index among the application's children) to
    walk, or None.

    Every child of an application is one of its top-level windows, whatever its role
    (frame, dialog, file chooser, alert; Qt shows a filler). A window named exactly
    target_title wins over one whose name only holds it.
    """
    wanted = target_title.lower() if target_title else None
    holding = None
    for app in children(Atspi.get_desktop(0)):
        if target_pid is not None and process_id(app) != target_pid:
            continue
        try:
            windows = list(indexed_children(app))
        except Exception:
            continue  # an application that does not answer is passed over
        if target_pid is not None:
            active = [(index, window) for index, window in windows if is_active(window)]
            if active or len(windows) == 1:
                index, window = (active or windows)[0]
                return app, window, index
            continue
        for index, window in windows:
            if wanted is None:
                if is_active(window):
                    return app, window, index
                continue
            try:
                name = window.get_name() or ""
            except Exception:
                continue
            if name == target_title:
                return app, window, index
            if holding is None and wanted in name.lower():
                holding = app, window, index
    return holding


def display_name(node):
    return node.get_name() or node.get_description() or ""


def is_enabled(node):
    try:
        states = node.get_state_set()
        return states.contains(Atspi.StateType.SENSITIVE) or states.contains(Atspi.StateType.ENABLED)
    except Exception:
        return True


def value_of(node, role):
    try:
        # Older bindings call the Value interface get_value(), current ones get_value_iface().
        get_value = getattr(node, "get_value", None) or node.get_value_iface
        value = get_value()
        if value is not None:
            return str(value.get_current_value())
    except Exception:
        pass
    if role in TEXT_CONTENT_ROLES:
        try:
            text = node.get_text_iface()
            if text is not None:
                return text.get_text(0, min(text.get_character_count(), TEXT_CONTENT_LIMIT)) or ""
        except Exception:
            pass
    return ""


def out_of_time():
    return time.monotonic() - STARTED > WALK_SECONDS


def shown_states(has):
    """The states an element's line shows, has(name) telling whether it has the state
    Atspi.StateType.NAME."""
    states = [name for name in ("checked", "pressed", "selected") if has(name.upper())]
    if has("EXPANDED"):
        states.append("expanded")
    elif has("EXPANDABLE") or has("COLLAPSED"):
        states.append("collapsed")
    if has("FOCUSED"):
        states.append("focused")
    return states


def listed(role, enabled, name, has, depth, path):
    """The element a node of this role is listed as (its ref 1 for now when it takes one),
    or None; enabled(), name() and has(state name) are asked only when needed. With
    with_states a disabled interactive element is listed too, without a ref."""
    if role in INTERACTIVE_ROLES:
        if enabled():
            element = {"ref": 1, "role": role, "name": name(), "value": "", "depth": depth, "path": list(path)}
            if with_states:
                element["states"] = shown_states(has)
            return element
        if with_states:
            return {"ref": 0, "role": role, "name": name(), "value": "", "depth": depth,
                    "states": ["disabled"] + shown_states(has)}
    elif role in CONTEXT_ROLES:
        shown = name()
        if shown:
            return {"ref": 0, "role": role, "name": shown, "value": "", "depth": depth}
    return None


def tree_node_enabled(node):
    return node.has_state(Atspi.StateType.SENSITIVE) or node.has_state(Atspi.StateType.ENABLED)


def tree_node_element(node, depth):
    return listed(node.role_name, lambda: tree_node_enabled(node), node.display_name,
                  lambda state: node.has_state(getattr(Atspi.StateType, state)), depth, node.index_path)


class ReadingPlan:
    """Picks the nodes read_tree spends calls on: none but the window once the walk is
    out of time, and under an element bound none whose place in walk order comes after
    the bound's last element (the elements before it are known or still to be read, so
    nothing after it can be among them), the first ones in walk order first, a few times
    as many as the elements still wanted."""

    def __init__(self):
        self.timed_out = False
        self.left_out = False

    def __call__(self, root, nodes):
        if nodes and out_of_time():
            self.timed_out = True
            # The window itself is always read: without it there is nothing to answer.
            return [node for node in nodes if node is root], []
        if max_elements is None or not nodes:
            return nodes, []
        candidates = {id(node) for node in nodes}
        chosen = []
        refs = 0
        for node, depth in depth_first(root):
            if node.answered and depth <= max_depth and node.role_name in INTERACTIVE_ROLES \
                    and tree_node_enabled(node):
                refs += 1
            if refs >= max_elements:
                break
            if id(node) in candidates:
                chosen.append(node)
        self.left_out = self.left_out or len(chosen) < len(nodes)
        now = max(BOUNDED_ROUND, 4 * (max_elements - refs))
        return chosen[:now], chosen[now:]


def walk_tree(connection, root, plan):
    """The listed elements of a tree from read_tree, as walk_per_node lists them, with
    the values of the interactive ones read in bulk; their count; and how the walk
    ended (the answer's "timed_out" and "not_shown" when it did not end at the tree's
    end)."""
    elements = []
    valued = []
    ending = {"timed_out": True} if plan.timed_out else {}
    not_shown = 0
    for node, depth in depth_first(root):
        if depth > max_depth:
            continue
        element = tree_node_element(node, depth)
        if element is None:
            continue
        if len(valued) == max_elements:
            not_shown += 1 if element["ref"] else 0
            continue
        elements.append(element)
        if element["ref"]:
            element["ref"] = len(valued) + 1
            valued.append((node, element))
    if not_shown:
        ending["not_shown"] = None if plan.left_out else not_shown
    read_values(connection, [node for node, _element in valued], TEXT_CONTENT_ROLES, TEXT_CONTENT_LIMIT)
    for node, element in valued:
        element["value"] = node.value
    return elements, len(valued), ending


def walk(window, window_index):
    """The listed elements of the window, their count and how the walk ended, read in
    bulk where the accessibility bus answers, else node by node."""
    plan = ReadingPlan()
    try:
        window_bus, window_path = reference(window)
        connection = application_routes(accessibility_bus(), window_bus)
        # Only the lines of interactive elements show states.
        root = read_tree(connection, window_bus, window_path, index_path=(window_index,), max_depth=max_depth,
                         worth_reading=plan, needs_states=INTERACTIVE_ROLES.__contains__)
    except Exception:
        root = None
    if root is None:
        return walk_per_node(window, (window_index,))
    return walk_tree(connection, root, plan)


def walk_per_node(window, window_path):
    """The listed elements of the window's tree, depth first, to max_depth, their count
    and how the walk ended. Each element with a ref carries its path of child indexes
    from the application.

    A node whose properties cannot be read is left out with the rest of its subtree;
    the walk goes on with its next sibling.
    """
    elements = []
    ref = 0
    ending = {}
    # Each entry: the (path, node) pairs still to visit at one level, and that level's depth.
    stack = [(iter(((window_path, window),)), 0)]
    while stack:
        if out_of_time():
            ending["timed_out"] = True
            break
        nodes, depth = stack[-1]
        try:
            path, node = next(nodes, (None, None))
        except Exception:
            node = None
        if node is None:
            stack.pop()
            continue
        if depth > max_depth:
            continue
        try:
            role = node.get_role_name() or ""
            element = listed(role, lambda: is_enabled(node), lambda: display_name(node),
                             lambda state: has_state_named(node, state), depth, path)
            if element is not None and ref == max_elements:
                if element["ref"]:
                    ending["not_shown"] = None
                    break
            elif element is not None:
                elements.append(element)
                if element["ref"]:
                    ref += 1
                    element["ref"] = ref
                    element["value"] = value_of(node, role)
            if depth < max_depth:
                stack.append((child_paths(node, path), depth + 1))
        except Exception:
            continue
    return elements, ref, ending


def main():
    target = find_target()
    if target is None:
        print(json.dumps({"success": False, "error": "No window found"}))
        sys.exit(0)
    app, window, window_index = target
    elements, count, ending = walk(window, window_index)
    print(json.dumps({
        "success": True,
        "window": window.get_name() or (target_pid is not None and target_title) or "Unknown",
        "app": app.get_name() or "",
        "bus_name": bus_name(app),
        "pid": process_id(app),
        "elements": elements,
        "element_count": count,
        **ending,
    }))


main()
