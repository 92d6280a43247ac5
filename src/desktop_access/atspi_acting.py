# Acts on one element of a snapshot, run as `python3 -c PROGRAM REQUEST` by the
# DesktopAccess ref actions. REQUEST is a JSON object: op ("click", "place", "type",
# "keys", "select", "popup", "shows", "toggle", "checked"), the element's bus_name, pid, path
# (child indexes from the application), role and name as the snapshot saw them, and the
# op's own fields (text, clear_first, press_enter, value, before, done, clicked). Prints one JSON object. The element is found
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
# A GTK 4 combo box's button opens its popup; the options sit this deep below the popup.
OPENER_ROLES = ("push button", "toggle button")
OPENER_DEPTH = 3
POPUP_DEPTH = 10
OPTION_NAME_DEPTH = 2
VALUE_LIMIT = 1000
STATE_WAIT_SECONDS = 1.0
RETURN_KEYSYM = 0xFF0D
UP_KEYSYM = 0xFF52
DOWN_KEYSYM = 0xFF54
ESCAPE_KEYSYM = 0xFF1B
END_KEYSYM = 0xFF57
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


def descendants(node, depth):
    """The node's descendants down to `depth` levels, level by level."""
    level = [node]
    for _ in range(depth):
        level = [child for parent in level for child in children(parent)]
        yield from level


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


def action_names(node):
    """The node's action names in lower case."""
    try:
        action = node.get_action_iface()
        return [(action.get_action_name(i) or "").lower() for i in range(action.get_n_actions())] if action else []
    except Exception:
        return []


def perform(node, wanted):
    """Performs the node's first action named in `wanted` (in that order of preference);
    False when it has none of them."""
    names = action_names(node)
    for name in wanted:
        if name in names:
            return bool(node.get_action_iface().do_action(names.index(name)))
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
    return [extents.x, extents.y, extents.width, extents.height], is_gtk4(app)


def is_gtk4(app):
    return (app.get_toolkit_name() or "").lower() == "gtk" and (app.get_toolkit_version() or "").startswith("4")


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
    the element once it has the focus. A text field AT-SPI cannot focus (GTK 4) is
    focused as a person would, by a click at its middle: the answer asks for it
    ("focus_click") and the "keys" operation follows with "clicked"."""
    clicked = request.get("clicked", False)
    if not (has_focus(node) or (grab_focus(node) or clicked) and settled(lambda: has_focus(node))):
        if request["op"] != "keys":
            return {"success": True, "done": done, "focus_needed": True, "text": request["text"],
                    "window": window_name(app, request)}
        if not clicked and (node.get_role_name() or "") in TEXT_ROLES:
            answer = pointer_answer(app, node, request)
            if answer["rectangle"] is not None:
                return dict(answer, focus_click=True)
        if done == "editable":
            # The text is in: a retry must not type it twice.
            return {"success": False, "error": "Typed the text, but could not press Enter: the element cannot "
                    "take the keyboard focus"}
        return {"success": False, "error": "The element cannot take the keyboard focus"}
    if clicked or done == "editable":
        # Enter goes after the text just typed or set.
        caret_to_end(node)
    if request["text"] is not None:
        if request["clear_first"]:
            # Ctrl+A: what is typed next replaces the text.
            press_with_control(A_KEYSYM)
        type_characters(node, request["text"])
        # Keys are not exact (a remapped key may come out as another character): a text
        # that can be read back must hold what was typed.
        if not settled(lambda: request["text"] in text_of(node)) and text_of(node):
            return {"success": False, "error": "The typed text did not arrive whole; the element holds: "
                    + text_of(node)}
    if request["press_enter"]:
        press(RETURN_KEYSYM)
    return {"success": True, "done": done, "value": text_of(node), "pressed_enter": request["press_enter"]}


def caret_to_end(node):
    """Puts the caret after the text (a click leaves it where it landed); Ctrl+End where
    the Text interface cannot."""
    try:
        text = node.get_text_iface()
        end = text.get_character_count()
        if text.set_caret_offset(end) and settled(lambda: text.get_caret_offset() == end):
            return
    except Exception:
        pass
    press_with_control(END_KEYSYM)


def press_with_control(keysym):
    Atspi.generate_keyboard_event(CONTROL_MASK, None, Atspi.KeySynthType.LOCKMODIFIERS)
    try:
        press(keysym)
    finally:
        Atspi.generate_keyboard_event(CONTROL_MASK, None, Atspi.KeySynthType.UNLOCKMODIFIERS)


def type_characters(node, text):
    """Types the text key by key, each character by its keysym. A character the keyboard
    map lacks gets a spare key code remapped for it, and the application reads the map
    when it handles the key, not when it was sent: the next remapping waits until the
    character has arrived (Qt otherwise drops or swaps characters under load), or a
    pause where the element's text cannot be read."""
    for character in text:
        code = ord(character)
        if 0x20 <= code < 0x7F or character == "\n":
            press(code if character != "\n" else RETURN_KEYSYM)
            continue
        before = caret_place(node)
        if before is None:
            press(0x01000000 | code)
            time.sleep(REMAP_SECONDS)
            continue
        # A key read with a map already changed again comes out as nothing: once more then.
        for _attempt in range(2):
            press(0x01000000 | code)
            if settled(lambda: caret_place(node) != before):
                break


