#!/usr/bin/env python3
"""A display that forwards everything to another one, except that it says one extension is
absent: the answer to QueryExtension for that name reports it not present. For testing how a
client behaves on a server that lacks the extension (XKEYBOARD cannot be turned off in Xvfb).

Usage: hide_extension.py LISTEN_SOCKET TARGET_SOCKET EXTENSION
Writes a line to standard output once it listens; runs until killed.
"""

import os
import signal
import socket
import struct
import sys
import threading

QUERY_EXTENSION = 98


def read_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def pad4(n):
    return (n + 3) & ~3


def requests(client, server, order, hidden, name):
    """Client to server: counts requests, noting the sequence numbers of the queries for `name`."""
    header = read_exactly(client, 12)
    name_length, data_length = struct.unpack(order + "HH", header[6:10])
    server.sendall(header + read_exactly(client, pad4(name_length) + pad4(data_length)))
    sequence = 0
    while True:
        head = read_exactly(client, 4)
        opcode = head[0]
        (length,) = struct.unpack(order + "H", head[2:4])
        extra = b""
        if length == 0:  # BIG-REQUESTS: the length follows in 32 bits
            extra = read_exactly(client, 4)
            (length,) = struct.unpack(order + "I", extra)
            body = read_exactly(client, length * 4 - 8)
        else:
            body = read_exactly(client, length * 4 - 4)
        sequence = (sequence + 1) & 0xFFFF
        if opcode == QUERY_EXTENSION:
            (n,) = struct.unpack(order + "H", body[0:2])
            if body[4 : 4 + n] == name:
                hidden.add(sequence)
        server.sendall(head + extra + body)


def replies(server, client, order, hidden):
    """Server to client: the setup answer, then replies, events and errors, 32 bytes each plus
    what a reply or a generic event says follows."""
    head = read_exactly(server, 8)
    (length,) = struct.unpack(order + "H", head[6:8])
    client.sendall(head + read_exactly(server, length * 4))
    while True:
        message = bytearray(read_exactly(server, 32))
        kind = message[0] & 0x7F
        if kind in (1, 35):
            (length,) = struct.unpack(order + "I", message[4:8])
            rest = read_exactly(server, length * 4)
        else:
            rest = b""
        if kind == 1:
            (sequence,) = struct.unpack(order + "H", message[2:4])
            if sequence in hidden:
                hidden.discard(sequence)
                message[8:12] = b"\0\0\0\0"  # present, major opcode, first event, first error
        client.sendall(bytes(message) + rest)


def serve(client, target, name):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.connect(target)
    order = "<" if client.recv(1, socket.MSG_PEEK) == b"l" else ">"
    hidden = set()

    def run(work, *args):
        try:
            work(*args)
        except (EOFError, OSError):
            pass
        for sock in (client, server):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    threading.Thread(target=run, args=(requests, client, server, order, hidden, name), daemon=True).start()
    threading.Thread(target=run, args=(replies, server, client, order, hidden), daemon=True).start()


def main():
    listen_path, target, name = sys.argv[1], sys.argv[2], sys.argv[3].encode()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    if os.path.exists(listen_path):
        os.unlink(listen_path)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(listen_path)
    listener.listen(16)
    print("listening", flush=True)
    try:
        while True:
            client, _ = listener.accept()
            serve(client, target, name)
    finally:
        os.unlink(listen_path)


if __name__ == "__main__":
    main()
