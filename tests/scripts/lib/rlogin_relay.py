#!/usr/bin/env python3
"""A relay for the RLogin test: rlogind takes callers only from a privileged
source port (512-1023), which a client run by a user never has.  This
listens on 127.0.0.1:PORT, connects each caller on to 127.0.0.1:TARGET from
a privileged port, and copies both ways, urgent bytes (rlogind's window
request) as urgent bytes.  It serves one caller and ends after SECONDS."""
import select
import socket
import sys
import time

port, target, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
deadline = time.time() + seconds
lsock = socket.socket()
lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
lsock.bind(("127.0.0.1", port))
lsock.listen(1)
lsock.settimeout(seconds)
try:
    client, _ = lsock.accept()
except OSError:
    sys.exit(1)
server = None
for src in range(1023, 600, -1):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", src))
        s.connect(("127.0.0.1", target))
        server = s
        break
    except OSError:
        s.close()
if server is None:
    sys.exit(1)
peer = {client: server, server: client}
while time.time() < deadline:
    r, _, x = select.select([client, server], [], [client, server], 0.5)
    for s in x:
        try:
            peer[s].send(s.recv(1, socket.MSG_OOB), socket.MSG_OOB)
        except OSError:
            pass
    done = False
    for s in r:
        try:
            data = s.recv(65536)
        except OSError:
            data = b""
        if not data:
            done = True
            break
        peer[s].sendall(data)
    if done:
        break
