#!/usr/bin/python3
"""velmo-http against a hostile client: raw sockets, each attack with the
answer it must get, against the real program with its real configuration.

Afterwards velmo-http must be alive, its memory under a bound, and every
message it answered 201 for must be queued exactly once (none that it
refused).

Usage: hostile_http.py BUILD_DIR SOURCE_DIR. Exit 0 when all holds, 1 with
what did not.
"""
import json
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from velmotest import wait_for  # noqa: E402
from httpgateway import TOKEN, HttpGateway  # noqa: E402

# velmo-http's deadlines divided by 10: 1 s for the headers, 3 s in all.
DIVISOR = 10
HEADER_DEADLINE = 10.0 / DIVISOR
PER_CLIENT = 8
RSS_BOUND_KB = 50 * 1024
failed = []


def check(condition, what):
    if not condition:
        failed.append(what)


def connect(port, source="127.0.0.1"):
    s = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
    return s


def read_answers(sock, count=1, deadline=10):
    """The (status, body) of up to count answers on sock, in order; fewer
    when the connection closes first."""
    sock.settimeout(deadline)
    data, answers = b"", []
    while len(answers) < count:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0:
            head = data[:head_end].decode("latin-1")
            length = 0
            for line in head.split("\r\n")[1:]:
                name, _, value = line.partition(":")
                if name.strip().lower() == "content-length":
                    length = int(value)
            if len(data) >= head_end + 4 + length:
                status = int(head.split()[1])
                body = data[head_end + 4:head_end + 4 + length].decode("utf-8", "replace")
                data = data[head_end + 4 + length:]
                if status != 100:
                    answers.append((status, body))
                continue
        try:
            chunk = sock.recv(65536)
        except (socket.timeout, ConnectionResetError):
            break
        if not chunk:
            break
        data += chunk
    return answers


def request(method, path, body=b"", headers=(), token=True):
    lines = ["%s %s HTTP/1.1" % (method, path), "Host: velmo"]
    if token:
        lines.append("Authorization: Bearer " + TOKEN)
    lines += list(headers)
    if body or method == "POST":
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def post_json(path, value):
    body = value if isinstance(value, bytes) else json.dumps(value).encode()
    return request("POST", path, body, ["Content-Type: application/json"])


def one(port, data, source="127.0.0.1"):
    """The first answer to data sent on a new connection; (0, "") when the
    connection closed without one."""
    with connect(port, source) as s:
        try:
            s.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass
        answers = read_answers(s)
    return answers[0] if answers else (0, "")


def closed_within(sock, seconds):
    """Whether the server closes sock within seconds (what it sends first is read and dropped)."""
    sock.settimeout(seconds)
    end = time.monotonic() + seconds
    try:
        while time.monotonic() < end:
            if not sock.recv(4096):
                return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False
    return False


class Tally:
    """The messages velmo-http said it queued (201 answers)."""

    def __init__(self):
        self.ids = []

    def note(self, answers):
        for status, body in answers:
            if status == 201:
                value = json.loads(body)
                self.ids += [m["id"] for m in value["messages"]] if "messages" in value else [value["id"]]


