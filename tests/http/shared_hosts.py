"""Two gateway hosts sharing one queue in a throwaway PostgreSQL cluster,
each with its own system root, private bus, velmo-http and two modemsim
modems answering after 1 s:
- messages sent through both hosts' velmo-http are each sent once, by the
  modems of both; `velmo list` and GET on either host show every host's
  messages; `velmo devices` and /metrics on either host show every host's
  modems and counts, labelled with the host;
- while PostgreSQL is stopped a Send is refused with 503 and Retry-After,
  and afterwards nothing is lost;
- a host killed with messages in its modems leaves them to the other once
  its leases (10 s) run out: each is sent, at most the ones it held twice,
  and /metrics shows its modems lost.

  shared_hosts.py BUILD SOURCE [MESSAGES]   (default 300; exit 77 without PostgreSQL)"""
import json
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from httpgateway import Http, HttpGateway  # noqa: E402
from pgcluster import PgCluster  # noqa: E402
from velmotest import wait_for  # noqa: E402

failed = []


def check(condition, what):
    if not condition:
        failed.append(what)


def post(gateway, to, text):
    """(status, headers, body) of POST /v1/messages."""
    return Http(gateway.port)("POST", "/v1/messages", "-H", "Content-Type: application/json", "-d",
                              json.dumps({"to": to, "text": text}))


LEASE = 10  # seconds: the lease a killed host's messages wait out


def shared_store(cluster, name):
    """Makes a sandbox's config.xml keep its queue in the cluster as host
    name, with a second modem on COM2 and rules that let either take a
    message."""
    def prepare(root):
        path = root + "/var/lib/velmo/config.xml"
        text = open(path).read()
        text = text.replace('<queue max="0"', '<queue max="0" store="postgresql" connection="%s" host="%s" lease="%ds"'
                            % (cluster.conninfo(), name, LEASE), 1)
        first = re.search(r"<device .*?</device>", text, re.S).group(0)
        second = first.replace('id="1" name="Modem"', 'id="2" name="Modem2"').replace(
            '<param name="Port" value="1"/>', '<param name="Port" value="2"/>')
        text = text.replace(first, first + "\n    " + second).replace(
            '<rules def_device_id="1"/>', '<rules choose="fewest_waiting"><rule match="." device_id="1"/>'
            '<rule match="." device_id="2"/></rules>')
        open(path, "w").write(text)
    return prepare


def submits(host):
    """The SUBMIT lines of every modem of a host, in one list."""
    return [line for t in host.transcripts for line in re.findall(r"^SUBMIT .*$", open(t).read(), re.M)]


def metric(port, name):
    """{labels: value} of one family on a host's /metrics."""
    _, _, page = Http(port)("GET", "/metrics")
    return {m.group(1): float(m.group(2)) for m in re.finditer(r"^%s\{([^}]*)\} (\S+)$" % name, page, re.M)}


def sent_by_host(port):
    """velmo_messages_sent_total summed by host."""
    totals = {}
    for labels, value in metric(port, "velmo_messages_sent_total").items():
        host = re.match(r'host="([^"]*)"', labels)
        if host:
            totals[host.group(1)] = totals.get(host.group(1), 0) + int(value)
    return totals


def velmo_list(build, gateway, folder):
    out = subprocess.run([build + "/bin/velmo", "list", "--folder", folder], env=gateway.env, capture_output=True,
                         text=True).stdout
    return [line.split("\t")[0] for line in out.splitlines() if line]


def sent(cluster):
    n = cluster.psql("SELECT count(*) FROM velmo_messages WHERE folder = 'sent'")
    return int(n) if n else -1


