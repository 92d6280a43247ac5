"""CronExpression: the dialect, matching, and next_occurrence against a minute scan."""

from datetime import datetime, timedelta, timezone, tzinfo

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

from nebrix.core.scheduler import CronExpression

SEARCH_MINUTES = 366 * 24 * 60
FIELD_RANGES = [(0, 59), (0, 23), (1, 31), (1, 12), (0, 6)]
CRON_TO_WEEKDAY = {0: 6, 1: 0, 2: 1, 3: 2, 4: 3, 5: 4, 6: 5}


def scan(expression: CronExpression, sets, after: datetime) -> datetime:
    """The plain minute scan, skipping only the rest of a day or hour that cannot match."""
    minutes, hours, days, months, weekdays = sets
    python_weekdays = {CRON_TO_WEEKDAY[day] for day in weekdays}
    candidate = after.replace(second=0, microsecond=0) + timedelta(minutes=1)
    remaining = SEARCH_MINUTES
    while remaining > 0:
        if not (candidate.day in days and candidate.month in months and candidate.weekday() in python_weekdays):
            skip = 1440 - candidate.hour * 60 - candidate.minute
        elif candidate.hour not in hours:
            skip = 60 - candidate.minute
        elif candidate.minute in minutes:
            return candidate
        else:
            skip = 1
        if skip >= remaining:
            candidate + timedelta(minutes=remaining)  # the scan's last steps may overflow
            break
        candidate += timedelta(minutes=skip)
        remaining -= skip
    raise ValueError(f"No next occurrence found for cron: {expression._expr}")


def outcome(function, *args):
    try:
        return ("value", function(*args))
    except (ValueError, OverflowError) as error:
        return (type(error).__name__, str(error))


@st.composite
def fields(draw, low, high):
    """A field text and the set it denotes."""
    pieces, values = [], set()
    for _ in range(draw(st.integers(1, 3))):
        kind = draw(st.sampled_from(["star", "step", "based_step", "range", "value"]))
        a = draw(st.integers(low - 2, high + 3))
        b = draw(st.integers(low - 2, high + 3))
        step = draw(st.integers(1, high + 2))
        if kind == "star":
            pieces.append("*")
            values |= set(range(low, high + 1))
        elif kind == "step":
            pieces.append(f"*/{step}")
            values |= set(range(low, high + 1, step))
        elif kind == "based_step":
            pieces.append(f"{a}/{step}" if a >= 0 else f"*/{step}")
            values |= set(range(a if a >= 0 else low, high + 1, step))
        elif kind == "range" and a >= 0 and b >= 0:
            pieces.append(f"{a}-{b}")
            values |= set(range(a, b + 1))
        elif a >= 0:
            pieces.append(str(a))
            values.add(a)
        else:
            pieces.append("*")
            values |= set(range(low, high + 1))
    return ",".join(pieces), {value for value in values if low <= value <= high}


def field_or_star(low, high):
    # Mostly unrestricted, so that matches are neither always immediate nor never.
    return st.one_of(st.just(("*", set(range(low, high + 1)))), fields(low, high))


expressions = st.tuples(*(field_or_star(low, high) for low, high in FIELD_RANGES)).map(
    lambda parts: (" ".join(text for text, _ in parts), [values for _, values in parts]))


class Zone(tzinfo):
    """A tzinfo of the caller's own class, which the result must keep."""

    def utcoffset(self, dt):
        return timedelta(hours=2)


class Moment(datetime):
    """A datetime subclass: the arithmetic must stay on this type."""


moments = st.one_of(
    st.datetimes(min_value=datetime(1999, 1, 1), max_value=datetime(2101, 12, 31)),
    st.datetimes(min_value=datetime(9998, 6, 1), max_value=datetime(9999, 12, 31, 23, 59, 59)),
    st.datetimes(min_value=datetime(2000, 1, 1), max_value=datetime(2030, 1, 1),
                 timezones=st.sampled_from([timezone.utc, timezone(timedelta(hours=-5, minutes=-30))])),
    st.builds(lambda year, month: datetime(year, month, 1) - timedelta(seconds=1),
              st.integers(2000, 2030), st.integers(1, 12)),
)


