# The AT-SPI2 walker, run as `python3 -c` by DesktopAccess._snapshot_linux_atspi. Its
# text is prefixed with a header that imports json, sys and Atspi and sets max_depth
# and target_title. It finds the target window, walks its accessible tree to max_depth
# and prints one JSON object: the window, its application and the listed elements.

INTERACTIVE_ROLES = {
    "push button", "check box", "combo box", "text", "link", "menu item", "menu bar", "radio button",
    "slider", "page tab", "tree item", "list item", "toggle button", "spin button", "entry", "password text",
}
CONTEXT_ROLES = {"label", "status bar", "panel", "frame", "filler", "heading", "section", "paragraph"}
WINDOW_ROLES = ("frame", "window", "dialog")
FALLBACK_WINDOW_ROLES = ("frame", "window")
# Interactive roles without a Value interface whose text content is their value; the
# text of a "password text" node is never read.
TEXT_CONTENT_ROLES = ("text", "entry")
TEXT_CONTENT_LIMIT = 1000


def children(node):
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield child


def has_state(node, state):
    return node.get_state_set().contains(state)


def find_target():
    """The (application, window) to walk, or None."""
    seen = []
    wanted = target_title.lower() if target_title else None
    for app in children(Atspi.get_desktop(0)):
        try:
            windows = list(children(app))
        except Exception:
            continue  # an application that does not answer is passed over
        for window in windows:
            try:
                role = window.get_role_name() or ""
                name = window.get_name() or ""
            except Exception:
                continue
            seen.append((app, window, role, name))
            if role not in WINDOW_ROLES:
                continue
            if wanted is not None:
                if wanted in name.lower():
                    return app, window
                continue
            try:
                if has_state(window, Atspi.StateType.ACTIVE):
                    return app, window
            except Exception:
                pass
    for app, window, role, name in seen:
        if role in FALLBACK_WINDOW_ROLES and name:
            return app, window
    return None


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


def walk(window):
    """The listed elements of the window's tree, depth first, to max_depth.

    A node whose properties cannot be read is left out with the rest of its subtree;
    the walk goes on with its next sibling.
    """
    elements = []
    ref = 0
    # Each entry: the nodes still to visit at one level, and that level's depth.
    stack = [(iter((window,)), 0)]
    while stack:
        nodes, depth = stack[-1]
        try:
            node = next(nodes, None)
        except Exception:
            node = None
        if node is None:
            stack.pop()
            continue
        if depth > max_depth:
            continue
        try:
            role = node.get_role_name() or ""
            if role in INTERACTIVE_ROLES:
                if is_enabled(node):
                    name = display_name(node)
                    ref += 1
                    elements.append({"ref": ref, "role": role, "name": name, "value": value_of(node, role),
                                     "depth": depth})
            elif role in CONTEXT_ROLES:
                name = display_name(node)
                if name:
                    elements.append({"ref": 0, "role": role, "name": name, "value": "", "depth": depth})
            if depth < max_depth:
                stack.append((children(node), depth + 1))
        except Exception:
            continue
    return elements, ref


def main():
    target = find_target()
    if target is None:
        print(json.dumps({"success": False, "error": "No window found"}))
        sys.exit(0)
    app, window = target
    elements, count = walk(window)
    print(json.dumps({
        "success": True,
        "window": window.get_name() or "Unknown",
        "app": app.get_name() or "",
        "elements": elements,
        "element_count": count,
    }))


main()
