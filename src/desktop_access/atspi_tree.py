# Fast reads of an application's accessible tree, for the AT-SPI2 walker (run by the
# system python3, which has the GObject bindings). Per-node reads through the Atspi
# bindings cost one D-Bus round trip per node and property; here the tree comes from
# the application's cache in one call (org.a11y.atspi.Cache.GetItems: GTK 3 through
# atk-bridge and GTK 4 answer it, Qt 5 answers an empty list), and what the cache leaves
# out is read with the few calls a snapshot line needs, all calls of one tree level in
# flight at once, over the application's direct connection where it offers one. Plain
# functions, so the walker program can take them in as they are:
#
#     bus_name, path = reference(window)
#     connection = application_routes(accessibility_bus(), bus_name)
#     root = read_tree(connection, bus_name, path, index_path=(window_index,), max_depth=max_depth)
#     for node, depth in depth_first(root): ...  # role_name, display_name(), has_state(...)
#     read_values(connection, listed_interactive_nodes, TEXT_CONTENT_ROLES, TEXT_CONTENT_LIMIT)

import functools
import struct

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

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
# Parameters shared by many calls, built once (building a GLib.Variant runs Python code).
GET_ALL_ACCESSIBLE = GLib.Variant("(s)", (ACCESSIBLE,))
GET_ACCESSIBLE_PROPERTIES = [GLib.Variant("(ss)", (ACCESSIBLE, name)) for name in ACCESSIBLE_PROPERTIES]
GET_CURRENT_VALUE = GLib.Variant("(ss)", (VALUE, "CurrentValue"))
GET_CHARACTER_COUNT = GLib.Variant("(ss)", (TEXT, "CharacterCount"))
STRING = GLib.VariantType("s")
INT32 = GLib.VariantType("i")
REFERENCE = GLib.VariantType("(so)")


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


def accessibility_bus():
    """A connection to the AT-SPI bus, found as the bindings find it: AT_SPI_BUS_ADDRESS,
    else the session bus's org.a11y.Bus."""
    import os

    address = os.environ.get("AT_SPI_BUS_ADDRESS")
    if not address:
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, None,
                                  Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
        address = reply.unpack()[0]
    return Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)


def reference(accessible):
    """The (bus name, object path) of an Atspi.Accessible."""
    return accessible.app.bus_name, accessible.path


def call_all(connection, calls):
    """Sends the calls, (bus name, path, interface, method, parameters or None, decode),
    with up to CALLS_IN_FLIGHT at once; returns decode(reply) for each in order, None for
    a call that failed or whose reply does not decode."""
    results = [None] * len(calls)
    state = {"pending": 0}
    context = GLib.MainContext.default()

    def finished(source, outcome, index):
        state["pending"] -= 1
        try:
            results[index] = calls[index][5](source.call_finish(outcome))
        except (GLib.Error, TypeError, ValueError):
            results[index] = None

    sent = 0
    while sent < len(calls) or state["pending"]:
        while sent < len(calls) and state["pending"] < CALLS_IN_FLIGHT:
            bus_name, path, interface, method, parameters, _decode = calls[sent]
            connection.call(bus_name, path, interface, method, parameters, None, Gio.DBusCallFlags.NONE,
                            CALL_TIMEOUT_MS, None, finished, sent)
            state["pending"] += 1
            sent += 1
        context.iteration(True)
    return results


# Decoders of replies. GLib.Variant.unpack walks every value in Python, which on big
# trees costs about as much as the calls; these read only what is needed.

def reply_uint(reply):
    return reply.get_child_value(0).get_uint32()


def reply_string(reply):
    return reply.get_child_value(0).get_string()


def reply_strings(reply):
    return reply.get_child_value(0).get_strv()


def reply_property(reply):
    """The value of a Properties.Get reply, unpacked (a plain value)."""
    return reply.get_child_value(0).get_variant().unpack()


def reply_states(reply):
    return state_mask(reply.get_child_value(0))


def reply_references(reply):
    listed = reply.get_child_value(0)
    return [reference_of(listed.get_child_value(index)) for index in range(listed.n_children())]


def reference_of(pair):
    return pair.get_child_value(0).get_string(), pair.get_child_value(1).get_string()


def reply_reference(reply):
    return reference_of(reply.get_child_value(0))


def reply_accessible_properties(reply):
    """Name, Description, ChildCount and the parent's path from a Properties.GetAll reply."""
    found = reply.get_child_value(0)
    name = found.lookup_value("Name", STRING)
    description = found.lookup_value("Description", STRING)
    child_count = found.lookup_value("ChildCount", INT32)
    parent = found.lookup_value("Parent", REFERENCE)
    return (name.get_string() if name is not None else None,
            description.get_string() if description is not None else None,
            child_count.get_int32() if child_count is not None else None,
            parent.get_child_value(1).get_string() if parent is not None else None)


def state_mask(words):
    """The state set as one bit mask, from its au of 32-bit words."""
    mask = 0
    for index in range(words.n_children()):
        mask |= words.get_child_value(index).get_uint32() << (32 * index)
    return mask


@functools.lru_cache(maxsize=None)
def role_name_of(role):
    """The role's name as the bindings give it, or None when the application must be asked."""
    if 0 <= role < KNOWN_ROLE_COUNT and role != int(Atspi.Role.EXTENDED):
        return Atspi.role_get_name(Atspi.Role(role))
    return None


