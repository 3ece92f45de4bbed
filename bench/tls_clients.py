#!/usr/bin/python3
"""Clients for the TLS bench: N sessions to 127.0.0.1:PORT (plain or TLS),
each logged in as bench/bench, reading whatever comes until stdin closes.
Prints the handshake times of the TLS ones (median, p99, ms)."""

import selectors
import socket
import ssl
import statistics
import sys
import time

n, port, mode = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
F = b'\xe0'
LOGIN = b'connect' + F + b'bench' + F + b'127.0.0.1' + F + b'bench' + F + sys.argv[4].encode() + F + b'\r\n'
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE

sel = selectors.DefaultSelector()
times = []
for _ in range(n):
    raw = socket.create_connection(('127.0.0.1', port))
    if mode == 'tls':
        start = time.perf_counter()
        conn = ctx.wrap_socket(raw)
        times.append((time.perf_counter() - start) * 1000)
    else:
        conn = raw
    conn.sendall(LOGIN)
    conn.setblocking(False)
    sel.register(conn, selectors.EVENT_READ)
sel.register(sys.stdin, selectors.EVENT_READ)
if times:
    times.sort()
    print('handshake on loopback: median %.2f ms, p99 %.2f ms (%d handshakes, one at a time)'
          % (statistics.median(times), times[int(len(times) * 0.99) - 1], len(times)), flush=True)
else:
    print('plain clients connected', flush=True)
while True:
    for key, _ in sel.select():
        if key.fileobj is sys.stdin:
            if not sys.stdin.buffer.read1(4096):
                sys.exit(0)
            continue
        try:
            if not key.fileobj.recv(1 << 16):
                sel.unregister(key.fileobj)
        except (ssl.SSLWantReadError, BlockingIOError):
            pass
        except OSError:
            sel.unregister(key.fileobj)
