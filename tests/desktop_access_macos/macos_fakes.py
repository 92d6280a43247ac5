"""Helpers of the macOS backend tests: a fake osascript that records each script and
answers from a table of rules, time limits that pass exactly when a fake child has gone to
sleep, and a tokenizer for AppleScript string literals."""

from __future__ import annotations

import asyncio
import shutil
import stat
from pathlib import Path

# Text by which the fake tells the scripts apart.
FRONTMOST = "first process whose frontmost is true"
WINDOW_SEARCH = "set targetApp to"
TREE = "role of elem"
CLICK = 'return "clicked"'
TYPE = 'return "typed"'
WINDOW_NAME = "to get name of window 1 of process"
WINDOW_LIST = "set pName to name of p"
FOCUS = "set frontmost of p to true"
KEY = "to key"  # press_key: "to keystroke ..." and "to key code ..."

# The fake runs with a PATH of its own: it calls these by their full names.
CAT, SLEEP = shutil.which("cat"), shutil.which("sleep")


def _sh_quoted(text: str) -> str:
    return "'" + text.replace("'", "'\\''") + "'"


class FakeOsascript:
    """`osascript` on a PATH of its own, a shell script (quick to start) written anew from
    the rules: the first rule whose text occurs in the script answers it. Each call
    appends its argument count and arguments, NUL-terminated, to one file."""

    def __init__(self, root: Path) -> None:
        self.root = root
        self.bin = root / "bin"
        self.bin.mkdir()
        self.calls_path = root / "calls"
        self.asleep = root / "asleep"
        self.path = self.bin / "osascript"
        self.rules: list[str] = []
        self._save()
        self.path.chmod(self.path.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)

    def _save(self) -> None:
        self.path.write_text("\n".join([
            "#!/bin/sh",
            f"printf '%s\\0' \"$#\" \"$@\" >> {_sh_quoted(str(self.calls_path))}",
            'case "$2" in',
            *self.rules,
            "esac",
            "echo 'fake osascript: no answer for this script' >&2",
            "exit 1",
        ]) + "\n")

    def answer(self, match: str, stdout: str | bytes = "", stderr: str | bytes = "", status: int = 0) -> None:
        number = len(self.rules)
        out, err = self.root / f"answer{number}.out", self.root / f"answer{number}.err"
        out.write_bytes(stdout if isinstance(stdout, bytes) else stdout.encode("utf-8"))
        err.write_bytes(stderr if isinstance(stderr, bytes) else stderr.encode("utf-8"))
        self.rules.append(f"*{_sh_quoted(match)}*) {CAT} {_sh_quoted(str(out))}; {CAT} {_sh_quoted(str(err))} >&2; "
                          f"exit {status};;")
        self._save()

    def sleep(self, match: str) -> None:
        """Scripts holding `match` never answer: the child sleeps past any time limit."""
        self.rules.append(f"*{_sh_quoted(match)}*) : > {_sh_quoted(str(self.asleep))}; exec {SLEEP} 600;;")
        self._save()

    def reset(self) -> None:
        """Forgets every rule and every script run so far."""
        self.rules.clear()
        self._save()
        self.calls_path.unlink(missing_ok=True)

    def calls(self) -> list[list[str]]:
        if not self.calls_path.exists():
            return []
        fields = self.calls_path.read_bytes().split(b"\0")[:-1]
        calls = []
        while fields:
            count, fields = int(fields[0]), fields[1:]
            calls.append([field.decode("utf-8") for field in fields[:count]])
            fields = fields[count:]
        return calls

    def scripts(self) -> list[str]:
        calls = self.calls()
        assert all(len(call) == 2 and call[0] == "-e" for call in calls)
        return [call[1] for call in calls]

    def script(self, match: str) -> str:
        """The one script run that holds `match`."""
        found = [script for script in self.scripts() if match in script]
        assert len(found) == 1, found
        return found[0]


class TimeLimits:
    """Records the time limit of each child and lets it pass the moment a fake child has
    gone to sleep (never earlier, so a child that answers is never cut short)."""

    def __init__(self, monkeypatch, asleep: Path) -> None:
        self.asked: list[float] = []

        async def wait_for(awaitable, timeout):
            self.asked.append(timeout)
            task = asyncio.ensure_future(awaitable)
            try:
                while not task.done():
                    if asleep.exists():
                        asleep.unlink()
                        raise TimeoutError
                    await asyncio.wait({task}, timeout=0.01)
                return task.result()
            finally:
                if not task.done():
                    task.cancel()
                    await asyncio.gather(task, return_exceptions=True)

        monkeypatch.setattr(asyncio, "wait_for", wait_for)


def run(coroutine):
    return asyncio.run(coroutine)


def record(title="", description="", role="AXButton", value="", app="Notes"):
    """An element record as the macOS snapshot stores it."""
    return {"role": role, "title": title, "description": description, "value": value, "backend": "macos",
            "app": app}


# --- AppleScript string literals ------------------------------------------------------------

ESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}
# What would make the simple reading below wrong if it appeared outside a literal.
COMMENT_OR_RAW_CODE = ("--", "#", "(*", "*)", "«", "»")


def tokenize(script: str) -> list[tuple[str, str]]:
    """Splits an AppleScript text into ("code", text) and ("string", decoded value) tokens.

    A literal runs from a double quote to the next unescaped one; a backslash escapes
    the next character, which must be one AppleScript knows (\\\\ \\" n r t). The code
    between literals must hold no comment or raw-code markers, which would change how
    the rest is read.
    """
    tokens, code, i = [], [], 0
    while i < len(script):
        if script[i] != '"':
            code.append(script[i])
            i += 1
            continue
        tokens.append(("code", "".join(code)))
        code, value = [], []
        i += 1
        while True:
            if i == len(script):
                raise ValueError("unterminated string literal")
            c = script[i]
            if c == '"':
                i += 1
                break
            if c == "\\":
                if i + 1 == len(script) or script[i + 1] not in ESCAPES:
                    raise ValueError(f"unknown escape at {i}")
                value.append(ESCAPES[script[i + 1]])
                i += 2
                continue
            value.append(c)
            i += 1
        tokens.append(("string", "".join(value)))
    tokens.append(("code", "".join(code)))
    for kind, text in tokens:
        if kind == "code" and any(marker in text for marker in COMMENT_OR_RAW_CODE):
            raise ValueError(f"comment or raw code outside a literal: {text!r}")
    return tokens


def assert_values_in_own_literals(script: str, reference: str, values: dict[str, str]) -> None:
    """`script` was made from the same inputs as `reference` except that each marker
    (a key of `values`) was replaced by its value. Both must have the same statements
    (identical code between literals), each marker literal must have become exactly one
    literal decoding to its value, and every other literal must be unchanged."""
    got, expected = tokenize(script), tokenize(reference)
    assert [t for t in got if t[0] == "code"] == [t for t in expected if t[0] == "code"]
    assert len(got) == len(expected)
    for marker in values:
        assert ("string", marker) in expected, f"{marker} not inserted in {reference!r}"
    for token, reference_token in zip(got, expected):
        kind, text = reference_token
        if kind == "string" and text in values:
            assert token == ("string", values[text])
        else:
            assert token == reference_token
