"""Stand-ins for what the Windows backend reaches through the runtime: pywinauto (UIA
backend), uiautomation, user32 through ctypes.windll, and pyautogui.

Both packages present the same desktop, described once with `Node`s: each package wraps
the nodes the way it shapes elements (pywinauto wrappers with friendly class names and
pattern interfaces that raise when missing; uiautomation controls with
"...Control" type names and pattern getters that answer None). Every call that acts on
the desktop is written to a shared `Journal` with the thread it ran on.
"""

from __future__ import annotations

import re
import threading
import types
from dataclasses import dataclass, field


class Journal:
    def __init__(self) -> None:
        self.entries: list[tuple[tuple, int]] = []

    def record(self, *what) -> None:
        self.entries.append((what, threading.get_ident()))

    @property
    def calls(self) -> list[tuple]:
        return [what for what, _ in self.entries]

    def threads(self) -> set[int]:
        return {thread for _, thread in self.entries}


class Rect:
    def __init__(self, left, top, right, bottom) -> None:
        self.left, self.top, self.right, self.bottom = left, top, right, bottom


@dataclass
class Node:
    """One UI Automation element: its control type name (Button, Edit, ...) and what it offers."""

    type: str
    name: str = ""
    auto_id: str = ""
    enabled: bool = True
    value: str | None = None  # a Value pattern holding this text
    children: list[Node] = field(default_factory=list)
    patterns: set[str] = field(default_factory=set)  # invoke, toggle, selection, expand, selection_item
    toggle_state: int = 0  # 0 off, 1 on, 2 indeterminate
    selected: bool = False
    expand_state: int = 0  # 0 collapsed, 1 expanded, 2 partially expanded, 3 leaf
    focused: bool = False
    failing: set[str] = field(default_factory=set)  # properties, calls and patterns that raise ("once x": once)
    rect: tuple = (0, 0, 0, 0)
    friendly: str | None = None  # pywinauto's friendly class name when it differs from the type

    def fails(self, what: str) -> None:
        if f"once {what}" in self.failing:
            self.failing.discard(f"once {what}")
        elif what not in self.failing:
            return
        raise RuntimeError(f"{what} failed on {self.name or self.type}")


class Pattern:
    def __init__(self, journal: Journal, node: Node, kind: str) -> None:
        self._journal, self._node, self._kind = journal, node, kind

    def _act(self, action: str, *args) -> None:
        self._journal.record(self._kind, action, self._node.name, *args)
        self._node.fails(f"{self._kind}.{action}")

    def Invoke(self): self._act("Invoke")
    def Toggle(self): self._act("Toggle")
    def Select(self): self._act("Select")
    def Expand(self): self._act("Expand")

    def SetValue(self, text):
        self._act("SetValue", text)
        self._node.value = text

    @property
    def CurrentValue(self):  # pywinauto's value interface
        return self._node.value

    @property
    def CurrentToggleState(self): return self._node.toggle_state
    @property
    def CurrentIsSelected(self): return self._node.selected
    @property
    def CurrentExpandCollapseState(self): return self._node.expand_state
    ToggleState, IsSelected, ExpandCollapseState = CurrentToggleState, CurrentIsSelected, CurrentExpandCollapseState

    @property
    def Value(self):  # uiautomation's value pattern
        return self._node.value


@dataclass
class Window:
    title: str
    root: Node
    handle: int
    visible: bool = True


class Screen:
    """The fake desktop: top-level windows, the foreground handle and the journal.

    `remote_calls` counts the reads that would cross into the window's process: every
    property, pattern and child list asked of an element, and each cache request; a
    read answered from a cache is not counted.
    """

    def __init__(self) -> None:
        self.journal = Journal()
        self.remote_calls = 0
        self.windows: list[Window] = []
        self.foreground = 0
        self.failing_keys: set[str] = set()  # uiautomation key sequences that fail once

    def add_window(self, title: str, *children: Node, friendly="Dialog", visible=True, foreground=False,
                   **node) -> Window:
        window = Window(title, Node("Window", title, children=list(children), friendly=friendly, **node),
                        handle=0x1000 + len(self.windows), visible=visible)
        self.windows.append(window)
        if foreground:
            self.foreground = window.handle
        return window


# --- pywinauto ----------------------------------------------------------------------------

class NoPatternInterfaceError(Exception):
    pass


class ElementInfo:
    def __init__(self, node: Node) -> None:
        self._node = node

    @property
    def automation_id(self):
        return self._node.auto_id

    @property
    def enabled(self):
        return self._node.enabled