def table(port, tally):
    msg = "/v1/messages"
    alert = "/v1/alertmanager?to=%2B491710000001"
    deep = b'{"status":"firing","alerts":[{"labels":' + b"[" * 30000 + b"]" * 30000 + b"}]}"
    chunk = b"1000\r\n" + b"x" * 4096 + b"\r\n"
    cases = [
        ("labels nested 30,000 deep", post_json(alert, deep), 400, "nests deeper than 32"),
        ("an alert that is a number", post_json(alert, {"status": "firing", "alerts": [1]}), 400, "not an object"),
        ("alerts without a status", post_json(alert, {"alerts": [1]}), 400, "not an Alertmanager notification"),
        ("200 header lines", request("GET", "/v1/devices", headers=["X-A%d: b" % i for i in range(200)]), 431,
         "more than 100 header lines"),
        ("one header of 20 KB", request("GET", "/v1/devices", headers=["X-Big: " + "b" * 20000]), 431,
         "longer than 16384 bytes"),
        ("a URL of 20 KB", request("GET", "/v1/devices?" + "a" * 20000), 431, "longer than 16384 bytes"),
        ("a chunked body past max_body",
         b"POST /v1/messages HTTP/1.1\r\nHost: v\r\nAuthorization: Bearer " + TOKEN.encode() +
         b"\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk * 20 + b"0\r\n\r\n",
         413, "longer than 65536 bytes"),
        ("a Content-Length past max_body", post_json(msg, b"x" * 70000), 413, "longer than 65536 bytes"),
        ("no HTTP at all", b"HELLO THERE\r\n\r\n", 400, "not valid HTTP"),
        ("a NUL in the recipient", post_json(msg, {"to": "+4917\u00001", "text": "x"}), 400, "NUL"),
        ("a NUL in the text", post_json(msg, {"to": "+4917", "text": "cut\u0000here"}), 400, "NUL"),
        ("a recipient of spaces", post_json(msg, {"to": "   ", "text": "x"}), 400, "Must specify To address"),
        ("a recipient of letters", post_json(msg, {"to": "alerts", "text": "x"}), 400, "not a phone number"),
        ("a recipient with a line end", post_json(msg, {"to": "+4917\nFAKE", "text": "x"}), 400,
         "not a phone number"),
        ("a text of 40,001 characters", post_json(msg, {"to": "+4917", "text": "x" * 40001}), 400,
         "longer than 40000"),
        ("no token", request("GET", "/v1/devices", token=False), 401, "bearer token"),
        ("a wrong method", request("DELETE", "/v1/devices"), 405, "use GET"),
    ]
    for what, data, code, text in cases:
        status, body = one(port, data)
        check(status == code and text in body, "%s: %d %s" % (what, status, body[:200]))

    # A form of 20 KB is under max_body and is taken.
    form = b"to=%2B491710000002&text=" + b"y" * 20000
    answer = one(port, request("POST", msg, form, ["Content-Type: application/x-www-form-urlencoded"]))
    check(answer[0] == 201, "a form of 20 KB: %d %s" % answer)
    tally.note([answer])


def alert_recipients(port, tally):
    notification = {"status": "firing", "alerts": [{"status": "firing", "labels": {"alertname": "Disk"}}] * 150}
    same = "/v1/alertmanager?to=" + ",".join(["1"] * 2000)
    status, body = one(port, post_json(same, notification))
    value = json.loads(body) if status == 201 else {}
    check(status == 201 and len(value.get("messages", [])) == 1, "one number 2,000 times: %d %s" % (status, body))
    check(value.get("left_out", {}).get("alerts") == 50, "150 alerts, 50 left out: %s" % value.get("left_out"))
    tally.note([(status, body)])
    many = "/v1/alertmanager?to=" + ",".join("%%2B49171000%04d" % i for i in range(15))
    status, body = one(port, post_json(many, notification))
    value = json.loads(body) if status == 201 else {}
    check(status == 201 and len(value.get("messages", [])) == 10 and
          len(value.get("left_out", {}).get("recipients", [])) == 5, "15 recipients: %d %s" % (status, body[:300]))
    tally.note([(status, body)])


def pipelining(port, tally):
    batch = b"".join(post_json("/v1/messages", {"to": "+4917100001%02d" % i, "text": "pipelined %d" % i})
                     for i in range(20))
    with connect(port) as s:
        s.sendall(batch)
        answers = read_answers(s, 20)
    check(len(answers) == 20 and all(a[0] == 201 for a in answers),
          "20 pipelined POSTs: %d answers %s" % (len(answers), [a[0] for a in answers]))
    ids = [json.loads(b)["id"] for st, b in answers if st == 201]
    check(len(set(ids)) == len(ids), "pipelined answers repeat an id")
    tally.note(answers)


