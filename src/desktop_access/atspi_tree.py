# Fast reads of an application's accessible tree, for the AT-SPI2 walker (run by the
# system python3, which has the GObject bindings). Per-node reads through the Atspi
# bindings cost one D-Bus round trip per node and property; here the tree comes from
# the application's cache in one call (org.a11y.atspi.Cache.GetItems: GTK 3 through
# atk-bridge and GTK 4 answer it, Qt 5 answers an empty list), and what the cache leaves
# out is read with the few calls a snapshot line needs, all calls of one tree level in
# flight at once, over the application's direct connection where it offers one. The
# calls are built and their replies read here, in D-Bus's wire format, over our own
# sockets: a Gio call costs about as much Python time as the application's answer.
# Plain functions, so the walker program can take them in as they are:
#
#     bus_name, path = reference(window)
#     connection = application_routes(accessibility_bus(), bus_name)
#     root = read_tree(connection, bus_name, path, index_path=(window_index,), max_depth=max_depth)
#     for node, depth in depth_first(root): ...  # role_name, display_name(), has_state(...)
#     read_values(connection, listed_interactive_nodes, TEXT_CONTENT_ROLES, TEXT_CONTENT_LIMIT)

import functools
import os
import selectors
import socket
import struct
import urllib.parse

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio  # noqa: E402

NULL_PATH = "/org/a11y/atspi/null"
CACHE_PATH = "/org/a11y/atspi/cache"
ACCESSIBLE = "org.a11y.atspi.Accessible"
PROPERTIES = "org.freedesktop.DBus.Properties"
APPLICATION = "org.a11y.atspi.Application"
APPLICATION_ROOT = "/org/a11y/atspi/accessible/root"
ACCESSIBLE_PROPERTIES = ("Name", "Description", "ChildCount")
# Toolkits (lower case) that answer Properties.GetAll on their accessibles.
GET_ALL_TOOLKITS = ("gtk",)
# Toolkits (lower case) whose applications answer GetApplicationBusAddress.
DIRECT_TOOLKITS = ("gtk",)
VALUE = "org.a11y.atspi.Value"
TEXT = "org.a11y.atspi.Text"
CALL_TIMEOUT_MS = 10000
# Calls in flight at once: enough to hide the round trips, well under the AT-SPI bus's
# limit on pending replies per connection (50,000).
CALLS_IN_FLIGHT = 512
# Roles the bindings name themselves; others (extended, or newer than the bindings)
# are asked for by name, as Atspi.Accessible.get_role_name does.
KNOWN_ROLE_COUNT = int(Atspi.Role.LAST_DEFINED)
# Parameters of calls: (signature, values) of strings and 32-bit integers.
GET_ALL_ACCESSIBLE = ("s", (ACCESSIBLE,))
GET_ACCESSIBLE_PROPERTIES = [("ss", (ACCESSIBLE, name)) for name in ACCESSIBLE_PROPERTIES]
GET_CURRENT_VALUE = ("ss", (VALUE, "CurrentValue"))
GET_CHARACTER_COUNT = ("ss", (TEXT, "CharacterCount"))
METHOD_CALL = 1
METHOD_RETURN = 2
# Codes of a message's header fields.
INTERFACE_FIELD = 2
MEMBER_FIELD = 3
REPLY_SERIAL_FIELD = 5
DESTINATION_FIELD = 6
SIGNATURE_FIELD = 8
ALIGNMENTS = {"y": 1, "b": 4, "n": 2, "q": 2, "i": 4, "u": 4, "x": 8, "t": 8, "d": 8, "h": 4, "s": 4, "o": 4,
              "g": 1, "a": 4, "(": 8, "{": 8, "v": 1}
FIXED = {code: struct.Struct("<" + form) for code, form in (("y", "B"), ("n", "h"), ("q", "H"), ("i", "i"),
                                                           ("u", "I"), ("x", "q"), ("t", "Q"), ("d", "d"),
                                                           ("h", "I"))}


