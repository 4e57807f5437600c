#!/usr/bin/python3
"""Delivery reports and expiry through every front end.

velmosvc runs with the Loopback device, which reports each message it
sends as delivered, as undelivered, or not at all (its "delivery"
parameter), beside velmo-http on a private bus. For each:

- GET /v1/messages/{id} gives "delivered" and "deliveredAt";
- `velmo status --wait --delivered` ends with 0 (delivered), 1
  (undelivered) or 124 (no report within --timeout);
- `velmo watch --json` shows the DELIVERED or UNDELIVERED event;
- /metrics counts velmo_messages_delivered_total and
  velmo_messages_undelivered_total by device, and the delivery histogram;
- a per-message expiry is taken ("30m") or refused ("soon") over HTTP, and
  `velmo send --expire` queues one over the bus.

Usage: delivery_fronts.py BUILD_DIR SOURCE_DIR. Exit 0 when all holds, 1
with what did not.
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from velmotest import wait_for  # noqa: E402
from httpgateway import TOKEN, HttpGateway  # noqa: E402

failed = []


def check(condition, what):
    if not condition:
        failed.append(what)


def curl(port, method, path, *args):
    out = subprocess.run(["curl", "-s", "-X", method, "-H", "Authorization: Bearer " + TOKEN,
                          "-w", "\n%{http_code}", "http://127.0.0.1:%d%s" % (port, path), *args],
                         capture_output=True, text=True).stdout
    body, _, code = out.rpartition("\n")
    return int(code or 0), body


def post(port, message):
    return curl(port, "POST", "/v1/messages", "-H", "Content-Type: application/json", "-d", json.dumps(message))


def one_run(build, source, delivery, want_status, want_exit):
    velmo = build + "/bin/velmo"
    with HttpGateway(build, source, sandbox=["--param", "delivery=" + delivery]) as gateway:
        try:
            port, env = gateway.port, gateway.env
            watch = subprocess.Popen([velmo, "watch", "--json"], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
            wait_for("velmo watch to listen", lambda: "watching" in watch.stderr.readline())
            code, body = post(port, {"to": "+491711110001", "text": "disk full", "expire": "30m"})
            check(code == 201, "%s: POST with expire 30m: %d %s" % (delivery, code, body))
            ident = json.loads(body).get("id", "") if code == 201 else ""
            waited = subprocess.run([velmo, "status", "--wait", "--delivered", "--timeout", "2", ident], env=env,
                                    capture_output=True, text=True)
            check(waited.returncode == want_exit,
                  "%s: velmo status --wait --delivered gave %d (%s%s)" % (delivery, waited.returncode,
                                                                          waited.stdout, waited.stderr))
            if want_status:
                check(waited.stdout.startswith(want_status + "\n"), "%s: velmo status said %r" % (delivery,
                                                                                                 waited.stdout))
            code, body = curl(port, "GET", "/v1/messages/" + ident)
            message = json.loads(body) if code == 200 else {}
            check(message.get("status") == (want_status or "SENT"), "%s: GET gives %s" % (delivery, body))
            check(message.get("delivered") == {"DELIVERED": True, "UNDELIVERED": False}.get(want_status),
                  "%s: delivered is %r" % (delivery, message.get("delivered")))
            check((message.get("deliveredAt") is not None) == (want_status == "DELIVERED"),
                  "%s: deliveredAt is %r" % (delivery, message.get("deliveredAt")))
            if want_status:
                events = []
                wait_for("the %s event in velmo watch" % want_status,
                         lambda: events.append(json.loads(watch.stdout.readline())) or
                         any(e.get("status") == want_status and e.get("id") == ident for e in events))
            watch.terminate()
            watch.wait()
            code, metrics = curl(port, "GET", "/metrics")
            counts = {"DELIVERED": (1, 0), "UNDELIVERED": (0, 1)}.get(want_status, (0, 0))
            check('velmo_messages_delivered_total{device="Loop"} %d' % counts[0] in metrics and
                  'velmo_messages_undelivered_total{device="Loop"} %d' % counts[1] in metrics,
                  "%s: /metrics counts %s" % (delivery, [l for l in metrics.split("\n") if "delivered_total" in l]))
            check("velmo_message_delivery_seconds_count %d" % counts[0] in metrics and
                  'velmo_message_delivery_seconds_bucket{le="+Inf"} %d' % counts[0] in metrics,
                  "%s: /metrics has no delivery histogram of %d" % (delivery, counts[0]))
            code, body = post(port, {"to": "+491711110001", "text": "x", "expire": "soon"})
            check(code == 400 and "is not a period such as 30m" in body, "expire soon: %d %s" % (code, body))
            sent = subprocess.run([velmo, "send", "--expire", "1h", "+491711110002", "from velmo"], env=env,
                                  capture_output=True, text=True)
            check(sent.returncode == 0 and sent.stdout.startswith("{"), "velmo send --expire: %s" % sent.stderr)
            code, body = curl(port, "GET", "/v1/messages/" + sent.stdout.strip())
            check(code == 200 and json.loads(body).get("text") == "from velmo",
                  "the message velmo send --expire queued: %d %s" % (code, body))
        finally:
            if failed:
                gateway.show_logs = True


def main(build, source):
    for delivery, status, code in (("delivered", "DELIVERED", 0), ("undelivered", "UNDELIVERED", 1),
                                   ("none", "", 124)):
        one_run(build, source, delivery, status, code)
    for line in failed:
        print(line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
