"""Field parsing at the ends of the 64-bit range, where a step or a range end would overflow."""

import pytest

from nebrix.core.scheduler import CronExpression

MAX = 2**63 - 1


@pytest.mark.parametrize("text, low, high", [
    ("*/4611686018427387904", 0, MAX),  # the next step lies past MAX
    ("1/4611686018427387904", 2, MAX),  # starts below the range
    ("3/9223372036854775807", 5, MAX),  # first member at or above the range lies past MAX
    ("*", MAX - 2, MAX),
    ("9223372036854775805-9223372036854775807", 0, MAX),
    ("0/3", 1, 10),
])
def test_values_near_the_64_bit_limit(text, low, high):
    base, _, step = text.partition("/")
    if step:
        start = low if base == "*" else int(base)
        expected = {value for value in range(start, high + 1, int(step)) if value >= low}
    elif "-" in base:
        first, _, last = base.partition("-")
        expected = set(range(max(int(first), low), min(int(last), high) + 1))
    else:
        expected = set(range(low, high + 1))
    assert CronExpression._parse_field(text, low, high) == expected