class Node:
    """One accessible: what a snapshot line shows of it, its place in the tree and, once
    read_values has run, its value. `states` is the state set as a bit mask indexed by
    Atspi.StateType; `index_path` the child indexes from the application down to it."""

    __slots__ = ("bus_name", "path", "index_path", "parent", "told_parent", "role", "role_name", "name",
                 "description", "states", "interfaces", "child_count", "children", "value", "answered", "dropped",
                 "listed_by_index")

    def __init__(self, bus_name, path, index_path, parent=None):
        self.bus_name = bus_name
        self.path = path
        self.index_path = index_path
        self.parent = parent
        self.told_parent = None  # the parent's path as the node tells it, once read
        self.role = 0
        self.role_name = ""
        self.name = ""
        self.description = ""
        self.states = 0
        self.interfaces = None  # unknown until read
        self.child_count = 0
        self.children = []
        self.value = ""
        self.answered = False
        self.dropped = False
        self.listed_by_index = False

    def has_state(self, state):
        return bool(self.states >> int(state) & 1)

    def display_name(self):
        return self.name or self.description or ""


def accessibility_bus_address():
    """The AT-SPI bus's address, found as the bindings find it: AT_SPI_BUS_ADDRESS, else
    the session bus's org.a11y.Bus."""
    address = os.environ.get("AT_SPI_BUS_ADDRESS")
    if not address:
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, None,
                                  Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
        address = reply.unpack()[0]
    return address


def accessibility_bus():
    """A DirectConnection to the AT-SPI bus."""
    return DirectConnection(accessibility_bus_address(), message_bus=True)


def reference(accessible):
    """The (bus name, object path) of an Atspi.Accessible."""
    return accessible.app.bus_name, accessible.path


def call_all(connection, calls):
    """Sends the calls, (bus name, path, interface, method, parameters or None, decode),
    with up to CALLS_IN_FLIGHT at once; returns decode(reader of the reply) for each in
    order, None for a call that failed or whose reply does not decode. connection: a
    DirectConnection or Routes."""
    results = [None] * len(calls)
    if isinstance(connection, Routes):
        direct = [index for index, call in enumerate(calls) if call[0] == connection.bus_name]
        others = [index for index, call in enumerate(calls) if call[0] != connection.bus_name]
        for target, indexes in ((connection.direct, direct), (connection.bus, others)):
            for index, result in zip(indexes, call_all(target, [calls[index] for index in indexes])):
                results[index] = result
    else:
        connection.call_all(calls, results)
    return results


def decoded(decode, reader):
    try:
        return decode(reader)
    except (struct.error, IndexError, TypeError, ValueError, KeyError):
        return None


def pad(buffer, alignment):
    buffer += bytes(-len(buffer) % alignment)


def put_string(buffer, text, length_form="<I"):
    encoded = text.encode("utf-8")
    buffer += struct.pack(length_form, len(encoded)) + encoded + b"\0"


def method_call(serial, bus_name, path, interface, method, parameters):
    """The bytes of a method call (little-endian); parameters: None or (signature,
    values) of strings ("s") and 32-bit integers ("i")."""
    fields = bytearray(b"\x01\x01o\x00")  # the path comes first, the rest is the same for many calls
    put_string(fields, path)
    pad(fields, 8)
    rest, body = call_parts(bus_name, interface, method, parameters)
    fields += rest
    message = bytearray(struct.pack("<cBBBIII", b"l", METHOD_CALL, 0, 1, len(body), serial, len(fields)))
    message += fields
    pad(message, 8)
    message += body
    return message


@functools.lru_cache(maxsize=4096)
def call_parts(bus_name, interface, method, parameters):
    """The header fields after the path, and the body, of a method call."""
    signature, values = parameters or ("", ())
    body = bytearray()
    for code, value in zip(signature, values):
        pad(body, 4)
        if code == "s":
            put_string(body, value)
        else:
            body += struct.pack("<i", value)
    fields = bytearray()
    for code, kind, value in ((INTERFACE_FIELD, "s", interface), (MEMBER_FIELD, "s", method),
                              (DESTINATION_FIELD, "s", bus_name), (SIGNATURE_FIELD, "g", signature)):
        if value:
            pad(fields, 8)
            fields += bytes((code, 1, ord(kind), 0))
            put_string(fields, value, "<B" if kind == "g" else "<I")
    return bytes(fields), bytes(body)


