"""Stand-in for the host's ``nebrix.config``.

Only what the extension modules use is here; the host's own module replaces this one.
"""

from pathlib import Path


def nebrix_dir() -> Path:
    """The per-user data directory: ``~/.nebrix``."""
    return Path.home() / ".nebrix"
