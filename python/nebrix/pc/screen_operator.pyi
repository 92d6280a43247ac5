"""Executor of the model's screen-control tool: screenshots, mouse and keyboard."""

import logging

API_MAX_LONG_EDGE: int
API_MAX_TOTAL_PIXELS: int
logger: logging.Logger
