# Acts on one element of a snapshot, run as `python3 -c PROGRAM REQUEST` by the
# DesktopAccess ref actions. REQUEST is a JSON object: op ("click", "place", "type",
# "keys", "select", "shows", "toggle", "checked"), the element's bus_name, pid, path
# (child indexes from the application), role and name as the snapshot saw them, and the
# op's own fields (text, clear_first, press_enter, value, before, done). Prints one JSON object. The element is found
# again by application and path and must still have the snapshot's role and name:
# otherwise the answer is {"success": false, "stale": true} and nothing is done.

import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# Actions that click, by name in order of preference (compared in lower case). Never
# any first action: GTK 4 text views list clipboard and deletion actions first.
CLICK_ACTIONS = ("click", "press", "activate", "jump", "toggle", "open")
# Actions that open a combo box's list.
OPEN_ACTIONS = ("showmenu", "press", "open")
TOGGLE_ACTIONS = ("toggle", "click", "press", "activate")
# Roles whose "activate" is Enter, not a click: they are clicked with the pointer.
TEXT_ROLES = ("text", "entry", "password text", "terminal", "spin button")
OPTION_CONTAINER_ROLES = ("menu", "list", "list box", "table", "tree", "tree table")
NAMED_BY_VALUE_ROLES = ("combo box",)
OPTION_ROLES = ("list item", "menu item", "tree item", "table cell")
VALUE_LIMIT = 1000
STATE_WAIT_SECONDS = 1.0
RETURN_KEYSYM = 0xFF0D
CONTROL_MASK = 1 << 2
A_KEYSYM = 0x61
KEY_SECONDS = 0.005
REMAP_SECONDS = 0.05


class Stale(Exception):
    """The element of the ref is gone or is no longer the one the snapshot listed."""


def children(node):
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield child


def display_name(node):
    return node.get_name() or node.get_description() or ""


def find_application(request):
    for app in children(Atspi.get_desktop(0)):
        if app.app.bus_name == request["bus_name"]:
            # A window closed and reopened alike is another process: its refs are stale.
            if request["pid"] is not None and app.get_process_id() != request["pid"]:
                raise Stale()
            return app
    raise Stale()


def find_element(request):
    app = find_application(request)
    node = app
    for index in request["path"]:
        if not 0 <= index < node.get_child_count():
            raise Stale()
        node = node.get_child_at_index(index)
        if node is None:
            raise Stale()
    role = node.get_role_name() or ""
    # A combo box is named after its current choice.
    if role != request["role"] or role not in NAMED_BY_VALUE_ROLES and display_name(node) != request["name"]:
        raise Stale()
    return app, node


def perform(node, wanted):
    """Performs the node's first action named in `wanted` (in that order of preference);
    False when it has none of them."""
    try:
        action = node.get_action_iface()
        names = [(action.get_action_name(i) or "").lower() for i in range(action.get_n_actions())] if action else []
    except Exception:
        return False
    for name in wanted:
        if name in names:
            return bool(action.do_action(names.index(name)))
    return False


def place(app, node):
    """The element's rectangle [x, y, width, height] on the screen, or None when it shows
    nowhere; window_relative: GTK 4 gives positions inside the window."""
    try:
        if not node.get_state_set().contains(Atspi.StateType.VISIBLE):
            return None, False
        extents = node.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
    except Exception:
        return None, False
    if extents.width <= 0 or extents.height <= 0 or extents.x <= -(2 ** 30) or extents.y <= -(2 ** 30):
        return None, False
    toolkit = (app.get_toolkit_name() or "").lower()
    version = app.get_toolkit_version() or ""
    return [extents.x, extents.y, extents.width, extents.height], toolkit == "gtk" and version.startswith("4")


def window_name(app, request):
    """The name of the element's top-level window."""
    window = app.get_child_at_index(request["path"][0])
    return (window.get_name() or "") if window is not None else ""


def pointer_answer(app, node, request):
    rectangle, window_relative = place(app, node)
    return {"success": True, "done": None, "rectangle": rectangle, "window_relative": window_relative,
            "window": window_name(app, request)}