class Wrapper:
    """A pywinauto UIA element wrapper."""

    def __init__(self, screen: Screen, node: Node) -> None:
        self._screen, self._node = screen, node

    def _record(self, *what) -> None:
        self._screen.journal.record(*what, self._node.name)
        self._node.fails(what[0])

    def _interface(self, kind: str, present: bool) -> Pattern:
        self._screen.remote_calls += 1
        self._node.fails(f"iface_{kind}")
        if not present:
            raise NoPatternInterfaceError(kind)
        return Pattern(self._screen.journal, self._node, kind)

    def wrapper_object(self):
        return self

    def friendly_class_name(self):
        self._screen.remote_calls += 1
        self._node.fails("type")
        return self._node.type if self._node.friendly is None else self._node.friendly

    def window_text(self):
        self._screen.remote_calls += 1
        self._node.fails("name")
        return self._node.name

    @property
    def element_info(self):
        self._screen.remote_calls += 2  # its automation id and enabled state
        self._node.fails("element_info")
        return ElementInfo(self._node)

    @property
    def iface_value(self):
        return self._interface("value", self._node.value is not None)

    @property
    def iface_invoke(self):
        return self._interface("invoke", "invoke" in self._node.patterns)

    @property
    def iface_toggle(self):
        return self._interface("toggle", "toggle" in self._node.patterns)

    @property
    def iface_selection_item(self):
        return self._interface("selection_item", "selection_item" in self._node.patterns)

    @property
    def iface_expand_collapse(self):
        return self._interface("expand", "expand" in self._node.patterns)

    def has_keyboard_focus(self):
        self._screen.remote_calls += 1
        self._node.fails("focus")
        return self._node.focused

    def children(self):
        self._screen.remote_calls += 1
        self._screen.journal.record("children", self._node.name)
        self._node.fails("children")
        return [Wrapper(self._screen, child) for child in self._node.children]

    def click_input(self): self._record("click_input")
    def double_click_input(self): self._record("double_click_input")
    def set_focus(self): self._record("set_focus")
    def expand(self): self._record("expand")

    def type_keys(self, keys, **options):
        self._record("type_keys", keys, options)

    def select(self, value):
        self._record("select", value)

    def child_window(self, title_re):
        self._record("child_window", title_re)
        matches = [child for child in self._node.children if re.match(title_re, child.name)]
        if not matches:
            raise LookupError(f"no child matching {title_re}")
        return Wrapper(self._screen, matches[0])

    def rectangle(self):
        self._node.fails("rectangle")
        return Rect(*self._node.rect)


def pywinauto_module(screen: Screen) -> types.ModuleType:
    class Desktop:
        def __init__(self, backend="win32"):
            screen.journal.record("Desktop", backend)
            self.backend = backend

        def windows(self, title_re=None, visible_only=False, handle=None):
            screen.journal.record("windows", {key: value for key, value in
                                              (("title_re", title_re), ("visible_only", visible_only),
                                               ("handle", handle)) if value is not None})
            pattern = re.compile(title_re) if title_re is not None else None
            return [Wrapper(screen, window.root) for window in screen.windows
                    if (not visible_only or window.visible)
                    and (handle is None or window.handle == handle)
                    and (pattern is None or pattern.match(window.title))]

    module = types.ModuleType("pywinauto")
    module.Desktop = Desktop
    return module


# --- uiautomation -------------------------------------------------------------------------

class PropertyId:
    ControlTypeProperty = 30003
    NameProperty = 30005
    HasKeyboardFocusProperty = 30008
    IsEnabledProperty = 30010
    AutomationIdProperty = 30011
    ValueValueProperty = 30045
    ExpandCollapseExpandCollapseStateProperty = 30070
    SelectionItemIsSelectedProperty = 30079
    ToggleToggleStateProperty = 30086


class TreeScope:
    Element, Children, Descendants, Subtree = 1, 2, 4, 7


class CacheRequest:
    def __init__(self) -> None:
        self.properties: set[int] = set()
        self.TreeScope = TreeScope.Element

    def AddProperty(self, property_id):
        self.properties.add(property_id)


