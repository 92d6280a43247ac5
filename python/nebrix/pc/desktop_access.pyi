"""Cross-platform accessibility controller: snapshots with numbered refs and ref-based actions."""

import logging

SYSTEM: str
logger: logging.Logger
INTERACTIVE_TYPES: set[str]
CONTEXT_TYPES: set[str]
