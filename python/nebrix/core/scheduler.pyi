"""Persistent job scheduler: cron, interval and one-shot jobs fired on the host's event loop."""

import logging

logger: logging.Logger