class Control:
    """A uiautomation control; one returned by BuildUpdatedCache (and its cached
    children) also answers the Cached... reads for what its request named, failing
    for anything else as UI Automation does."""

    def __init__(self, screen: Screen, node: Node | None, cache: CacheRequest | None = None) -> None:
        self._screen, self._node, self._cache = screen, node, cache

    def _property(self, what: str, value):
        self._screen.remote_calls += 1
        self._node.fails(what)
        return value

    def _cached(self, property_id: int, what: str, value):
        if self._cache is None or property_id not in self._cache.properties:
            raise RuntimeError(f"property {property_id} is not cached")
        self._node.fails(what)
        return value

    def _pattern(self, kind: str, present: bool):
        self._screen.remote_calls += 1
        self._node.fails(f"get_{kind}")
        return Pattern(self._screen.journal, self._node, kind) if present else None

    def Exists(self, maxSearchSeconds=5, searchIntervalSeconds=0.5):
        return self._node is not None

    @property
    def ControlTypeName(self): return self._property("type", self._node.type + "Control")
    @property
    def Name(self): return self._property("name", self._node.name)
    @property
    def AutomationId(self): return self._property("auto_id", self._node.auto_id)
    @property
    def IsEnabled(self): return self._property("enabled", self._node.enabled)
    @property
    def HasKeyboardFocus(self): return self._property("focus", self._node.focused)

    @property
    def BoundingRectangle(self):
        return Rect(*self._property("rectangle", self._node.rect))

    def GetValuePattern(self): return self._pattern("value", self._node.value is not None)
    def GetInvokePattern(self): return self._pattern("invoke", "invoke" in self._node.patterns)
    def GetTogglePattern(self): return self._pattern("toggle", "toggle" in self._node.patterns)
    def GetSelectionPattern(self): return self._pattern("selection", "selection" in self._node.patterns)
    def GetExpandCollapsePattern(self): return self._pattern("expand", "expand" in self._node.patterns)
    def GetSelectionItemPattern(self):
        return self._pattern("selection_item", "selection_item" in self._node.patterns)

    def GetChildren(self):
        self._screen.remote_calls += 1
        self._screen.journal.record("GetChildren", self._node.name)
        self._node.fails("children")
        return [Control(self._screen, child) for child in self._node.children]

    def BuildUpdatedCache(self, request):
        self._screen.remote_calls += 1
        self._screen.journal.record("BuildUpdatedCache", self._node.name, request.TreeScope)
        return Control(self._screen, self._node, request)

    def GetCachedChildren(self):
        if self._cache is None or self._cache.TreeScope != TreeScope.Subtree:
            raise RuntimeError("children are not cached")
        self._screen.journal.record("GetCachedChildren", self._node.name)
        self._node.fails("children")
        return [Control(self._screen, child, self._cache) for child in self._node.children]

    @property
    def CachedControlTypeName(self):
        return self._cached(PropertyId.ControlTypeProperty, "type", self._node.type + "Control")
    @property
    def CachedName(self): return self._cached(PropertyId.NameProperty, "name", self._node.name)
    @property
    def CachedAutomationId(self): return self._cached(PropertyId.AutomationIdProperty, "auto_id", self._node.auto_id)
    @property
    def CachedIsEnabled(self): return self._cached(PropertyId.IsEnabledProperty, "enabled", self._node.enabled)

    def GetCachedPropertyValue(self, property_id):
        # An unsupported pattern's property is cached as its default.
        node = self._node
        if property_id == PropertyId.ValueValueProperty:
            present, what, value, default = node.value is not None, "get_value", node.value, ""
        elif property_id == PropertyId.ToggleToggleStateProperty:
            present, what, value, default = "toggle" in node.patterns, "get_toggle", node.toggle_state, 0
        elif property_id == PropertyId.SelectionItemIsSelectedProperty:
            present, what, value, default = "selection_item" in node.patterns, "get_selection_item", node.selected, False
        elif property_id == PropertyId.ExpandCollapseExpandCollapseStateProperty:
            present, what, value, default = "expand" in node.patterns, "get_expand", node.expand_state, 3
        else:
            present, what, value, default = True, "focus", node.focused, False
        return self._cached(property_id, what, value if present else default)

    def Click(self):
        self._screen.journal.record("Click", self._node.name)
        self._node.fails("Click")

    def DoubleClick(self):
        self._screen.journal.record("DoubleClick", self._node.name)
        self._node.fails("DoubleClick")


def uiautomation_module(screen: Screen, cache_requests: bool = True) -> types.ModuleType:
    """The package; `cache_requests` false gives a release without CacheRequest."""
    module = types.ModuleType("uiautomation")

    def WindowControl(searchDepth=0xFFFFFFFF, **conditions):
        screen.journal.record("WindowControl", searchDepth, conditions)
        matches = [window.root for window in screen.windows if window.title == conditions.get("Name")]
        return Control(screen, matches[0] if matches else None)

    def GetForegroundControl():
        screen.journal.record("GetForegroundControl")
        matches = [window.root for window in screen.windows if window.handle == screen.foreground]
        return Control(screen, matches[0]) if matches else None

    def SendKeys(text, interval=0.01, waitTime=0.01, charMode=True, debug=False):
        screen.journal.record("SendKeys", text, interval)
        if text in screen.failing_keys:
            screen.failing_keys.discard(text)
            raise OSError(f"SendKeys {text} failed")

    module.PropertyId, module.TreeScope = PropertyId, TreeScope
    if cache_requests:
        module.CacheRequest = CacheRequest
    module.WindowControl = WindowControl
    module.GetForegroundControl = GetForegroundControl
    module.SendKeys = SendKeys
    return module


# --- user32 and pyautogui -----------------------------------------------------------------

def windll(screen: Screen) -> types.SimpleNamespace:
    def GetForegroundWindow():
        screen.journal.record("GetForegroundWindow")
        return screen.foreground

    return types.SimpleNamespace(user32=types.SimpleNamespace(GetForegroundWindow=GetForegroundWindow))


def pyautogui_module(screen: Screen) -> types.ModuleType:
    module = types.ModuleType("pyautogui")
    for name in ("click", "doubleClick", "hotkey", "typewrite", "write", "press"):
        def action(*args, _name=name, **options):
            screen.journal.record("pyautogui." + _name, *args, *([options] if options else []))
        setattr(module, name, action)
    return module