def caret_place(node):
    """(character count, caret offset), which every typed character changes; None when
    unreadable."""
    try:
        text = node.get_text_iface()
        return (text.get_character_count(), text.get_caret_offset()) if text is not None else None
    except Exception:
        return None


def settled(condition):
    """Whether `condition()` holds, waiting a moment for the application to catch up."""
    deadline = time.monotonic() + STATE_WAIT_SECONDS
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def option_name(node):
    """An option's name: its own, else that of its first named descendant (GTK 4 list
    rows hold a label, a GTK 4 drop-down's rows a box with a label)."""
    for candidate in (node, *descendants(node, OPTION_NAME_DEPTH)):
        name = display_name(candidate)
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
        if (node.get_role_name() or "") == "combo box" and is_gtk4(app) and opener(node) is not None:
            # Its popup is worked with the keyboard: the window is activated first.
            return {"success": True, "done": None, "focus_needed": True, "window": window_name(app, request)}
        return not_selected(request)
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
    if selected and shows(app, node, name):
        return {"success": True, "done": "selection", "value": name}
    if (node.get_role_name() or "") == "combo box" and perform(node, OPEN_ACTIONS):
        # The open list shows the option: the pointer picks it there.
        rectangle, window_relative = settled_place(app, option)
        if rectangle is not None:
            return {"success": True, "done": None, "rectangle": rectangle, "window_relative": window_relative,
                    "window": window_name(app, request), "popup": True, "value": name}
    return not_selected(request)


def not_selected(request):
    return {"success": False, "error": "Could not select '{}'".format(request["value"])}


def opener(node):
    """(index of the combo box's child holding it, the button) of the button that opens a
    GTK 4 combo box's popup, or None."""
    for index, child in enumerate(children(node)):
        for candidate in (child, *descendants(child, OPENER_DEPTH - 1)):
            if (candidate.get_role_name() or "") in OPENER_ROLES and "click" in action_names(candidate):
                return index, candidate
    return None


def popup_roots(node, branch):
    """The combo box's children besides the one holding its button: its open popup."""
    return [child for index, child in enumerate(children(node)) if index != branch]


def popup_options(node, branch):
    return [item for root in popup_roots(node, branch) for item in descendants(root, POPUP_DEPTH)
            if (item.get_role_name() or "") in OPTION_ROLES]


def select_in_popup(app, node, request):
    """A GTK 4 combo box lists its options only while its popup is open, and misplaces
    them there (pointer clicks would land on a neighbour): opened with its button, the
    option named is reached with the arrow keys from the focused one, checked to have
    the focus, and chosen with Enter. The popup is closed again when that fails."""
    found = opener(node)
    if found is None:
        return not_selected(request)
    branch, button = found
    if not is_checked(button) and not perform(button, ("click",)):
        return not_selected(request)
    settled(lambda: popup_roots(node, branch))
    options = popup_options(node, branch)
    entry = matching_option([(None, index, option) for index, option in enumerate(options)], request["value"])
    if entry is not None:
        settled(lambda: any(has_focus(option) for option in options))
    focused = [index for index, option in enumerate(options) if has_focus(option)] if entry is not None else []
    if focused:
        _, index, option = entry
        # One key at a time, each seen to arrive: a key lost on the way must not choose
        # the option next to the one named.
        step = 1 if index > focused[0] else -1
        arrived = True
        for position in range(focused[0] + step, index + step, step):
            press(DOWN_KEYSYM if step > 0 else UP_KEYSYM)
            arrived = settled(lambda: has_focus(options[position]))
            if not arrived:
                break
        # The pointer resting on the popup selects the row under it, which Enter would
        # choose instead: then nothing is chosen.
        if arrived and settled(lambda: has_focus(option)) and not any(
                is_selected(other) for other in options if other is not option):
            press(RETURN_KEYSYM)
            name = option_name(option)
            if settled(lambda: name in button_labels(app, node)):
                return {"success": True, "done": "selection", "value": name}
    # Closed with Escape as a person would: closing it with the button's action made GTK 4
    # swallow the next pointer press in other windows once a later choice was made.
    if is_checked(button):
        press(ESCAPE_KEYSYM)
        if not settled(lambda: not is_checked(button)):
            perform(button, ("click",))
    return not_selected(request)


def is_selected(node):
    try:
        return node.get_state_set().contains(Atspi.StateType.SELECTED)
    except Exception:
        return False


def press(keysym):
    Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)
    time.sleep(KEY_SECONDS)


def button_labels(app, node):
    """The names of the labels shown on a GTK 4 combo box's button: its choice (the
    button keeps the labels of earlier choices, without a place)."""
    found = opener(node)
    if found is None:
        return []
    return [display_name(label) for label in descendants(found[1], POPUP_DEPTH)
            if (label.get_role_name() or "") == "label" and place(app, label)[0] is not None]


def settled_place(app, node):
    """The place of a node that is just being shown, once it has one."""
    settled(lambda: place(app, node)[0] is not None)
    return place(app, node)


def shows(app, node, name):
    """Whether a combo box now shows the option (a list's own selection is its answer):
    a Qt combo box's popup list selects without changing the combo box."""
    if (node.get_role_name() or "") != "combo box":
        return True
    return settled(lambda: name in (display_name(node), text_of(node)) or is_gtk4(app) and
                   name in button_labels(app, node))


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
    if op == "popup":
        return select_in_popup(app, node, request)
    if op == "shows":
        return {"success": True, "shows": shows(app, node, request["value"])}
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
