#!/usr/bin/python3
"""velmo-http as its clients use it.

velmosvc runs with the Loopback device (which hands every message it
sends back as received) on a private system bus, and velmo-http beside it
as a client of that bus. curl calls every endpoint and makes every error;
then Debian's prometheus-alertmanager, given a receiver pointing at
velmo-http, is sent an alert through its API and the SMS must come out of
the Loopback device.

Usage: velmo_http.py BUILD_DIR SOURCE_DIR. Exit 0 when all holds, 1 with
what did not; the Alertmanager part is skipped (and said so) where
prometheus-alertmanager is not installed.
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from velmotest import wait_for  # noqa: E402
from httpgateway import TOKEN, Http, HttpGateway, free_port  # noqa: E402

ALERTMANAGER = "/usr/bin/prometheus-alertmanager"
failed = []


def check(condition, what):
    if not condition:
        failed.append(what)


def endpoints(http, env, root):
    status, headers, body = http.json("POST", "/v1/messages", "-H", "Content-Type: application/json",
                                      "-d", json.dumps({"to": "+491711110001", "text": "über HTTP"}))
    check(status == 201 and body.get("status") == "QUEUED", "POST json: %d %s" % (status, body))
    first = body.get("id", "")
    check(headers.get("location") == "/v1/messages/" + first, "Location: %s" % headers.get("location"))
    status, _, body = http.json("POST", "/v1/messages", "--data-urlencode", "to=+491711110002",
                                "--data-urlencode", "text=a form & its text")
    check(status == 201, "POST form: %d %s" % (status, body))
    second = body.get("id", "")

    sent = wait_for("the first sent", lambda: http.json("GET", "/v1/messages/" + first)[2].get("status") == "SENT"
                    and http.json("GET", "/v1/messages/" + first))
    check(sent[0] == 200 and sent[2]["to"] == "+491711110001" and sent[2]["text"] == "über HTTP" and
          sent[2]["folder"] == "sent", "GET message: %s" % (sent,))
    form = wait_for("the second sent", lambda: http.json("GET", "/v1/messages/" + second.strip("{}"))[2]
                    .get("status") == "SENT" and http.json("GET", "/v1/messages/" + second))
    check(form[2]["text"] == "a form & its text", "the form's text: %r" % form[2].get("text"))

    status, _, devices = http.json("GET", "/v1/devices")
    check(status == 200 and [(d["name"], d["state"]) for d in devices] == [("Loop", "running")],
          "GET devices: %d %s" % (status, devices))

    status, headers, page = http("GET", "/metrics")
    check(status == 200 and headers.get("content-type", "").startswith("text/plain; version=0.0.4"),
          "GET metrics: %d %s" % (status, headers))
    for line in ['velmo_messages_sent_total{device="Loop"} 2', "velmo_messages_queued_total 2",
                 'velmo_messages_received_total{device="Loop"} 2', "velmo_devices_up 1",
                 "velmo_messages_waiting 0", 'velmo_device_up{device="Loop",state="running"} 1']:
        check(line + "\n" in page, "metrics lack %r:\n%s" % (line, page))
    check(http("GET", "/metrics", token=None)[0] == 401, "metrics without a token are open by default")


def errors(http):
    big = "x" * 70000
    cases = [
        ("no token", ("GET", "/v1/devices"), {"token": None}, 401, "bearer token is needed"),
        ("a wrong token", ("GET", "/v1/devices"), {"token": "wrong-token-0123456789abcdef"}, 401, "not valid"),
        ("another scheme", ("GET", "/v1/devices", "-H", "Authorization: Basic eDp5"), {"token": None}, 401,
         "not valid"),
        ("bad JSON", ("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d", "{nope"), {}, 400,
         "not JSON"),
        ("not an object", ("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d", "[1]"), {}, 400,
         "not a JSON object"),
        ("no text", ("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d", '{"to": "+49171"}'), {},
         400, '"text" is missing'),
        ("to not a string", ("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d",
                             '{"to": 49171, "text": "x"}'), {}, 400, '"to" is missing or not a string'),
        ("an empty recipient", ("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d",
                                '{"to": "", "text": "x"}'), {}, 400, "Must specify To address"),
        ("no form field", ("POST", "/v1/messages", "--data-urlencode", "to=+49171"), {}, 400, '"text" is missing'),
        ("plain text", ("POST", "/v1/messages", "-H", "Content-Type: text/plain", "-d", "hi"), {}, 415,
         "send JSON"),
        ("oversized", ("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d", big), {}, 413,
         "longer than 65536 bytes"),
        ("an unknown id", ("GET", "/v1/messages/{00000000-0000-0000-0000-000000000001}"), {}, 404, "No message"),
        ("a bad id", ("GET", "/v1/messages/nonsense"), {}, 400, "is not a message id"),
        ("no such path", ("GET", "/v2/anything"), {}, 404, "no such endpoint"),
        ("a bad alert", ("POST", "/v1/alertmanager?to=%2B49171", "-H", "Content-Type: application/json", "-d",
                         '{"receiver": "x"}'), {}, 400, "not an Alertmanager notification"),
        ("an alert without recipients", ("POST", "/v1/alertmanager", "-H", "Content-Type: application/json",
                                         "-d", json.dumps(NOTIFICATION)), {}, 400, "no recipient"),
    ]
    for what, args, kw, code, text in cases:
        status, headers, body = http.json(*args, **kw)
        check(status == code and text in body.get("error", ""), "%s: %d %s" % (what, status, body))
        if code == 401:
            check(headers.get("www-authenticate") == 'Bearer realm="velmo"', what + ": no WWW-Authenticate")


NOTIFICATION = {
    "version": "4", "status": "firing", "receiver": "sms", "groupLabels": {"alertname": "DiskFull"},
    "commonLabels": {"alertname": "DiskFull"}, "commonAnnotations": {}, "externalURL": "http://am",
    "alerts": [{"status": "firing", "labels": {"alertname": "DiskFull", "instance": "db1"},
                "annotations": {"summary": "Disk 95% full on db1"}}],
}


def direct_alert(http):
    status, _, body = http.json("POST", "/v1/alertmanager?to=%2B491712220001&to=+491712220002",
                                "-H", "Content-Type: application/json", "-d", json.dumps(NOTIFICATION))
    check(status == 201 and [m["to"] for m in body.get("messages", [])] == ["+491712220001", "+491712220002"]
          and body.get("text") == "[FIRING:1] DiskFull: Disk 95% full on db1",
          "POST alertmanager: %d %s" % (status, body))


def refuses_open_tokens(build, root):
    loose = root + "/loose-tokens"
    with open(loose, "w") as f:
        f.write(TOKEN + "\n")
    os.chmod(loose, 0o644)
    conf = root + "/loose.conf"
    with open(conf, "w") as f:
        f.write("listen = 127.0.0.1:%d\ntokens = %s\n" % (free_port(), loose))
    r = subprocess.run([build + "/bin/velmo-http", "--config", conf], capture_output=True, text=True, timeout=30)
    check(r.returncode == 1 and "may be read by others (mode 0644)" in r.stderr,
          "a token file others may read: %d %s" % (r.returncode, r.stderr))


def alertmanager(build, root, env, port, processes):
    """The real Alertmanager notifying velmo-http; the SMS out of Loopback."""
    if not os.path.exists(ALERTMANAGER):
        print("prometheus-alertmanager is not installed: its part is skipped")
        return
    am_port = free_port()
    with open(root + "/alertmanager.yml", "w") as f:
        f.write("""route:
  receiver: sms
  group_by: [alertname]
  group_wait: 0s
  group_interval: 1s
