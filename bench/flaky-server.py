#!/usr/bin/env python3
"""A file server over a link that drops: serves FILE as /whole and as /cut, over http on
ADDRESS:80 and over https on 127.0.0.1:4433 (CERT and KEY), and answers a Range request
(with a matching If-Range, or none) with 206 as nginx does. /cut drops the connection
after every CUT bytes of body. Appends each connection's path and body bytes to SENT.

Usage: flaky-server.py FILE CUT SENT ADDRESS CERT KEY
"""
import os
import socket
import ssl
import sys
import threading

path, cut, sent_log, address, cert, key = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6]
data = memoryview(open(path, "rb").read())
etag = '"%x-%x"' % (int(os.path.getmtime(path)), len(data))
lock = threading.Lock()


def serve(conn):
    try:
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = conn.recv(4096)
            if not chunk:
                return
            request += chunk
        lines = request.split(b"\r\n\r\n")[0].decode("latin-1").split("\r\n")
        fields = {k.strip().lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}
        start = 0
        if fields.get("range", "").startswith("bytes=") and fields.get("if-range", etag) == etag:
            start = int(fields["range"][6:].split("-")[0])
        n = len(data)
        head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n" % (start, n - 1, n) if start else "HTTP/1.1 200 OK\r\n"
        head += "Accept-Ranges: bytes\r\nETag: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % (etag, n - start)
        end = min(n, start + cut) if "/cut" in lines[0] else n
        conn.sendall(head.encode())
        conn.sendall(data[start:end])
        with lock, open(sent_log, "a") as f:
            f.write("%s %d\n" % ("cut" if "/cut" in lines[0] else "whole", end - start))
    except OSError:
        pass
    finally:
        conn.close()


def listen(addr, context=None):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(addr)
    s.listen(16)
    while True:
        conn = s.accept()[0]
        def run(c=conn):
            try:
                serve(context.wrap_socket(c, server_side=True) if context else c)
            except (OSError, ssl.SSLError):
                c.close()
        threading.Thread(target=run, daemon=True).start()


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
threading.Thread(target=listen, args=(("127.0.0.1", 4433), context), daemon=True).start()
listen((address, 80))
