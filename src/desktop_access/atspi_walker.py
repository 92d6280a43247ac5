# The AT-SPI2 walker, run as `python3 -c` by DesktopAccess._snapshot_linux_atspi. Its
# text is prefixed with a header that imports json, sys and Atspi and sets max_depth,
# target_title and target_pid, then with the definitions of atspi_tree.py. It finds the
# target window, reads its accessible tree to max_depth and prints one JSON object: the
# window, its application and the listed elements. The target is the window of process
# target_pid when that is set (its active or only window; target_title then only names
# it), else the first window whose name holds target_title, else the active window. No
# other window ever stands in for it. The tree is read in bulk (read_tree); where the
# accessibility bus cannot be reached directly, node by node through the bindings.

INTERACTIVE_ROLES = {
    "push button", "check box", "combo box", "text", "link", "menu item", "menu bar", "radio button",
    "slider", "page tab", "tree item", "list item", "toggle button", "spin button", "entry", "password text",
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


def listed(role, enabled, name, depth, path):
    """The element a node of this role is listed as (its ref 1 for now when it takes one),
    or None; enabled() and name() are asked only when the role needs them."""
    if role in INTERACTIVE_ROLES:
        if enabled():
            return {"ref": 1, "role": role, "name": name(), "value": "", "depth": depth, "path": list(path)}
    elif role in CONTEXT_ROLES:
        shown = name()
        if shown:
            return {"ref": 0, "role": role, "name": shown, "value": "", "depth": depth}
    return None


def walk_tree(connection, root):
    """The listed elements of a tree from read_tree, as walk_per_node lists them, with
    the values of the interactive ones read in bulk."""
    elements = []
    valued = []
    for node, depth in depth_first(root):
        if depth > max_depth:
            continue
        element = listed(node.role_name,
                         lambda: node.has_state(Atspi.StateType.SENSITIVE) or node.has_state(Atspi.StateType.ENABLED),
                         node.display_name, depth, node.index_path)
        if element is not None:
            elements.append(element)
            if element["ref"]:
                element["ref"] = len(valued) + 1
                valued.append((node, element))
    read_values(connection, [node for node, _element in valued], TEXT_CONTENT_ROLES, TEXT_CONTENT_LIMIT)
    for node, element in valued:
        element["value"] = node.value
    return elements, len(valued)


def walk(window, window_index):
    """The listed elements of the window and their count, read in bulk where the
    accessibility bus answers, else node by node."""
    try:
        connection = accessibility_bus()
        root = read_tree(connection, *reference(window), index_path=(window_index,), max_depth=max_depth)
    except Exception:
        root = None
    if root is None:
        return walk_per_node(window, (window_index,))
    return walk_tree(connection, root)


def walk_per_node(window, window_path):
    """The listed elements of the window's tree, depth first, to max_depth. Each element
    with a ref carries its path of child indexes from the application.

    A node whose properties cannot be read is left out with the rest of its subtree;
    the walk goes on with its next sibling.
    """
    elements = []
    ref = 0
    # Each entry: the (path, node) pairs still to visit at one level, and that level's depth.
    stack = [(iter(((window_path, window),)), 0)]
    while stack:
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
            element = listed(role, lambda: is_enabled(node), lambda: display_name(node), depth, path)
            if element is not None:
                elements.append(element)
                if element["ref"]:
                    ref += 1
                    element["ref"] = ref
                    element["value"] = value_of(node, role)
            if depth < max_depth:
                stack.append((child_paths(node, path), depth + 1))
        except Exception:
            continue
    return elements, ref


def main():
    target = find_target()
    if target is None:
        print(json.dumps({"success": False, "error": "No window found"}))
        sys.exit(0)
    app, window, window_index = target
    elements, count = walk(window, window_index)
    print(json.dumps({
        "success": True,
        "window": window.get_name() or (target_pid is not None and target_title) or "Unknown",
        "app": app.get_name() or "",
        "bus_name": bus_name(app),
        "pid": process_id(app),
        "elements": elements,
        "element_count": count,
    }))


main()