class WireReader:
    """Reads values of a D-Bus message body in the wire format, for the cache's reply:
    thousands of items that GLib.Variant would hand over one Python call per field.
    Each read aligns the position itself (alignments are powers of two)."""

    def __init__(self, blob):
        self.blob = blob
        order = "<" if blob[0:1] == b"l" else ">"
        self.read_uint = struct.Struct(order + "I").unpack_from
        self.read_int = struct.Struct(order + "i").unpack_from
        header_fields = self.read_uint(blob, 12)[0]
        self.position = (16 + header_fields + 7) & -8

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

    def array_end(self, element_alignment):
        length = self.uint()
        self.position = (self.position + element_alignment - 1) & -element_alignment
        return self.position + length

    def strings(self):
        end = self.array_end(4)
        found = []
        while self.position < end:
            found.append(self.string())
        return found

    def state_mask(self):
        end = self.array_end(4)
        mask, shift = 0, 0
        while self.position < end:
            mask |= self.uint() << shift
            shift += 32
        return mask


def cached_items(connection, bus_name):
    """The application's cache as {path: item} with each item (parent path, index in the
    parent or None, child count, interfaces, name, role, description, states), and the
    children each item lists when the cache gives them instead of indexes. Empty when
    the application keeps no cache or does not answer."""
    message = Gio.DBusMessage.new_method_call(bus_name, CACHE_PATH, "org.a11y.atspi.Cache", "GetItems")
    try:
        reply, _serial = connection.send_message_with_reply_sync(message, Gio.DBusSendMessageFlags.NONE,
                                                                 CALL_TIMEOUT_MS, None)
    except GLib.Error:
        return {}, {}
    # Current registries give each item's index in its parent and its child count;
    # older ones list its children instead.
    indexed = reply.get_signature() == "a((so)(so)(so)iiassusau)"
    if reply.get_message_type() != Gio.DBusMessageType.METHOD_RETURN or not (
            indexed or reply.get_signature() == "a((so)(so)(so)a(so)assusau)"):
        return {}, {}
    items, listed_children = {}, {}
    reader = WireReader(reply.to_blob(Gio.DBusCapabilityFlags.NONE))
    end = reader.array_end(8)
    while reader.position < end:
        own_bus, path = reader.reference()
        reader.reference()  # the application
        parent_path = reader.reference()[1]
        if indexed:
            index, child_count = reader.int(), reader.int()
        else:
            children_end = reader.array_end(8)
            children = []
            while reader.position < children_end:
                children.append(reader.reference())
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
    try:
        reply = connection.call_sync(bus_name, APPLICATION_ROOT, PROPERTIES, "Get",
                                     GLib.Variant("(ss)", (APPLICATION, "ToolkitName")), None,
                                     Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
        return str(reply.unpack()[0]).lower()
    except GLib.Error:
        return ""


def answers_get_all(connection, bus_name):
    """Whether the application is known to answer Properties.GetAll: a Qt 5 application
    drops off the bus when asked, so only the toolkits that answer it get it."""
    return toolkit_name(connection, bus_name) in GET_ALL_TOOLKITS


class Routes:
    """Sends the calls to one application over its own direct connection, the others
    over the bus: the bus daemon relays each message and its reply, which on a big tree
    costs as much time as the application's answers. Offers the connection methods the
    reader uses; the methods called back get the connection that carried the call."""

    def __init__(self, bus, bus_name, direct):
        self.bus = bus
        self.bus_name = bus_name
        self.direct = direct

    def to(self, bus_name):
        return self.direct if bus_name == self.bus_name else self.bus

    def call(self, bus_name, *arguments):
        self.to(bus_name).call(bus_name, *arguments)

    def call_sync(self, bus_name, *arguments):
        return self.to(bus_name).call_sync(bus_name, *arguments)

    def send_message_with_reply_sync(self, message, *arguments):
        return self.to(message.get_destination()).send_message_with_reply_sync(message, *arguments)


def application_routes(bus, bus_name):
    """The connection to read application bus_name through: Routes with its direct
    connection where its toolkit offers one (GTK's bridge listens on a socket of its
    own), else the bus. Only the toolkits known to answer are asked for the address."""
    if toolkit_name(bus, bus_name) not in DIRECT_TOOLKITS:
        return bus
    try:
        reply = bus.call_sync(bus_name, APPLICATION_ROOT, APPLICATION, "GetApplicationBusAddress", None, None,
                              Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
        address = reply_string(reply) if reply.get_type_string() == "(s)" else ""
        if not address:
            return bus
        direct = Gio.DBusConnection.new_for_address_sync(address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT,
                                                         None, None)
    except GLib.Error:
        return bus
    return Routes(bus, bus_name, direct)


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
            (node.bus_name, node.path, ACCESSIBLE, "GetChildAtIndex", GLib.Variant("(i)", (index,)), reply_reference)
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
    replies = call_all(connection, [(node.bus_name, node.path, TEXT, "GetText", GLib.Variant("(ii)", (0, count)),
                                      reply_string) for node, count in counted])
    for (node, _count), reply in zip(counted, replies):
        if reply is not None:
            node.value = reply