def text_of(node):
    """The element's text read back, first VALUE_LIMIT characters: its Text, else its Value."""
    try:
        text = node.get_text_iface()
        if text is not None:
            return text.get_text(0, min(text.get_character_count(), VALUE_LIMIT)) or ""
    except Exception:
        pass
    try:
        value = node.get_value_iface()
        if value is not None:
            return str(value.get_current_value())[:VALUE_LIMIT]
    except Exception:
        pass
    return ""


def full_text(node):
    text = node.get_text_iface()
    return text.get_text(0, text.get_character_count()) or ""


def grab_focus(node):
    try:
        component = node.get_component_iface()
        return bool(component and component.grab_focus())
    except Exception:
        return False


def has_focus(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.FOCUSED)
    except Exception:
        return False


def type_text(app, node, request):
    """Sets the text through EditableText (the whole text: insert lengths count bytes in
    some toolkits and UTF-16 units in others), read back to be sure. What needs the
    keyboard (typing, Enter) needs the focus: without it the answer asks for the
    window to be activated and the "keys" operation to follow."""
    text, clear_first = request["text"], request["clear_first"]
    grab_focus(node)
    try:
        editable = node.get_editable_text_iface()
        wanted = text if clear_first else full_text(node) + text
        if editable is None or not editable.set_text_contents(wanted) or full_text(node) != wanted:
            raise LookupError()
    except Exception:
        return type_keys(app, node, request)
    request = dict(request, text=None)
    if request["press_enter"] and not perform(node, ("activate",)):
        return type_keys(app, node, request, "editable")
    return {"success": True, "done": "editable", "value": text_of(node), "pressed_enter": request["press_enter"]}


def type_keys(app, node, request, done="keyboard"):
    """Types request["text"] (unless None) with the keyboard, then Enter when asked, into
    the element once it has the focus."""
    if not (has_focus(node) or grab_focus(node) and settled(lambda: has_focus(node))):
        if request["op"] == "keys":
            return {"success": False, "error": "The element cannot take the keyboard focus"}
        return {"success": True, "done": done, "focus_needed": True, "text": request["text"],
                "window": window_name(app, request)}
    if request["text"] is not None:
        if request["clear_first"]:
            select_all()
        type_characters(request["text"])
        # Keys are not exact (a remapped key may come out as another character): a text
        # that can be read back must hold what was typed.
        if not settled(lambda: request["text"] in text_of(node)) and text_of(node):
            return {"success": False, "error": "The typed text did not arrive whole; the element holds: "
                    + text_of(node)}
    if request["press_enter"]:
        Atspi.generate_keyboard_event(RETURN_KEYSYM, None, Atspi.KeySynthType.SYM)
    return {"success": True, "done": done, "value": text_of(node), "pressed_enter": request["press_enter"]}


def select_all():
    """Ctrl+A: what is typed next replaces the text."""
    Atspi.generate_keyboard_event(CONTROL_MASK, None, Atspi.KeySynthType.LOCKMODIFIERS)
    try:
        Atspi.generate_keyboard_event(A_KEYSYM, None, Atspi.KeySynthType.SYM)
    finally:
        Atspi.generate_keyboard_event(CONTROL_MASK, None, Atspi.KeySynthType.UNLOCKMODIFIERS)
    time.sleep(KEY_SECONDS)


def type_characters(text):
    """Types the text key by key, each character by its keysym. A character the keyboard
    map lacks gets a spare key code remapped for it: the pause lets the application read
    the new map before the next one (typed as one string they come out garbled)."""
    for character in text:
        code = ord(character)
        keysym = code if 0x20 <= code < 0x7F else 0xFF0D if character == "\n" else 0x01000000 | code
        Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)
        time.sleep(KEY_SECONDS if code < 0x7F else REMAP_SECONDS)


def settled(condition):
    """Whether `condition()` holds, waiting a moment for the application to catch up."""
    deadline = time.monotonic() + STATE_WAIT_SECONDS
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def option_name(node):
    """An option's name: its own, else that of its first named child (GTK 4 list rows)."""
    name = display_name(node)
    if name:
        return name
    for child in children(node):
        name = display_name(child)
        if name:
            return name
    return ""