def main(build, source, messages):
    with PgCluster() as cluster:
        if cluster is None:
            print("PostgreSQL's programs are not installed")
            return 77
        hosts = []
        try:
            for name in ("alpha", "beta"):
                hosts.append(HttpGateway(build, source, sandbox=["--device", "gsm"], modem=["--delay=1000"],
                                         modems=2, prepare=shared_store(cluster, name),
                                         service_divisor=10).__enter__())
            alpha, beta = hosts
            ids = []
            for i in range(messages):
                status, _, body = post(hosts[i % 2], "+4917100%04d" % i, "shared %d" % i)
                check(status == 201, "POST %d answered %d %s" % (i, status, body))
                if status == 201:
                    ids.append(json.loads(body)["id"])
            # velmo status --wait on beta for the last messages: those alpha's
            # modems send are settled by a signal on alpha's bus alone.
            waits = [(i, subprocess.Popen([build + "/bin/velmo", "status", "--wait", "--timeout", "%d" % (60 + messages),
                                           i], env=beta.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                          text=True)) for i in ids[-20:]]
            try:
                wait_for("every message sent", lambda: sent(cluster) == messages, 30 + messages, every=1)
            except AssertionError:
                print(cluster.psql("SELECT folder, status, device, lease_host, retries, status_text FROM "
                                   "velmo_messages WHERE folder <> 'sent'"))
                for h in hosts:
                    print(open(h.root + "/service.log").read()[-3000:])
                raise
            by_host = [submits(h) for h in hosts]
            cmgs = [len(s) for s in by_host]
            everything = by_host[0] + by_host[1]
            twice = sorted({s for s in everything if everything.count(s) > 1})
            check(not twice, "sent more than once: %s, by %s" % (twice, [[s in h for s in twice] for h in by_host]))
            check(sum(cmgs) == messages, "the modems sent %s messages for %d: %s" % (
                cmgs, messages, cluster.psql("SELECT id, device, lease_host, retries, status_text FROM velmo_messages "
                                             "WHERE retries > 0 OR status_text IS NOT NULL")))
            check(min(cmgs) >= messages // 4, "both hosts' modems took their share: %s" % cmgs)
            by_alpha = 0
            for i, p in waits:
                try:
                    out, _ = p.communicate(timeout=30)
                except subprocess.TimeoutExpired:
                    p.kill()
                    out, _ = p.communicate()
                    out = "still waiting after every message was sent\n" + out
                check(p.returncode == 0 and out.startswith("SENT\n"), "velmo status --wait %s on beta: %d %s" % (
                    i, p.returncode, out))
                n = ids.index(i)
                by_alpha += any(s.endswith("shared %d" % n) for s in by_host[0])
            check(by_alpha > 0, "none of the messages waited for on beta was sent by alpha")
            for h in hosts:
                listed = velmo_list(build, h, "sent")
                check(sorted(listed) == sorted(ids), "velmo list on one host shows %d of %d" % (len(listed), len(ids)))
            _, _, other = Http(beta.port).json("GET", "/v1/messages/" + ids[0])
            check(other.get("status") == "SENT", "GET on beta of a message sent through alpha: %s" % other)

            # Either host shows every host's modems and what each sent.
            want = {"alpha": cmgs[0], "beta": cmgs[1]}
            for h in hosts:
                try:
                    wait_for("every host's counts on /metrics", lambda: sent_by_host(h.port) == want, 20, every=0.5)
                except AssertionError:
                    check(False, "/metrics counts %s, the modems sent %s" % (sent_by_host(h.port), want))
            out = subprocess.run([build + "/bin/velmo", "devices"], env=beta.env, capture_output=True,
                                 text=True).stdout.splitlines()
            rows = sorted((line.split("\t")[0], line.split("\t")[2]) for line in out[1:] if not line.startswith("\t"))
            check(out and out[0].startswith("HOST\tID\tNAME"), "velmo devices names the host: %s" % out[:1])
            check(rows == [("alpha", "Modem"), ("alpha", "Modem2"), ("beta", "Modem"), ("beta", "Modem2")],
                  "velmo devices on beta shows %s" % rows)

            cluster.stop()
            status, headers, body = post(alpha, "+4917199999", "while the database is away")
            check(status == 503, "a Send while PostgreSQL is away answered %d" % status)
            check(headers.get("retry-after") == "60", "no Retry-After: %s" % headers)
            check("The queue store cannot be reached" in body, "the refusal says why: %s" % body)
            away, _, _ = Http(beta.port)("GET", "/v1/messages/" + ids[0])
            check(away == 503, "GET while PostgreSQL is away answered %d, not 503" % away)
            cluster.start()
            status, _, body = wait_for("a Send once PostgreSQL is back",
                                       lambda: (lambda r: r if r[0] == 201 else None)(post(beta, "+4917188888",
                                                                                           "back")))
            wait_for("the message after the outage", lambda: sent(cluster) == messages + 1, 60, every=0.5)
            lost = re.findall(r"The queue store is lost", open(alpha.root + "/service.log").read())
            check(len(lost) <= 1, "the loss logged once per outage")

            kill_holding_host(cluster, alpha, beta, messages + 1)
        finally:
            for h in reversed(hosts):
                if failed:
                    h.show_logs = True
                h.__exit__(None, None, None)
    for f in failed:
        print("FAILED:", f)
    return 1 if failed else 0


def kill_holding_host(cluster, alpha, beta, before):
    """SIGKILLs beta while its modems hold messages queued through alpha;
    alpha takes them over once their leases run out."""
    extra = 24
    before_submits = len(submits(alpha)) + len(submits(beta))
    for i in range(extra):
        status, _, body = post(alpha, "+4917300%04d" % i, "taken over %d" % i)
        check(status == 201, "POST %d answered %d %s" % (i, status, body))
    wait_for("beta's modems holding messages",
             lambda: cluster.psql("SELECT count(*) FROM velmo_messages WHERE lease_host = 'beta' AND "
                                  "folder = 'queued'") not in ("", "0"), 30, every=0.2)
    beta.service.send_signal(signal.SIGKILL)
    beta.service.wait()
    killed = float(cluster.psql("SELECT extract(epoch FROM now())"))
    held = cluster.psql("SELECT id FROM velmo_messages WHERE lease_host = 'beta' AND folder = 'queued'").split()
    wait_for("every message sent after the kill", lambda: sent(cluster) == before + extra, 60 + extra,
             every=0.5)
    late = cluster.psql("SELECT coalesce(max(extract(epoch FROM finished_at)), 0) FROM velmo_messages WHERE id IN "
                        "(%s)" % ",".join("'%s'" % i for i in held)) if held else "0"
    # Taken over within the lease and one idle check (3 s here), then sent by a 1 s modem.
    check(float(late) - killed <= LEASE + 3 + len(held) + 5,
          "the held messages were sent %.1f s after the kill" % (float(late) - killed))
    everything = submits(alpha) + submits(beta)
    check(len(set(everything)) == before_submits + extra,
          "%d messages SUBMITted, for %d" % (len(set(everything)), before_submits + extra))
    print("beta killed holding %d; sent twice: %d; the last of them sent %.1f s after the kill" % (
        len(held), len(everything) - len(set(everything)), float(late) - killed))
    check(len(everything) - len(set(everything)) <= len(held),
          "%d sent twice, more than the %d beta held" % (len(everything) - len(set(everything)), len(held)))
    try:
        wait_for("beta's modems lost on alpha's /metrics",
                 lambda: all(k.endswith('state="lost"') for k in metric(alpha.port, "velmo_device_up")
                             if k.startswith('host="beta"')) and
                 any(k.startswith('host="beta"') for k in metric(alpha.port, "velmo_device_up")), 30, every=0.5)
    except AssertionError:
        check(False, "beta's modems on alpha's /metrics: %s" % metric(alpha.port, "velmo_device_up"))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 300))
