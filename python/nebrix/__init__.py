"""Nebrix: native extension modules of the desktop assistant.

The package also ships minimal stand-ins for two of the host's own modules
(:mod:`nebrix.config` and :mod:`nebrix.pc.platform_utils`) so the extensions can be
built, tested and demonstrated on their own; a host installs its own versions.
"""
