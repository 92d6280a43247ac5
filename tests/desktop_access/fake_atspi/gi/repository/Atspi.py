"""Accessible objects built from the JSON tree in $FAKE_ATSPI_TREE.

A node is {"role", "name", "description", "states": [...], "value": number,
"text": str, "legacy_value": bool, "pid": int, "fail": [what], "slow": seconds, "children": [...]};
"fail" names the calls that raise ("name", "role", "states", "children", "child"); reading the
role of a "slow" node moves the walker's clock (time.monotonic) on by that many seconds.
"""

import json
import os
import time

_clock = {"ahead": 0.0}
_monotonic = time.monotonic
time.monotonic = lambda: _monotonic() + _clock["ahead"]


class StateType:
    ACTIVE = "active"
    SENSITIVE = "sensitive"
    ENABLED = "enabled"
    CHECKED = "checked"
    PRESSED = "pressed"
    SELECTED = "selected"
    EXPANDABLE = "expandable"
    EXPANDED = "expanded"
    COLLAPSED = "collapsed"
    FOCUSED = "focused"


class Role:
    EXTENDED = 0
    LAST_DEFINED = 0


class StateSet:
    def __init__(self, states):
        self._states = set(states)

    def contains(self, state):
        return state in self._states


class Value:
    def __init__(self, value):
        self._value = value

    def get_current_value(self):
        return float(self._value)


class Text:
    def __init__(self, text):
        self._text = text
        self.requested = None

    def get_character_count(self):
        return len(self._text)

    def get_text(self, start, end):
        if end - start > 1000:
            raise AssertionError("unbounded text read")
        return self._text[start:end]


class Accessible:
    def __init__(self, node):
        self._node = node
        self._children = [None if child is None else Accessible(child) for child in node.get("children", [])]
        if node.get("legacy_value"):
            self.get_value = self._value

    def _check(self, what):
        if what in self._node.get("fail", []):
            raise RuntimeError(f"{what} failed")

    def get_name(self):
        self._check("name")
        return self._node.get("name")

    def get_description(self):
        return self._node.get("description")

    def get_role_name(self):
        self._check("role")
        _clock["ahead"] += self._node.get("slow", 0)
        return self._node.get("role")

    def get_state_set(self):
        self._check("states")
        return StateSet(self._node.get("states", ["sensitive", "enabled"]))

    def get_process_id(self):
        return self._node.get("pid", 0)

    def get_child_count(self):
        self._check("children")
        return len(self._children)

    def get_child_at_index(self, index):
        if "child" in self._node.get("fail", []) and index > 0:
            raise RuntimeError("child failed")
        return self._children[index]

    def _value(self):
        return Value(self._node["value"]) if "value" in self._node else None

    def get_value_iface(self):
        if self._node.get("legacy_value"):
            raise AttributeError("get_value_iface")
        return self._value()

    def get_text_iface(self):
        return Text(self._node["text"]) if "text" in self._node else None


def get_desktop(index):
    with open(os.environ["FAKE_ATSPI_TREE"]) as tree:
        return Accessible({"role": "desktop frame", "children": json.load(tree)})
