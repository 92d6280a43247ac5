"""A stand-in for the GObject bindings, serving a made-up AT-SPI2 tree to the walker."""


def require_version(namespace, version):
    assert (namespace, version) == ("Atspi", "2.0")
