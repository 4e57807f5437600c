#!/usr/bin/env python3
"""velmo-http under attack: a timed program that prints its figures.

velmosvc with the Loopback device and velmo-http with its default
configuration run on a private bus. While 100 slow clients (four addresses,
25 connections each) send one header line a second, and four flooders send
requests of 10,000 header lines again and again, a legitimate client asks
GET /v1/devices on a new connection each time. Printed: the legitimate
requests' p50 and p99 and their failures, the flood's answers, and
velmo-http's peak memory (VmHWM), against the same client alone.

    bench/http_attack.py BUILD_DIR [REQUESTS]   (default 500)
"""
import os
import socket
import sys
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "python"))
from httpgateway import TOKEN, HttpGateway  # noqa: E402

REQUEST = ("GET /v1/devices HTTP/1.1\r\nHost: velmo\r\nAuthorization: Bearer %s\r\nConnection: close\r\n\r\n"
           % TOKEN).encode()


def legitimate(port, count):
    """Latencies in ms of count requests, each on a new connection, and the failures."""
    latencies, failures = [], 0
    for _ in range(count):
        start = time.monotonic()
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(REQUEST)
                data = b""
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            if not data.startswith(b"HTTP/1.1 200"):
                failures += 1
        except OSError:
            failures += 1
        latencies.append((time.monotonic() - start) * 1000)
    latencies.sort()
    return latencies, failures


def slowloris(port, stop, held):
    conns = []
    for i in range(100):
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=("127.0.0.%d" % (2 + i % 4), 0))
            s.sendall(b"GET /v1/devices HTTP/1.1\r\n")
            conns.append(s)
        except OSError:
            pass
    held.append(len(conns))
    while not stop.is_set():
        for s in list(conns):
            try:
                s.sendall(b"X-Slow: 1\r\n")
            except OSError:
                conns.remove(s)
                # Closed by the header deadline: come back at once, as an attacker would.
                try:
                    s = socket.create_connection(("127.0.0.1", port), timeout=10)
                    s.sendall(b"GET /v1/devices HTTP/1.1\r\n")
                    conns.append(s)
                except OSError:
                    pass
        stop.wait(1.0)
    for s in conns:
        s.close()


def flood(port, stop, answers, source):
    lines = b"".join(b"X-Flood-%d: %s\r\n" % (i, b"v" * 20) for i in range(10000))
    while not stop.is_set():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0)) as s:
                s.sendall(b"GET /v1/devices HTTP/1.1\r\nHost: v\r\n" + lines + b"\r\n")
                answers.append(s.recv(64)[:12].decode("latin-1"))
        except OSError:
            answers.append("reset")


def main(build, count):
    with HttpGateway(build, SOURCE) as gateway:
        alone, alone_failures = legitimate(gateway.port, count)
        stop, held, answers = threading.Event(), [], []
        threads = [threading.Thread(target=slowloris, args=(gateway.port, stop, held))]
        threads += [threading.Thread(target=flood, args=(gateway.port, stop, answers, "127.0.0.%d" % (10 + i)))
                    for i in range(4)]
        for t in threads:
            t.start()
        time.sleep(2)  # the slow clients are all connected and the flood runs
        attacked, attacked_failures = legitimate(gateway.port, count)
        stop.set()
        for t in threads:
            t.join()
        peak = gateway.rss_kb("VmHWM")

    def pct(values, p):
        return values[min(len(values) - 1, int(len(values) * p / 100))]
    print("velmo-http, GET /v1/devices on a new connection each, %d requests" % count)
    print("  alone:          p50 %6.2f ms  p99 %6.2f ms  failures %d" % (pct(alone, 50), pct(alone, 99),
                                                                         alone_failures))
    print("  under attack:   p50 %6.2f ms  p99 %6.2f ms  failures %d" % (pct(attacked, 50), pct(attacked, 99),
                                                                         attacked_failures))
    print("  slow clients connected: %d of 100; flood requests: %d (answers: %s)" % (
        held[0] if held else 0, len(answers), ", ".join(sorted(set(answers)))))
    print("  velmo-http peak memory (VmHWM): %.1f MB" % (peak / 1024.0))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 500))
