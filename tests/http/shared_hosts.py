"""Two gateway hosts sharing one queue in a throwaway PostgreSQL cluster,
each with its own system root, private bus, velmo-http and modemsim modem
answering after 1 s: messages sent through both hosts' velmo-http are each
sent once, by the modems of both; `velmo list` and GET on either host show
every host's messages; while PostgreSQL is stopped a Send is refused with
503 and Retry-After, and afterwards nothing is lost.

  shared_hosts.py BUILD SOURCE [MESSAGES]   (default 40; exit 77 without PostgreSQL)"""
import json
import os
import re
import subprocess
import sys

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


def shared_store(cluster, name):
    """Makes a sandbox's config.xml keep its queue in the cluster as host name."""
    def prepare(root):
        path = root + "/var/lib/velmo/config.xml"
        text = open(path).read()
        text = text.replace('<queue max="0"', '<queue max="0" store="postgresql" connection="%s" host="%s"'
                            % (cluster.conninfo(), name), 1)
        open(path, "w").write(text)
    return prepare


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
                                         prepare=shared_store(cluster, name), service_divisor=10).__enter__())
            alpha, beta = hosts
            ids = []
            for i in range(messages):
                status, _, body = post(hosts[i % 2], "+4917100%04d" % i, "shared %d" % i)
                check(status == 201, "POST %d answered %d %s" % (i, status, body))
                if status == 201:
                    ids.append(json.loads(body)["id"])
            try:
                wait_for("every message sent", lambda: sent(cluster) == messages, 30 + messages)
            except AssertionError:
                print(cluster.psql("SELECT folder, status, device, lease_host, retries, status_text FROM "
                                   "velmo_messages WHERE folder <> 'sent'"))
                for h in hosts:
                    print(open(h.root + "/service.log").read()[-3000:])
                raise
            submits = [re.findall(r"^SUBMIT .*$", open(h.transcript).read(), re.M) for h in hosts]
            cmgs = [len(s) for s in submits]
            everything = submits[0] + submits[1]
            twice = sorted({s for s in everything if everything.count(s) > 1})
            check(not twice, "sent more than once: %s, by %s" % (twice, [[s in h for s in twice] for h in submits]))
            check(sum(cmgs) == messages, "the modems sent %s messages for %d: %s" % (
                cmgs, messages, cluster.psql("SELECT id, device, lease_host, retries, status_text FROM velmo_messages "
                                             "WHERE retries > 0 OR status_text IS NOT NULL")))
            check(min(cmgs) >= messages // 4, "both hosts' modems took their share: %s" % cmgs)
            for h in hosts:
                listed = velmo_list(build, h, "sent")
                check(sorted(listed) == sorted(ids), "velmo list on one host shows %d of %d" % (len(listed), len(ids)))
            _, _, other = Http(beta.port).json("GET", "/v1/messages/" + ids[0])
            check(other.get("status") == "SENT", "GET on beta of a message sent through alpha: %s" % other)

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
            wait_for("the message after the outage", lambda: sent(cluster) == messages + 1, 60)
            lost = re.findall(r"The queue store is lost", open(alpha.root + "/service.log").read())
            check(len(lost) <= 1, "the loss logged once per outage")
        finally:
            for h in reversed(hosts):
                if failed:
                    h.show_logs = True
                h.__exit__(None, None, None)
    for f in failed:
        print("FAILED:", f)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 40))
