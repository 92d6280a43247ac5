"""Version shims, text views, interned keys and plain classes with C++ methods."""

import asyncio
import inspect
import sys

import pytest

from nebrix import _support_probe as probe


class TestOptionalAttr:
    def test_present_missing_and_none(self):
        class Node:
            lineno = None
        assert probe.optional_attr(Node(), "lineno") == (True, None)
        assert probe.optional_attr(Node(), "end_lineno") == (False, None)

    def test_other_failures_raise(self):
        class Broken:
            @property
            def lineno(self):
                raise ValueError("broken attribute")
        with pytest.raises(ValueError, match="broken attribute"):
            probe.optional_attr(Broken(), "lineno")


class TestUtf8:
    @pytest.mark.parametrize("text", ["", "abc", "h\u00e9llo \u2603 \U0001f600"])
    def test_views_give_the_utf8_bytes(self, text):
        assert probe.utf8_view(text) == text.encode()
        assert probe.utf8_view_if_valid(text) == text.encode()

    def test_lone_surrogates_and_non_text(self):
        with pytest.raises(UnicodeEncodeError):
            probe.utf8_view("a\udc80")
        with pytest.raises(TypeError):
            probe.utf8_view(b"abc")
        assert probe.utf8_view_if_valid("a\udc80") is None
        assert probe.utf8_view_if_valid(7) is None

    @pytest.mark.parametrize("text", ["plain", "caf\u00e9", "lone \udc80 surrogate"])
    def test_round_trip_keeps_any_text(self, text):
        encoded, decoded = probe.utf8_round_trip(text)
        assert encoded == text.encode("utf-8", "surrogatepass") and decoded == text


class TestKeys:
    def test_keys_are_interned_once(self):
        success, error = probe.keys()
        assert success is sys.intern("success") and error is sys.intern("error")
        assert probe.keys()[0] is success

    def test_dict_building_keeps_order(self):
        assert list(probe.failure("boom").items()) == [("success", False), ("error", "boom")]

    def test_lookups(self):
        assert probe.get_item({"a": 1}, "a") == 1
        assert probe.get_item({"a": 1}, "b") == "<missing>"
        with pytest.raises(KeyError):
            probe.dict_item({}, "b")
        with pytest.raises(TypeError):
            probe.get_item({}, [])


class TestPlainClass:
    def test_instances_are_plain_objects(self):
        counter = probe.Counter(2)
        assert counter.count == 2 and counter.__dict__ == {"count": 2}
        assert type(counter).__module__ == "nebrix._support_probe" and probe.Counter.__doc__ == "Counts."
        assert probe.Counter().count == 0

    def test_init_is_named_init(self):
        assert probe.Counter.__init__.__name__ == "__init__"
        assert probe.Counter.__init__.__doc__ == "A counter from `start`."
        with pytest.raises(TypeError):
            probe.Counter(1, 2)

    def test_methods_are_reached_through_the_instance(self):
        counter = probe.Counter(1)
        assert counter.add(2) == 3
        counter._add = lambda amount: "patched"
        assert counter.add(5) == "patched" and counter.count == 3

    def test_subclass_overrides(self):
        class Loud(probe.Counter):
            def _add(self, amount):
                return super()._add(amount * 10)
        assert Loud(1).add(2) == 21

    def test_coroutine_method_named_after_the_class(self):
        async def five():
            return 5
        counter = probe.Counter(1)
        coroutine = counter.add_later(five())
        assert coroutine.__qualname__ == "Counter.add_later" and coroutine.__name__ == "add_later"
        assert asyncio.run(coroutine) == 6 and counter.count == 6

    def test_properties(self):
        counter = probe.Counter(4)
        assert counter.doubled == 8 and counter.value == 4
        counter.value = 7
        assert counter.count == 7
        with pytest.raises(AttributeError):
            counter.doubled = 1

    def test_class_method(self):
        class Sub(probe.Counter):
            pass
        made = Sub.starting_at(9)
        assert type(made) is Sub and made.count == 9

    def test_fast_method(self):
        counter = probe.Counter(3)
        assert counter.peek(1, 2, x=3) == (3, [1, 2], ("x",))
        assert probe.Counter.peek(counter) == (3, [], ())
        assert inspect.ismethoddescriptor(probe.Counter.__dict__["peek"])
