"""Nebrix subpackage."""