class DirectConnection:
    """A D-Bus connection over a Unix socket, to a message bus (message_bus=True) or to
    one application (GTK's bridge listens on a socket of its own), spoken directly:
    building a call and reading its reply in Python costs a fraction of a Gio call with
    its GLib.Variant. Raises OSError or ValueError when the address is not a Unix
    socket that accepts us."""

    def __init__(self, address, message_bus=False):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self.socket.settimeout(CALL_TIMEOUT_MS / 1000)
            self.socket.connect(unix_socket_path(address))
            self.socket.sendall(b"\0AUTH EXTERNAL " + str(os.getuid()).encode().hex().encode() + b"\r\n")
            answer = b""
            while not answer.endswith(b"\r\n"):
                received = self.socket.recv(4096)
                if not received:
                    raise ValueError("the application closed the connection")
                answer += received
            if not answer.startswith(b"OK "):
                raise ValueError("the application refused us")
            self.socket.sendall(b"BEGIN\r\n")
            self.socket.setblocking(False)
        except BaseException:
            self.socket.close()
            raise
        self.serial = 0
        self.received = bytearray()
        if message_bus and not call_all(self, [("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "Hello", None, reply_string)])[0]:
            self.socket.close()
            raise ValueError("the bus did not greet us")

    def call_all(self, calls, results):
        """Sets results[index] for each call as call_all does."""
        waiting = {}  # serial: index
        sent = 0
        outgoing = bytearray()
        selector = selectors.DefaultSelector()
        selector.register(self.socket, selectors.EVENT_READ)
        try:
            while sent < len(calls) or waiting:
                while sent < len(calls) and len(waiting) < CALLS_IN_FLIGHT:
                    self.serial = self.serial % 0xFFFFFFFF + 1
                    outgoing += method_call(self.serial, *calls[sent][:5])
                    waiting[self.serial] = sent
                    sent += 1
                selector.modify(self.socket, selectors.EVENT_READ | (selectors.EVENT_WRITE if outgoing else 0))
                ready = selector.select(CALL_TIMEOUT_MS / 1000)
                if not ready:
                    return  # the application stopped answering: the rest stay None
                events = ready[0][1]
                if events & selectors.EVENT_WRITE:
                    del outgoing[:self.socket.send(outgoing)]
                if events & selectors.EVENT_READ:
                    received = self.socket.recv(1 << 20)
                    if not received:
                        return
                    self.received += received
                    for reader in self.replies():
                        index = waiting.pop(reader.reply_serial, None)
                        if index is not None and reader.message_type == METHOD_RETURN:
                            results[index] = decoded(calls[index][5], reader)
        except OSError:
            return
        finally:
            selector.close()

    def replies(self):
        """Readers of the whole messages received so far."""
        received = self.received
        start = 0
        while len(received) - start >= 16:
            order = "<" if received[start] == ord("l") else ">"
            body_length, _serial, fields_length = struct.unpack_from(order + "III", received, start + 4)
            end = start + ((16 + fields_length + 7) & -8) + body_length
            if end > len(received):
                break
            yield WireReader(bytes(received[start:end]))
            start = end
        del received[:start]


def unix_socket_path(address):
    """The socket address of the first Unix transport in a D-Bus address."""
    for transport in address.split(";"):
        kind, _, keys = transport.partition(":")
        if kind != "unix":
            continue
        values = dict(key.split("=", 1) for key in keys.split(",") if "=" in key)
        if "path" in values:
            return urllib.parse.unquote(values["path"])
        if "abstract" in values:
            return "\0" + urllib.parse.unquote(values["abstract"])
    raise ValueError(f"no Unix socket in {address!r}")


# Decoders of replies, each reading the body from a WireReader: only what is needed.

def reply_uint(reader):
    return reader.uint()


def reply_string(reader):
    return reader.string()


def reply_strings(reader):
    return reader.strings()


def reply_property(reader):
    """The value of a Properties.Get reply."""
    return reader.value("v")


def reply_states(reader):
    return reader.state_mask()


def reply_references(reader):
    return reader.array(8, reader.reference)


def reply_reference(reader):
    return reader.reference()


def reply_accessible_properties(reader):
    """Name, Description, ChildCount and the parent's path from a Properties.GetAll reply."""
    found = {}
    end = reader.array_end(8)
    while reader.position < end:
        reader.position = (reader.position + 7) & -8
        name = reader.string()
        kind = reader.signature_text()
        if kind == "s":
            found[name] = reader.string()
        elif kind == "i":
            found[name] = reader.int()
        elif kind == "(so)":
            found[name] = reader.reference()[1]
        else:
            found[name] = reader.value(kind)
    return found.get("Name"), found.get("Description"), found.get("ChildCount"), found.get("Parent")


@functools.lru_cache(maxsize=None)
def role_name_of(role):
    """The role's name as the bindings give it, or None when the application must be asked."""
    if 0 <= role < KNOWN_ROLE_COUNT and role != int(Atspi.Role.EXTENDED):
        return Atspi.role_get_name(Atspi.Role(role))
    return None


class WireReader:
    """Reads a D-Bus message in the wire format: its type, reply serial and body
    signature, then the values of its body. Each read aligns the position itself
    (alignments are powers of two)."""

    def __init__(self, blob):
        self.blob = blob
        self.order = "<" if blob[0:1] == b"l" else ">"
        self.read_uint = struct.Struct(self.order + "I").unpack_from
        self.read_int = struct.Struct(self.order + "i").unpack_from
        self.message_type = blob[1]
        self.reply_serial = None
        self.signature = ""
        self.position = 16
        fields_end = 16 + self.read_uint(blob, 12)[0]
        # Each field: its code, then a variant of one basic type ("u", "s", "o" or "g").
        while self.position < fields_end:
            position = (self.position + 7) & -8
            code, kind = blob[position], blob[position + 2:position + 3]
            self.position = position + 4
            if kind == b"u":
                value = self.uint()
            elif kind == b"g":
                value = self.signature_text()
            else:
                value = self.string()
            if code == REPLY_SERIAL_FIELD:
                self.reply_serial = value
            elif code == SIGNATURE_FIELD:
                self.signature = value
        self.position = (fields_end + 7) & -8

    def uint(self):
        position = (self.position + 3) & -4
        self.position = position + 4
        return self.read_uint(self.blob, position)[0]

    def int(self):
        position = (self.position + 3) & -4
        self.position = position + 4
        return self.read_int(self.blob, position)[0]

    def string(self):
        position = (self.position + 3) & -4
        start = position + 4
        end = start + self.read_uint(self.blob, position)[0]
        self.position = end + 1
        return self.blob[start:end].decode("utf-8", "replace")

    def reference(self):
        self.position = (self.position + 7) & -8
        return self.string(), self.string()

    def signature_text(self):
        start = self.position + 1
        self.position = start + self.blob[start - 1] + 1
        return self.blob[start:self.position - 1].decode()

    def value(self, signature):
        """The next value, of the one complete type `signature`: numbers, strings, tuples
        for structures, lists for arrays, dicts for arrays of dict entries."""
        found, _end = self.value_at(signature, 0)
        return found

    def value_at(self, signature, start):
        """The value of the complete type that begins at signature[start], and the index
        after that type."""
        code = signature[start]
        if code in "so":
            return self.string(), start + 1
        if code == "g":
            return self.signature_text(), start + 1
        if code == "b":
            return self.uint() != 0, start + 1
        if code == "v":
            return self.value(self.signature_text()), start + 1
        if code in "({":
            self.position = (self.position + 7) & -8
            items, index = [], start + 1
            while signature[index] not in ")}":
                item, index = self.value_at(signature, index)
                items.append(item)
            return tuple(items), index + 1
        if code == "a":
            items = self.array(ALIGNMENTS[signature[start + 1]], lambda: self.value_at(signature, start + 1)[0])
            return (dict(items) if signature[start + 1] == "{" else items), complete_type_end(signature, start + 1)
        form = FIXED[code]
        position = (self.position + form.size - 1) & -form.size
        self.position = position + form.size
        return struct.unpack_from(self.order + form.format[1:], self.blob, position)[0], start + 1

    def array_end(self, element_alignment):
        length = self.uint()
        self.position = (self.position + element_alignment - 1) & -element_alignment
        return self.position + length

    def array(self, element_alignment, read_element):
        """The elements of an array, each read by read_element()."""
        end = self.array_end(element_alignment)
        found = []
        while self.position < end:
            found.append(read_element())
        return found

    def strings(self):
        return self.array(4, self.string)

    def state_mask(self):
        end = self.array_end(4)
        mask, shift = 0, 0
        while self.position < end:
            mask |= self.uint() << shift
            shift += 32
        return mask


def complete_type_end(signature, start):
    """The index after the complete type that begins at signature[start]."""
    code = signature[start]
    if code == "a":
        return complete_type_end(signature, start + 1)
    if code in "({":
        index = start + 1
        while signature[index] not in ")}":
            index = complete_type_end(signature, index)
        return index + 1
    return start + 1


def cached_items(connection, bus_name):
    """The application's cache as {path: item} with each item (parent path, index in the
    parent or None, child count, interfaces, name, role, description, states), and the
    children each item lists when the cache gives them instead of indexes. Empty when
    the application keeps no cache or does not answer."""
    found = call_all(connection, [(bus_name, CACHE_PATH, "org.a11y.atspi.Cache", "GetItems", None,
                                   lambda reader: read_items(reader, bus_name))])[0]
    return found or ({}, {})


def read_items(reader, bus_name):
    """cached_items from the reader of the cache's reply."""
    # Current registries give each item's index in its parent and its child count;
    # older ones list its children instead.
    indexed = reader.signature == "a((so)(so)(so)iiassusau)"
    if not indexed and reader.signature != "a((so)(so)(so)a(so)assusau)":
        return None
    items, listed_children = {}, {}
    end = reader.array_end(8)
    while reader.position < end:
        own_bus, path = reader.reference()
        reader.reference()  # the application
        parent_path = reader.reference()[1]
        if indexed:
            index, child_count = reader.int(), reader.int()
        else:
            children = reader.array(8, reader.reference)
            index, child_count = None, len(children)
        item = (parent_path, index, child_count, reader.strings(), reader.string(), reader.uint(), reader.string(),
                reader.state_mask())
        if own_bus == bus_name:
            items[path] = item
            if not indexed:
                listed_children[path] = children
    return items, listed_children


def children_from_cache(items, listed_children):
    """{parent path: [(bus name or None, child path), ...] in order} for every parent whose
    children the cache accounts for completely; the others must be asked."""
    by_parent = {}
    for path, (parent_path, index, *_rest) in items.items():
        if index is not None:
            by_parent.setdefault(parent_path, []).append((index, path))
    complete = {}
    for parent_path, indexed in by_parent.items():
        indexed.sort()
        parent = items.get(parent_path)
        if parent is not None and [index for index, _ in indexed] == list(range(parent[2])):
            complete[parent_path] = [(None, path) for _, path in indexed]
    for parent_path, children in listed_children.items():
        if all(path in items for _, path in children):
            complete[parent_path] = children
    return complete


def fill_from_item(node, item):
    node.told_parent, _index, child_count, interfaces, name, role, description, states = item
    node.role = role
    node.name, node.description = name, description
    node.states = states
    node.interfaces = interfaces
    node.child_count = child_count


def read_nodes(connection, nodes, one_by_one, needs_states=None):
    """Reads role, name, description and child count of nodes the cache lacks, names
    their roles, then reads the states of those whose role name needs_states accepts
    (all when None); returns the nodes that answered. one_by_one: the application
    answers Properties.Get but not GetAll (Qt), so each property is asked for alone."""
    calls = []
    for node in nodes:
        calls.append((node.bus_name, node.path, ACCESSIBLE, "GetRole", None, reply_uint))
        if one_by_one:
            calls += [(node.bus_name, node.path, PROPERTIES, "Get", parameters, reply_property)
                      for parameters in GET_ACCESSIBLE_PROPERTIES]
        else:
            calls.append((node.bus_name, node.path, PROPERTIES, "GetAll", GET_ALL_ACCESSIBLE,
                          reply_accessible_properties))
    replies = call_all(connection, calls)
    stride = 1 + (len(ACCESSIBLE_PROPERTIES) if one_by_one else 1)
    answered = []
    for number, node in enumerate(nodes):
        answers = replies[stride * number:stride * (number + 1)]
        if None in answers:
            continue
        node.role, *values = answers
        if one_by_one:
            name, description, child_count = values
        else:
            name, description, child_count, node.told_parent = values[0]
        node.name, node.description, node.child_count = name or "", description or "", child_count or 0
        answered.append(node)
    name_roles(connection, answered)
    stated = answered if needs_states is None else [node for node in answered if needs_states(node.role_name)]
    replies = call_all(connection, [(node.bus_name, node.path, ACCESSIBLE, "GetState", None, reply_states)
                                    for node in stated])
    silent = set()
    for node, states in zip(stated, replies):
        if states is None:
            silent.add(id(node))
        else:
            node.states = states
    return [node for node in answered if id(node) not in silent]


def toolkit_name(connection, bus_name):
    """The application's toolkit name in lower case, "" when it does not tell."""
    name = call_all(connection, [(bus_name, APPLICATION_ROOT, PROPERTIES, "Get", ("ss", (APPLICATION, "ToolkitName")),
                                  reply_property)])[0]
    return str(name).lower() if name is not None else ""


def answers_get_all(connection, bus_name):
    """Whether the application is known to answer Properties.GetAll: a Qt 5 application
    drops off the bus when asked, so only the toolkits that answer it get it."""
    return toolkit_name(connection, bus_name) in GET_ALL_TOOLKITS


class Routes:
    """Calls to one application go over its own direct connection (call_all sends
    them), the others over the bus: the bus daemon relays each message and its reply,
    which on a big tree costs as much time as the application's answers."""

    def __init__(self, bus, bus_name, direct):
        self.bus = bus
        self.bus_name = bus_name
        self.direct = direct

    def to(self, bus_name):
        return self.direct if bus_name == self.bus_name else self.bus


def application_routes(bus, bus_name):
    """The connection to read application bus_name through: Routes with its direct
    connection where its toolkit offers one (GTK's bridge listens on a socket of its
    own), else the bus. Only the toolkits known to answer are asked for the address."""
    if toolkit_name(bus, bus_name) not in DIRECT_TOOLKITS:
        return bus
    address = call_all(bus, [(bus_name, APPLICATION_ROOT, APPLICATION, "GetApplicationBusAddress", None,
                              lambda reader: reader.string() if reader.signature == "s" else None)])[0]
    if not address:
        return bus
    try:
        return Routes(bus, bus_name, DirectConnection(address))
    except (OSError, ValueError):
        return bus


def name_roles(connection, nodes):
    """Sets role_name; roles the bindings do not know are asked for by name."""
    unnamed = []
    for node in nodes:
        name = role_name_of(node.role)
        if name is None:
            unnamed.append(node)
        else:
            node.role_name = name
    replies = call_all(connection, [(node.bus_name, node.path, ACCESSIBLE, "GetRoleName", None, reply_string)
                                    for node in unnamed])
    for node, reply in zip(unnamed, replies):
        node.role_name = reply or ""


def read_tree(connection, bus_name, path, index_path=(), max_depth=None, use_cache=True, worth_reading=None,
              needs_states=None):
    """The tree under the accessible (bus_name, path), down to max_depth levels below it
    (all levels when None), as a Node whose children are in the application's order, or
    None when the accessible does not answer. index_path is the accessible's own path
    of child indexes from the application. A node that does not answer is left out with
    its subtree. use_cache=False reads every node on its own (for applications whose
    cache cannot be trusted, and to compare).

    What the cache holds is taken first, as far down as it reaches; the rest is read in
    rounds of pipelined calls. worth_reading(root, nodes), when given, splits before each
    round the nodes still to be read or to have their children listed into those worth
    the calls now and those to wait for a later round; the others are left out (unread
    ones as if they had not answered, read ones without their children). It must pick
    some now while any wait. needs_states(role name), when given, tells which of the
    nodes the cache lacks are worth a read of their states; the others keep none."""
    items, listed_children = cached_items(connection, bus_name) if use_cache else ({}, {})
    known_children = children_from_cache(items, listed_children)
    one_by_one = not answers_get_all(connection, bus_name)
    root = Node(bus_name, path, tuple(index_path))
    levels_below = len(root.index_path)

    # The root is read on its own: an application's cache may miscount its own children.
    def cached(node):
        return node is not root and node.bus_name == bus_name and node.path in items

    def children_known(node):
        return cached(node) and node.path in known_children

    def has_children_to_list(node):
        # A node managing its descendants gives -1 as its child count in the cache.
        return node.child_count != 0 and (max_depth is None or len(node.index_path) - levels_below < max_depth)

    def add_children(node, references):
        for index, reference in enumerate(references):
            if reference is not None and reference[1] != NULL_PATH and reference[0]:
                child = Node(reference[0], reference[1], node.index_path + (index,), node)
                node.children.append(child)
                to_read.append(child)

    def in_place(nodes):
        """The nodes whose parent, as they tell it, is the node that listed them. GTK 4
        lists a stack's pages' children as the stack's own in GetChildren, while their
        parent, the stack's ChildCount and GetChildAtIndex give the pages: a parent whose
        list a child contradicts is listed again child by child, as a walk through the
        bindings lists it, and its first children are dropped with their subtrees."""
        for node in nodes:
            lister = node.parent
            if lister is not None and not lister.listed_by_index and node.told_parent not in (None, lister.path) \
                    and node.bus_name == lister.bus_name:
                for child in lister.children:
                    child.dropped = True
                lister.children = []
                lister.listed_by_index = True
                relist.append(lister)
                relisted.append(lister)
        return [node for node in nodes if not node.dropped]

    def alive(node):
        while node is not None:
            if node.dropped:
                return False
            node = node.parent
        return True

    to_read, to_list, waiting_reads, waiting_lists, relist, relisted = [root], [], [], [], [], []
    while to_read or to_list or waiting_reads or waiting_lists or relist:
        if relisted:
            to_read, to_list, waiting_reads, waiting_lists = ([node for node in nodes if alive(node)] for nodes in (
                to_read, to_list, waiting_reads, waiting_lists))
        free_reads = [node for node in to_read if cached(node)]
        free_lists = [node for node in to_list if children_known(node)]
        if free_reads or free_lists:
            to_read = [node for node in to_read if not cached(node)]
            to_list = [node for node in to_list if not children_known(node)]
            for node in free_reads:
                fill_from_item(node, items[node.path])
                node.answered = True
            free_reads = in_place(free_reads)
            name_roles(connection, free_reads)
            to_list += [node for node in free_reads if has_children_to_list(node)]
            for node in free_lists:
                add_children(node, [(child_bus or node.bus_name, child_path)
                                    for child_bus, child_path in known_children[node.path]])
            continue
        if worth_reading:
            to_read, waiting_reads = worth_reading(root, to_read + waiting_reads)
            to_list, waiting_lists = worth_reading(root, to_list + waiting_lists)
        read = read_nodes(connection, to_read, one_by_one, needs_states)
        for node in read:
            node.answered = True
        if not root.answered:
            return None
        read = in_place(read)
        by_index, relist = relist, []
        replies = call_all(connection, [(node.bus_name, node.path, ACCESSIBLE, "GetChildren", None, reply_references)
                                        for node in to_list if alive(node)] + [
            (node.bus_name, node.path, ACCESSIBLE, "GetChildAtIndex", ("i", (index,)), reply_reference)
            for node in by_index for index in range(max(node.child_count, 0))])
        listing, to_read = [node for node in to_list if alive(node)], []
        to_list = [node for node in read if has_children_to_list(node)]
        for node, references in zip(listing, replies):
            add_children(node, references or [])
        replies = replies[len(listing):]
        for node in by_index:
            add_children(node, replies[:max(node.child_count, 0)])
            replies = replies[max(node.child_count, 0):]
    prune(root)
    return root


def prune(root):
    """Drops the nodes that did not answer, with their subtrees."""
    stack = [root]
    while stack:
        node = stack.pop()
        node.children = [child for child in node.children if child.answered]
        stack.extend(node.children)


def depth_first(root):
    """(node, depth) for the tree in the order a depth-first walk meets them."""
    stack = [(root, 0)]
    while stack:
        node, depth = stack.pop()
        yield node, depth
        stack.extend((child, depth + 1) for child in reversed(node.children))


def read_values(connection, nodes, text_roles=("text", "entry"), limit=1000):
    """Sets each node's value as the walker shows it: the Value interface's current value
    as text, else for the text_roles the first `limit` characters of its text, else ""."""
    unknown = [node for node in nodes if node.interfaces is None]
    replies = call_all(connection, [(node.bus_name, node.path, ACCESSIBLE, "GetInterfaces", None, reply_strings)
                                    for node in unknown])
    for node, reply in zip(unknown, replies):
        node.interfaces = reply or []
    valued = [node for node in nodes if VALUE in node.interfaces]
    replies = call_all(connection, [(node.bus_name, node.path, PROPERTIES, "Get",
                                      GET_CURRENT_VALUE, reply_property)
                                     for node in valued])
    texts = []
    for node, reply in zip(valued, replies):
        if reply is not None:
            node.value = str(reply)
        elif node.role_name in text_roles:
            texts.append(node)
    texts += [node for node in nodes if VALUE not in node.interfaces and node.role_name in text_roles
              and TEXT in node.interfaces]
    replies = call_all(connection, [(node.bus_name, node.path, PROPERTIES, "Get",
                                      GET_CHARACTER_COUNT, reply_property)
                                     for node in texts])
    counted = [(node, min(reply, limit)) for node, reply in zip(texts, replies) if reply is not None]
    replies = call_all(connection, [(node.bus_name, node.path, TEXT, "GetText", ("ii", (0, count)),
                                      reply_string) for node, count in counted])
    for (node, _count), reply in zip(counted, replies):
        if reply is not None:
            node.value = reply
