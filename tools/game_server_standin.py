#!/usr/bin/env python3
"""A stand-in for the Quenmar Online game server: it accepts TCP connections on the
loopback address and holds them open until the player's side closes them. It sends
nothing, as the help centre's connection test sends and expects nothing.

game_server_standin.py [--port PORT] [--port-file FILE]
Port 0 (the default) takes a free port. Once listening it prints
"listening on 127.0.0.1:PORT" (and writes PORT to FILE), then one line per connection.
It ends on SIGTERM or SIGINT, and by itself when the process that started it ends.
"""

import argparse
import os
import selectors
import signal
import socket
import sys

HOST = "127.0.0.1"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    args = parser.parse_args(argv)

    stop = []
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.append(True))
    parent = os.getppid()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((HOST, args.port))
    listener.listen(16)
    listener.setblocking(False)
    port = listener.getsockname()[1]

    if args.port_file:
        # Written whole under another name first, so a reader never sees half a number.
        partial = args.port_file + ".part"
        with open(partial, "w") as f:
            f.write("%d\n" % port)
        os.replace(partial, args.port_file)
    print("listening on %s:%d" % (HOST, port), flush=True)

    selector = selectors.DefaultSelector()
    selector.register(listener, selectors.EVENT_READ)
    players = {}
    while not stop:
        # Woken twice a second to notice a signal or a parent that went away.
        for key, _ in selector.select(timeout=0.5):
            if key.fileobj is listener:
                try:
                    conn, peer = listener.accept()
                except BlockingIOError:
                    continue
                conn.setblocking(False)
                players[conn] = peer
                selector.register(conn, selectors.EVENT_READ)
                print("a player connected from %s:%d" % peer, flush=True)
                continue
            conn = key.fileobj
            try:
                data = conn.recv(4096)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                data = b""
            if not data:
                peer = players.pop(conn)
                selector.unregister(conn)
                conn.close()
                print("the player from %s:%d left" % peer, flush=True)
        if os.getppid() != parent:
            break

    for conn in list(players):
        conn.close()
    listener.close()
    print("stopped", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
