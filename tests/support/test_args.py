"""Argument conversion at the call boundary and Python-style binding of calls."""

import decimal
import fractions

import pytest

from nebrix import _support_probe as probe


def message(name, expected, value):
    return f"Argument '{name}' has incorrect type (expected {expected}, got {type(value).__name__})"


class TestConversions:
    @pytest.mark.parametrize("value, expected", [
        (3, 3), (3.9, 3), (-3.9, -3), (True, 1), (False, 0), (2**80, 2**80),
        (fractions.Fraction(7, 2), 3), (decimal.Decimal("-2.5"), -2),
    ])
    def test_int_takes_any_real_number_truncated(self, value, expected):
        result = probe.convert("int", value, "ref")
        assert result == expected and type(result) is int

    @pytest.mark.parametrize("value", ["3", None, b"3", 1j, [3], object()])
    def test_int_rejects_the_rest(self, value):
        with pytest.raises(TypeError) as caught:
            probe.convert("int", value, "ref")
        assert str(caught.value) == message("ref", "int", value)

    def test_int_of_nan_and_infinity_fail_as_int_does(self):
        with pytest.raises(ValueError):
            probe.convert("int", float("nan"), "ref")
        with pytest.raises(OverflowError):
            probe.convert("int", float("inf"), "ref")

    @pytest.mark.parametrize("value, expected", [(2, 2.0), (2.5, 2.5), (True, 1.0), (fractions.Fraction(1, 4), 0.25)])
    def test_real(self, value, expected):
        assert probe.convert("real", value, "ts") == expected

    def test_real_rejects_text(self):
        with pytest.raises(TypeError, match=r"^Argument 'ts' has incorrect type \(expected float, got str\)$"):
            probe.convert("real", "1.5", "ts")

    @pytest.mark.parametrize("value, expected", [(0, False), ("", False), ([], False), ("x", True), (object(), True)])
    def test_bool_is_the_truth_value(self, value, expected):
        assert probe.convert("bool", value, "flag") is expected

    def test_bool_propagates_a_failing_truth_test(self):
        class Broken:
            def __bool__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            probe.convert("bool", Broken(), "flag")

    @pytest.mark.parametrize("kind, good, bad, expected", [
        ("str", "text", b"text", "str"),
        ("list", [1], (1,), "list"),
        ("dict", {"a": 1}, [("a", 1)], "dict"),
    ])
    def test_exact_types(self, kind, good, bad, expected):
        assert probe.convert(kind, good, "value") is good
        for rejected in (bad, None):
            with pytest.raises(TypeError) as caught:
                probe.convert(kind, rejected, "value")
            assert str(caught.value) == message("value", expected, rejected)

    def test_subclasses_of_exact_types_are_rejected(self):
        class Text(str):
            pass

        with pytest.raises(TypeError, match=r"expected str, got Text"):
            probe.convert("str", Text("x"), "title")

    def test_optional_str_takes_none(self):
        assert probe.convert("optional_str", None, "window_title") is None
        with pytest.raises(TypeError) as caught:
            probe.convert("optional_str", 5, "window_title")
        assert str(caught.value) == message("window_title", "str", 5)


class TestSignature:
    def test_binds_positional_and_keyword(self):
        assert probe.bind(1, 2) == [1, 2, "<unset>"]
        assert probe.bind(1, third=3, second=2) == [1, 2, 3]

    @pytest.mark.parametrize("args, kwargs, text", [
        ((1, 2), {"speed": 5}, "bind() got an unexpected keyword argument 'speed'"),
        ((1, 2), {"first": 5}, "bind() got multiple values for keyword argument 'first'"),
        ((1, 2, 3, 4), {}, "bind() takes at most 3 positional arguments (4 given)"),
        ((1,), {}, "bind() takes at least 2 positional arguments (1 given)"),
        ((), {"second": 1}, "bind() takes at least 2 positional arguments (0 given)"),
    ])
    def test_call_errors_read_as_python_would_say_them(self, args, kwargs, text):
        with pytest.raises(TypeError) as caught:
            probe.bind(*args, **kwargs)
        assert str(caught.value) == text
