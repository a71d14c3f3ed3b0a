#!/usr/bin/env python3
"""A serial device server that fails: it relays RTU frames between its one
client and the simulated detector at HOST:PORT (argv[1]) until the client
writes registers (function 16).  That request still reaches the detector, but
only half of its answer goes back before the connection is dropped, and no
connection is taken after that.  Prints the address it listens on."""
import socket
import sys

host, port = sys.argv[1].rsplit(":", 1)
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(1)
print("127.0.0.1:%d" % server.getsockname()[1], flush=True)


def answer(device):
    """The detector's whole answer: what comes until it pauses."""
    device.settimeout(2.0)
    data = device.recv(4096)
    device.settimeout(0.05)
    try:
        while True:
            more = device.recv(4096)
            if not more:
                break
            data += more
    except socket.timeout:
        pass
    return data


while True:
    client, _ = server.accept()
    device = socket.create_connection((host, int(port)))
    cut = False
    while not cut:
        request = client.recv(4096)
        if not request:
            break
        device.sendall(request)
        reply = answer(device)
        cut = len(request) > 1 and request[1] == 16
        client.sendall(reply[: len(reply) // 2] if cut else reply)
    client.close()
    device.close()
    if cut:
        server.close()
        sys.exit(0)
