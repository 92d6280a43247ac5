"""Enough of GLib for the tree reader's definitions to load."""


class Error(Exception):
    pass


class Variant:
    def __init__(self, signature, value):
        self.signature, self.value = signature, value


class VariantType:
    def __init__(self, signature):
        self.signature = signature
