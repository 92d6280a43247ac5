"""Logging goes through the runtime's logging module, honouring levels and exc_info."""

import logging

from nebrix import _support_probe as probe


def test_records_reach_the_named_logger(caplog):
    with caplog.at_level(logging.INFO, logger="nebrix.test"):
        probe.log("nebrix.test", logging.INFO, "Started 100% of it")
        probe.log("nebrix.test", logging.DEBUG, "hidden")
    assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == [
        ("nebrix.test", logging.INFO, "Started 100% of it")]


def test_exception_is_attached_as_exc_info(caplog):
    error = ValueError("broken")
    with caplog.at_level(logging.ERROR, logger="nebrix.test"):
        probe.log_exception("nebrix.test", error, "Failed")
    (record,) = caplog.records
    assert record.getMessage() == "Failed" and record.exc_info[1] is error