@settings(max_examples=1000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(expressions, moments)
@example(("0 0 29 2 *", [{0}, {0}, {29}, {2}, set(range(7))]), datetime(2025, 3, 1))
@example(("0 0 29 2 *", [{0}, {0}, {29}, {2}, set(range(7))]), datetime(2027, 3, 1))
@example(("0 0 31 2 *", [{0}, {0}, {31}, {2}, set(range(7))]), datetime(9999, 1, 1))
@example(("* * * * *", [set(range(60)), set(range(24)), set(range(1, 32)), set(range(1, 13)), set(range(7))]),
         datetime(9999, 12, 31, 23, 58, 59))
def test_next_occurrence_agrees_with_the_minute_scan(case, after):
    text, sets = case
    expression = CronExpression(text)
    assert [expression._minute, expression._hour, expression._dom, expression._month, expression._dow] == sets
    ours = outcome(expression.next_occurrence, after)
    assert ours == outcome(scan, expression, sets, after)
    if ours[0] == "value":
        assert ours[1].tzinfo is after.tzinfo
        assert type(ours[1]) is datetime


@pytest.mark.parametrize("after", [Moment(2025, 3, 10, 5, 59, 30), Moment(9999, 12, 31, 23, 30)])
def test_a_datetime_subclass_keeps_its_type_and_arithmetic(after):
    expression = CronExpression("59 23 * * *")
    assert outcome(expression.next_occurrence, after) == outcome(
        scan, expression, [{59}, {23}, set(range(1, 32)), set(range(1, 13)), set(range(7))], after)
    assert type(expression.next_occurrence(Moment(2025, 3, 10))) is Moment


def test_next_occurrence_examples():
    daily = CronExpression("0 6 * * *")
    assert daily.next_occurrence(datetime(2025, 3, 10, 6, 0)) == datetime(2025, 3, 11, 6, 0)
    assert daily.next_occurrence(datetime(2025, 3, 10, 5, 59, 59, 999000)) == datetime(2025, 3, 10, 6, 0)
    assert CronExpression("0 0 13 * 5").next_occurrence(datetime(2025, 3, 1)) == datetime(2025, 6, 13)
    assert CronExpression("0 0 29 2 *").next_occurrence(datetime(2027, 3, 1)) == datetime(2028, 2, 29)
    zone = Zone()
    aware = CronExpression("*/15 * * * *").next_occurrence(datetime(2025, 1, 1, 10, 7, 42, tzinfo=zone))
    assert aware == datetime(2025, 1, 1, 10, 15, tzinfo=timezone(timedelta(hours=2)))
    assert aware.tzinfo is zone
    assert (aware.second, aware.microsecond, type(aware.tzinfo)) == (0, 0, Zone)


@pytest.mark.parametrize("text", ["0 0 * * 7", "0 0 29 2 *", "0 0 31 2 *", "0 0 30 2 *", "60 * * * *"])
def test_expressions_without_an_occurrence_in_the_window(text):
    with pytest.raises(ValueError) as raised:
        CronExpression(text).next_occurrence(datetime(2025, 3, 1))
    assert str(raised.value) == f"No next occurrence found for cron: {text}"


def test_next_occurrence_defaults_to_the_patched_clock(monkeypatch):
    now = datetime(2025, 3, 10, 5, 30, 12)
    monkeypatch.setattr("time.time", lambda: now.timestamp())
    assert CronExpression("0 6 * * *").next_occurrence() == datetime(2025, 3, 10, 6, 0)
    assert CronExpression("0 6 * * *").next_occurrence(None) == datetime(2025, 3, 10, 6, 0)


def test_next_occurrence_rejects_what_is_not_a_datetime():
    with pytest.raises(TypeError, match=r"Argument 'after' has incorrect type \(expected datetime, got str\)"):
        CronExpression("* * * * *").next_occurrence("2025-01-01")


@pytest.mark.parametrize("text, minutes", [
    ("*/15", {0, 15, 30, 45}),
    ("5/15", {5, 20, 35, 50}),
    ("10-12,30", {10, 11, 12, 30}),
    ("0-100", set(range(60))),
    ("10-5", set()),
    ("*/-5", set()),
    ("-7/5", {3, 8, 13, 18, 23, 28, 33, 38, 43, 48, 53, 58}),
    (" 5 ,\u20037 ", {5, 7}),
    ("+5,1_0", {5, 10}),
    ("\u0663,\u0967\u0968", {3, 12}),  # Arabic-Indic 3, Devanagari 12
    ("0-9999999999999", set(range(60))),
    ("1" * 40, set()),
    ("-" + "9" * 40 + "/7", {v for v in range(60) if (v + 10 ** 40 - 1) % 7 == 0}),
    ("3/" + "9" * 40, {3}),
])
def test_minute_field_values(text, minutes):
    if text.strip() == text:
        assert CronExpression(f"{text} * * * *")._minute == minutes
    assert CronExpression._parse_field(text, 0, 59) == minutes


@pytest.mark.parametrize("text", ["1-10/2 * * * *", "a * * * *", "*/0 * * * *", "1,,2 * * * *", "-5 * * * *",
                                  "1__0 * * * *", "0x5 * * * *", "*/5/2 * * * *", "* /5 * * * *", "5 * * * 1,"])
def test_malformed_fields_raise_value_error(text):
    with pytest.raises(ValueError):
        CronExpression(text)


def test_integer_errors_read_as_the_runtime_words_them():
    with pytest.raises(ValueError, match=r"^invalid literal for int\(\) with base 10: 'a'$"):
        CronExpression("a * * * *")


@pytest.mark.parametrize("text, count", [("0 6 * * * *", 6), ("0 6 * *", 4), ("", 0), ("   ", 0)])
def test_field_count(text, count):
    with pytest.raises(ValueError) as raised:
        CronExpression(text)
    expected = text.strip()
    assert str(raised.value) == f"Cron expression must have 5 fields (min hour dom month dow), got {count}: '{expected}'"


def test_construction_keeps_the_stripped_text_and_all_fields():
    expression = CronExpression("\t 0 6 * * 1-5\u3000\n")
    assert expression._expr == "0 6 * * 1-5"
    assert (expression._hour, expression._dom, expression._month) == ({6}, set(range(1, 32)), set(range(1, 13)))
    assert expression._dow == {1, 2, 3, 4, 5}
    assert expression._dow_adjusted() == {0, 1, 2, 3, 4}
    assert CronExpression("0 0 * * 0,6")._dow_adjusted() == {6, 5}
    assert CronExpression("0 0 * * 7")._dow == set()


@pytest.mark.parametrize("value", [None, 5, b"* * * * *"])
def test_expression_must_be_a_string(value):
    with pytest.raises(TypeError, match="Argument 'expression' has incorrect type"):
        CronExpression(value)


def test_parse_field_is_static_and_converts_its_bounds():
    assert CronExpression("* * * * *")._parse_field("*", 1.9, 3) == {1, 2, 3}
    assert CronExpression._parse_field("*/2", True, 7) == {1, 3, 5, 7}
    with pytest.raises(TypeError, match=r"Argument 'min_val' has incorrect type \(expected int, got str\)"):
        CronExpression._parse_field("*", "0", 5)
    with pytest.raises(TypeError, match="Argument 'field_str' has incorrect type"):
        CronExpression._parse_field(5, 0, 5)


def test_matches_requires_both_day_fields():
    friday_13th = CronExpression("0 0 13 * 5")
    assert friday_13th.matches(datetime(2025, 6, 13))
    assert not friday_13th.matches(datetime(2025, 6, 6))    # a Friday
    assert not friday_13th.matches(datetime(2025, 5, 13))   # a Tuesday
    sundays = CronExpression("0 0 * * 0")
    assert sundays.matches(datetime(2025, 3, 9)) and not sundays.matches(datetime(2025, 3, 10))


def test_matches_asks_other_objects_for_their_fields_cheapest_first():
    asked = []

    class Moment:
        def __getattr__(self, name):
            asked.append(name)
            return {"minute": 30.0, "hour": 7, "day": 1, "month": 1}[name]

        def weekday(self):
            asked.append("weekday")
            return 2

    assert CronExpression("30 7 1 1 3").matches(Moment())
    assert asked == ["minute", "hour", "day", "month", "weekday"]
    asked.clear()
    assert not CronExpression("31 7 1 1 3").matches(Moment())
    assert asked == ["minute"]