def slow_clients(port):
    # A header line every 0.3 s: the header deadline ends it.
    with connect(port) as s:
        s.sendall(b"GET /v1/devices HTTP/1.1\r\n")
        start = time.monotonic()
        closed = False
        while time.monotonic() - start < HEADER_DEADLINE * 4:
            try:
                s.sendall(b"X-Slow: 1\r\n")
            except (BrokenPipeError, ConnectionResetError):
                closed = True
                break
            if closed_within(s, 0.3):
                closed = True
                break
        check(closed and time.monotonic() - start < HEADER_DEADLINE * 3,
              "a slow client kept its connection %.1f s" % (time.monotonic() - start))
    # One address may hold PER_CLIENT connections; more are refused, and
    # another address is served meanwhile.
    held = [connect(port, "127.0.0.2") for _ in range(PER_CLIENT)]
    try:
        extra = one(port, request("GET", "/v1/devices"), "127.0.0.2")
        check(extra[0] == 503 and "too many connections" in extra[1], "connection %d of one address: %s" %
              (PER_CLIENT + 1, extra))
        other = one(port, request("GET", "/v1/devices"))
        check(other[0] == 200, "another address while one holds its share: %s" % (other,))
    finally:
        for s in held:
            s.close()


def old_huge_file(gateway):
    """A message file from before the rules, 5,000,000 characters long, in
    out/sent/: reading it gives its text cut, and the service stays on the bus."""
    import struct
    import uuid
    guid = uuid.uuid4()
    now = struct.pack("<8H", 2026, 12, 3, 9, 12, 0, 0, 0)

    def block(text):
        data = text.encode("utf-16-le") + b"\0\0"
        return struct.pack("<I", len(data)) + data
    record = (guid.bytes_le + struct.pack("<I", 0) + now + now + bytes(16) + struct.pack("<I", 2) +
              block("ok") + block("+4917") + struct.pack("<I", 0) + block("x" * 5000000))
    name = "{%s}" % str(guid).upper()
    with open(gateway.root + "/var/lib/velmo/out/sent/" + name + ".velmo", "wb") as f:
        f.write(record)
    for _ in range(2):
        status, body = one(gateway.port, request("GET", "/v1/messages/" + name))
        value = json.loads(body) if status == 200 else {}
        check(status == 200 and value.get("text", "").endswith(" [cut: 5000000 characters in all]") and
              len(value["text"]) < 41000, "an old file of 5,000,000 characters: %d %s" % (status, body[:200]))
    check(one(gateway.port, request("GET", "/v1/devices"))[0] == 200, "the service left the bus")


def main(build, source):
    conf = "max_connections_per_client = %d\n" % PER_CLIENT
    with HttpGateway(build, source, conf, http_divisor=DIVISOR) as gateway:
        try:
            tally = Tally()
            table(gateway.port, tally)
            alert_recipients(gateway.port, tally)
            pipelining(gateway.port, tally)
            slow_clients(gateway.port)
            check(gateway.http.poll() is None, "velmo-http ended: %s" % gateway.http.poll())
            peak = gateway.rss_kb("VmHWM")
            check(0 < peak < RSS_BOUND_KB, "velmo-http's peak memory %d KiB" % peak)
            print("velmo-http's peak memory: %d KiB" % peak)

            def queued():
                out = subprocess.run([build + "/bin/velmo", "list", "--folder", "sent", "--json"], env=gateway.env,
                                     capture_output=True, text=True).stdout
                return [m["id"] for m in json.loads(out or "[]")]
            every = wait_for("every answered message sent", lambda: len(queued()) >= len(tally.ids) and queued())
            check(sorted(every) == sorted(tally.ids), "sent %d, answered 201 for %d" % (len(every),
                                                                                       len(tally.ids)))
            old_huge_file(gateway)
        finally:
            gateway.show_logs = bool(failed)
    for line in failed:
        print(line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
