"""The tree reader's own D-Bus connection when the application misbehaves: it refuses
us, hangs up after the handshake, or holds the connection and never answers. The calls
then come back unanswered (None: their nodes are left out) instead of hanging the walk.
Runs in the system python3, which has the bindings; no desktop needed."""

import json
import subprocess
from pathlib import Path

SOURCES = Path(__file__).resolve().parents[2] / "src" / "desktop_access"

PROGRAM = """
import json, os, socket, sys, tempfile, threading, time
sys.path.insert(0, sys.argv[1])
import atspi_tree as tree
tree.CALL_TIMEOUT_MS = 300

def application(path, behaviour):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    def serve():
        peer, _ = server.accept()
        received = b""
        while not received.endswith(b"\\r\\n"):
            received += peer.recv(4096)
        if behaviour == "refuses":
            peer.sendall(b"REJECTED EXTERNAL\\r\\n")
            return
        peer.sendall(b"OK 0123456789abcdef0123456789abcdef\\r\\n")
        while b"BEGIN\\r\\n" not in received:
            received += peer.recv(4096)
        if behaviour == "hangs up":
            peer.close()
        else:
            time.sleep(60)
    threading.Thread(target=serve, daemon=True).start()

calls = [(":1.9", f"/node/{index}", "org.a11y.atspi.Accessible", "GetRole", None, tree.reply_uint)
         for index in range(3)]
answers = {}
with tempfile.TemporaryDirectory() as directory:
    for behaviour in ("refuses", "hangs up", "never answers"):
        path = os.path.join(directory, behaviour.replace(" ", "-"))
        application(path, behaviour)
        started = time.monotonic()
        try:
            results = tree.call_all(tree.DirectConnection("unix:path=" + path), calls)
        except ValueError as error:
            results = str(error)
        answers[behaviour] = [results, time.monotonic() - started]
print(json.dumps(answers))
"""


def test_a_misbehaving_application_leaves_calls_unanswered_without_hanging():
    output = subprocess.run(["/usr/bin/python3", "-c", PROGRAM, str(SOURCES)], capture_output=True, text=True,
                            timeout=60)
    assert output.returncode == 0, output.stderr
    answers = json.loads(output.stdout)
    assert answers["refuses"][0] == "the application refused us"
    assert answers["hangs up"][0] == [None, None, None]
    assert answers["never answers"][0] == [None, None, None]
    # Bounded by the call time limit (0.3 s here), not by the application's 60 s silence.
    assert answers["never answers"][1] < 30
