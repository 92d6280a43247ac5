"""The tree reader's own D-Bus wire format against GLib's: the calls it builds read back
as GLib reads them, and the values it reads from GLib's messages are GLib's. Runs in
the system python3, which has the bindings; no desktop needed."""

import json
import subprocess
from pathlib import Path

SOURCES = Path(__file__).resolve().parents[2] / "src" / "desktop_access"

PROGRAM = """
import json, sys
sys.path.insert(0, sys.argv[1])
import atspi_tree as tree
from gi.repository import Gio, GLib

def message(blob):
    return Gio.DBusMessage.new_from_blob(bytes(blob), Gio.DBusCapabilityFlags.NONE)

calls = []
for path, parameters in (("/a", None), ("/org/a11y/atspi/accessible/" + "x" * 70, ("ss", ("org.x", "Näme"))),
                         ("/b", ("ii", (0, -7))), ("/c", ("i", (2 ** 31 - 1,)))):
    built = message(tree.method_call(42, ":1.9", path, "org.a11y.atspi.Text", "GetText", parameters))
    body = built.get_body()
    calls.append([built.get_serial(), built.get_destination(), built.get_path(), built.get_interface(),
                  built.get_member(), built.get_signature(), body.unpack() if body else None])

signature = "(a{sv}asaud(so)ybxa(so)v)"
values = ({"Name": GLib.Variant("s", "Ok ✓"), "ChildCount": GLib.Variant("i", -1),
           "Parent": GLib.Variant("(so)", (":1.2", "/p")), "Nested": GLib.Variant("a{si}", {"a": 1, "b": 2}),
           "Value": GLib.Variant("d", 0.25), "Flag": GLib.Variant("b", True)},
          ["", "two"], [1, 2 ** 32 - 1], -1.5, (":1.3", "/q"), 255, False, -2 ** 40, [],
          GLib.Variant("v", GLib.Variant("s", "deep")))
reply = Gio.DBusMessage.new_method_call(":1.1", "/", "i.f", "m")
reply.set_serial(7)
answer = Gio.DBusMessage.new_method_reply(reply)
answer.set_body(GLib.Variant(signature, values))
reader = tree.WireReader(answer.to_blob(Gio.DBusCapabilityFlags.NONE))
header = [reader.message_type, reader.reply_serial, reader.signature]
# A body is a sequence of values; read as one structure (it begins 8-aligned).
read = reader.value("(" + reader.signature + ")")
reader = tree.WireReader(answer.to_blob(Gio.DBusCapabilityFlags.NONE))
properties = tree.reply_accessible_properties(reader)
addresses = []
for address in ("unix:path=/run/a%20b,guid=1", "tcp:host=x;unix:abstract=/tmp/dbus-1", "tcp:host=x"):
    try:
        addresses.append(tree.unix_socket_path(address))
    except ValueError as error:
        addresses.append(str(error))
print(json.dumps({"calls": calls, "header": header, "read": read, "expected": GLib.Variant(signature, values).unpack(),
                  "properties": properties, "addresses": addresses}))
"""


def test_the_reader_writes_and_reads_the_wire_format_as_glib_does():
    output = subprocess.run(["/usr/bin/python3", "-c", PROGRAM, str(SOURCES)], capture_output=True, text=True,
                            timeout=60)
    assert output.returncode == 0, output.stderr
    answer = json.loads(output.stdout)
    assert answer["calls"] == [
        [42, ":1.9", "/a", "org.a11y.atspi.Text", "GetText", "", None],
        [42, ":1.9", "/org/a11y/atspi/accessible/" + "x" * 70, "org.a11y.atspi.Text", "GetText", "ss",
         ["org.x", "Näme"]],
        [42, ":1.9", "/b", "org.a11y.atspi.Text", "GetText", "ii", [0, -7]],
        [42, ":1.9", "/c", "org.a11y.atspi.Text", "GetText", "i", [2 ** 31 - 1]]]
    assert answer["header"] == [2, 7, "a{sv}asaud(so)ybxa(so)v"]
    assert answer["read"] == answer["expected"]
    assert answer["properties"] == ["Ok ✓", None, -1, "/p"]
    assert answer["addresses"] == ["/run/a b", "\u0000/tmp/dbus-1", "no Unix socket in 'tcp:host=x'"]
