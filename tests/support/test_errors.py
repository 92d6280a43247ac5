"""Catching failures as `except Exception` does, and texts of exceptions that cannot fail."""

import asyncio

import pytest

from nebrix import _support_probe as probe


class BadStr(Exception):
    def __str__(self):
        raise RuntimeError("no text")


def raiser(exception):
    def work():
        raise exception
    return work


class TestCatchOrdinary:
    def test_result_passes_through(self):
        assert probe.catching(lambda: 5) == ("ok", 5)

    @pytest.mark.parametrize("exception", [ValueError("bad"), OSError(2, "gone"), MemoryError()])
    def test_ordinary_python_errors_are_handed_over(self, exception):
        assert probe.catching(raiser(exception)) == ("caught", exception)

    @pytest.mark.parametrize("cpp, expected", [("runtime", RuntimeError), ("alloc", MemoryError)])
    def test_cpp_errors_become_python_ones(self, cpp, expected):
        kind, error = probe.catching(lambda: None, cpp)
        assert kind == "caught" and type(error) is expected

    @pytest.mark.parametrize("exception", [KeyboardInterrupt(), SystemExit(3), asyncio.CancelledError(),
                                           GeneratorExit()])
    def test_base_exceptions_travel_on(self, exception):
        with pytest.raises(type(exception)) as caught:
            probe.catching(raiser(exception))
        assert caught.value is exception


class TestExceptionText:
    def test_str_of_the_exception(self):
        assert probe.exception_text(ValueError("bad value"), False) == "bad value"
        assert probe.exception_text(KeyError("k"), False) == "'k'"

    def test_a_failing_str_gives_the_type_name(self):
        assert probe.exception_text(BadStr(), False) == "BadStr"
        assert probe.exception_text(BadStr(), True) == "BadStr"

    def test_empty_text_kept_or_named(self):
        assert probe.exception_text(MemoryError(), False) == ""
        assert probe.exception_text(MemoryError(), True) == "MemoryError"
        assert probe.exception_text(ValueError("x"), True) == "x"