receivers:
  - name: sms
    webhook_configs:
      - url: http://127.0.0.1:%d/v1/alertmanager?to=%%2B491713330001
        send_resolved: true
        http_config:
          authorization:
            credentials: %s
""" % (port, TOKEN))
    log = open(root + "/alertmanager.log", "w")
    processes.append(subprocess.Popen([ALERTMANAGER, "--config.file=" + root + "/alertmanager.yml",
                                       "--storage.path=" + root + "/alertmanager", "--cluster.listen-address=",
                                       "--web.listen-address=127.0.0.1:%d" % am_port], stdout=log, stderr=log))
    api = "http://127.0.0.1:%d/api/v2/" % am_port
    wait_for("Alertmanager", lambda: subprocess.run(["curl", "-sf", api + "status"],
                                                    capture_output=True).returncode == 0)
    alert = [{"labels": {"alertname": "DiskFull", "instance": "db7"},
              "annotations": {"summary": "Disk 97% full on db7"}}]
    posted = subprocess.run(["curl", "-sf", "-X", "POST", "-H", "Content-Type: application/json", "-d",
                             json.dumps(alert), api + "alerts"], capture_output=True)
    check(posted.returncode == 0, "posting the alert to Alertmanager: %s" % posted.stderr)

    velmo = build + "/bin/velmo"

    def sms_to(number, folder):
        out = subprocess.run([velmo, "list", "--folder", folder, "--json"], env=env, capture_output=True,
                             text=True).stdout
        return [m for m in json.loads(out or "[]") if number in (m["to"], m["from"])]

    sent = wait_for("the alert's SMS out of Loopback", lambda: sms_to("+491713330001", "sent"), seconds=60)
    shown = json.loads(subprocess.run([velmo, "show", "--json", sent[0]["id"]], env=env, capture_output=True,
                                      text=True).stdout)
    check(shown["text"] == "[FIRING:1] DiskFull: Disk 97% full on db7", "the alert's SMS: %r" % shown["text"])
    echoed = wait_for("Loopback's echo of it", lambda: sms_to("+491713330001", "received"))
    check(len(echoed) == 1, "Loopback echoed %d messages" % len(echoed))


def main(build, source):
    with HttpGateway(build, source) as gateway:
        try:
            http = Http(gateway.port)
            endpoints(http, gateway.env, gateway.root)
            errors(http)
            direct_alert(http)
            refuses_open_tokens(build, gateway.root)
            alertmanager(build, gateway.root, gateway.env, gateway.port, gateway.processes)
        finally:
            if failed:
                gateway.show_logs = True
                if os.path.exists(gateway.root + "/alertmanager.log"):
                    print("alertmanager.log:\n" + open(gateway.root + "/alertmanager.log").read()[-2000:])
    for line in failed:
        print(line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