def options_of(node):
    """(container, index, option) for each option: the node's children, and those of a
    menu or list it holds (a GTK 3 combo box's menu, a Qt combo box's list)."""
    found = []
    for index, child in enumerate(children(node)):
        if (child.get_role_name() or "") in OPTION_CONTAINER_ROLES:
            found += [(child, inner, option) for inner, option in enumerate(children(child))]
        else:
            found.append((node, index, child))
    return found


def matching_option(options, value):
    """The option named `value` (ignoring case), else the first whose name holds it."""
    wanted = value.lower()
    named = [(option_name(entry[2]).lower(), entry) for entry in options]
    for name, entry in named:
        if name == wanted:
            return entry
    for name, entry in named:
        if name and wanted in name:
            return entry
    return None


def select_option(app, node, request):
    entry = matching_option(options_of(node), request["value"])
    if entry is None and (node.get_role_name() or "") in OPTION_ROLES:
        # An option's ref selects among its siblings.
        node = node.get_parent()
        entry = matching_option(options_of(node), request["value"]) if node is not None else None
    if entry is None:
        return {"success": False, "error": "Could not select '{}'".format(request["value"])}
    container, index, option = entry
    selected = False
    # A GTK 3 combo box selects through its own Selection by the option's index in its menu.
    for holder in (node,) if container is node else (node, container):
        try:
            selection = holder.get_selection_iface()
            selected = selection is not None and bool(selection.select_child(index))
        except Exception:
            selected = False
        if selected:
            break
    if not selected:
        selected = perform(option, CLICK_ACTIONS)
    name = option_name(option)
    if selected and shows(node, name):
        return {"success": True, "done": "selection", "value": name}
    if (node.get_role_name() or "") == "combo box" and perform(node, OPEN_ACTIONS):
        # The open list shows the option: the pointer picks it there.
        rectangle, window_relative = settled_place(app, option)
        if rectangle is not None:
            return {"success": True, "done": None, "rectangle": rectangle, "window_relative": window_relative,
                    "window": window_name(app, request), "popup": True, "value": name}
    return {"success": False, "error": "Could not select '{}'".format(request["value"])}


def settled_place(app, node):
    """The place of a node that is just being shown, once it has one."""
    settled(lambda: place(app, node)[0] is not None)
    return place(app, node)


def shows(node, name):
    """Whether a combo box now shows the option (a list's own selection is its answer):
    a Qt combo box's popup list selects without changing the combo box."""
    if (node.get_role_name() or "") != "combo box":
        return True
    return settled(lambda: name in (display_name(node), text_of(node)))


def is_checked(node):
    states = node.get_state_set()
    return states.contains(Atspi.StateType.CHECKED) or states.contains(Atspi.StateType.PRESSED)


def settled_checked(node, before):
    """The check state once it differs from `before`, or as it is after a short wait."""
    settled(lambda: is_checked(node) != before)
    return is_checked(node)


def toggle(app, node, request):
    before = is_checked(node)
    if perform(node, TOGGLE_ACTIONS):
        return {"success": True, "done": "action", "checked": settled_checked(node, before)}
    answer = pointer_answer(app, node, request)
    answer["checked"] = before
    return answer


def act(request):
    app, node = find_element(request)
    op = request["op"]
    if op == "click":
        if (node.get_role_name() or "") not in TEXT_ROLES and perform(node, CLICK_ACTIONS):
            return {"success": True, "done": "action"}
        return pointer_answer(app, node, request)
    if op == "place":
        return pointer_answer(app, node, request)
    if op == "type":
        return type_text(app, node, request)
    if op == "keys":
        return type_keys(app, node, request, request["done"])
    if op == "select":
        return select_option(app, node, request)
    if op == "shows":
        return {"success": True, "shows": shows(node, request["value"])}
    if op == "toggle":
        return toggle(app, node, request)
    if op == "checked":
        return {"success": True, "checked": settled_checked(node, request["before"])}
    raise ValueError("unknown operation: " + op)


def main():
    request = json.loads(sys.argv[1])
    try:
        answer = act(request)
    except Stale:
        answer = {"success": False, "stale": True}
    except Exception as error:
        answer = {"success": False, "error": "{}: {}".format(type(error).__name__, error)}
    print(json.dumps(answer))


main()
