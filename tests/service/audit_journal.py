#!/usr/bin/python3
"""The audit trail read back from a real journal.

A private systemd-journald runs in a mount namespace of its own (a tmpfs
over /run, so the machine's journal, if any, is not touched). velmosvc runs
there with the GSM device on modemsim and a private system bus, asking for
status reports; one message goes in over the bus, is sent and delivered,
one is dropped into pickup/ and is refused by the network, one is sent and
never delivered, one comes in from the modem. Then journalctl
VELMO_MESSAGE_ID=... must tell each one's life with its fields, and no
message text may be anywhere in the journal.

Usage: audit_journal.py BUILD_DIR SOURCE_DIR. Exit 0 when all holds, 1 with
what did not, 77 (skipped) where a private journal cannot run (not root, no
mount namespaces, no systemd-journald).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from velmotest import start_modem_and_service, stop_all, wait_for  # noqa: E402

JOURNALD = "/lib/systemd/systemd-journald"
SKIP = 77




def outside(build, source):
    """Re-runs this script in a mount namespace of its own."""
    if os.geteuid() != 0 or not os.path.exists(JOURNALD) or not shutil.which("unshare"):
        print("a private journal needs root, unshare and systemd-journald: skipped")
        return SKIP
    probe = subprocess.run(["unshare", "-m", "true"], capture_output=True)
    if probe.returncode != 0:
        print("no mount namespaces here: skipped")
        return SKIP
    env = dict(os.environ, VELMO_AUDIT_INSIDE="1")
    return subprocess.run(["unshare", "-m", "--propagation", "private", sys.executable, __file__, build, source],
                          env=env).returncode


def journal(*matches):
    out = subprocess.run(["journalctl", "-D", "/run/log/journal", "-o", "json", "--no-pager", *matches],
                         capture_output=True, text=True).stdout
    return [json.loads(line) for line in out.splitlines() if line.strip()]


def inside(build, source):
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run"], check=True)
    os.makedirs("/run/systemd/journal")
    os.makedirs("/run/log/journal")
    processes = []
    root = tempfile.mkdtemp(prefix="velmo-audit-")
    try:
        processes.append(subprocess.Popen([JOURNALD], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for("the journal", lambda: os.path.exists("/run/systemd/journal/socket"))

        env = dict(os.environ, VELMO_BUILD_DIR=build, VELMO_SYSROOT=root, VELMO_TEST_TIME_DIVISOR="100")
        subprocess.run([source + "/scripts/sandbox", root, "--device", "gsm", "--param", "StatusReport=1"], env=env,
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run([source + "/scripts/private-bus", root, "start"], env=env, check=True)
        control = start_modem_and_service(build, root, env, "ok,cms:38,ok", processes,
                                          ["--report-status-for=+491711234569=46"])

        velmo = build + "/bin/velmo"
        sent_id = wait_for("velmo send", lambda: subprocess.run(
            [velmo, "send", "+491711234567", "bus secret one"], env=env, capture_output=True, text=True).stdout.strip())
        wait_for("the first to be sent", lambda: os.listdir(root + "/var/lib/velmo/out/sent"))
        subprocess.run([velmo, "drop", "+491711234568", "pickup secret two"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        wait_for("the second to fail", lambda: os.listdir(root + "/var/lib/velmo/out/failed"))
        subprocess.run([velmo, "send", "+491711234569", "undelivered secret four"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        with open(control, "w") as c:
            c.write("deliver +4915112345678 incoming secret three\n")
        wait_for("the received one", lambda: os.listdir(root + "/var/lib/velmo/in"))

        failed = []

        def life(match, expected):
            """The statuses of the message that match names, in order, and its entries."""
            first = wait_for(match, lambda: journal(match))
            mid = first[0]["VELMO_MESSAGE_ID"]
            entries = wait_for(mid, lambda: len(journal("VELMO_MESSAGE_ID=" + mid)) >= len(expected)
                               and journal("VELMO_MESSAGE_ID=" + mid))
            statuses = [e["VELMO_STATUS"] for e in entries]
            if statuses != expected:
                failed.append("%s: %s, expected %s" % (match, statuses, expected))
            return mid, {e["VELMO_STATUS"]: e for e in entries}

        def expect(entry, field, value):
            got = entry.get(field)
            if got != value:
                failed.append("%s %s: %r, expected %r" % (entry.get("VELMO_MESSAGE_ID"), field, got, value))

        mid, by = life("VELMO_RECIPIENT=+491711234567", ["QUEUED", "SENT", "DELIVERED"])
        if mid != sent_id:
            failed.append("velmo send printed %s, the journal names %s" % (sent_id, mid))
        expect(by["QUEUED"], "VELMO_SOURCE", "bus")
        expect(by["QUEUED"], "MESSAGE_ID", "931bcfb37d294032a6aa8350c40b89ff")
        expect(by["QUEUED"], "SYSLOG_IDENTIFIER", "velmosvc")
        expect(by["SENT"], "VELMO_DEVICE", "Modem")
        expect(by["SENT"], "MESSAGE_ID", "2e3c67d14bec4dceab14bdac5e3be810")
        expect(by["SENT"], "MESSAGE", "Message %s sent through device Modem" % mid)
        expect(by["DELIVERED"], "MESSAGE_ID", "eb5df0b2bc0745cca43e79e10c5bc793")
        expect(by["DELIVERED"], "VELMO_DEVICE", "Modem")
        expect(by["DELIVERED"], "MESSAGE",
               "Message %s to +491711234567 delivered, sent through device Modem" % mid)

        mid, by = life("VELMO_RECIPIENT=+491711234569", ["QUEUED", "SENT", "UNDELIVERED"])
        expect(by["UNDELIVERED"], "MESSAGE_ID", "8b9a5427ca0049d4bee18015fc4e39d5")
        expect(by["UNDELIVERED"], "PRIORITY", "4")
        if "SM Validity Period Expired (0x46)" not in by["UNDELIVERED"].get("VELMO_STATUS_TEXT", ""):
            failed.append("UNDELIVERED status text: %r" % by["UNDELIVERED"].get("VELMO_STATUS_TEXT"))

        mid, by = life("VELMO_RECIPIENT=+491711234568", ["QUEUED", "FAILED"])
        expect(by["QUEUED"], "VELMO_SOURCE", "pickup")
        expect(by["FAILED"], "VELMO_DEVICE", "Modem")
        expect(by["FAILED"], "VELMO_STATUS_TEXT", "+CMS ERROR: 38")
        expect(by["FAILED"], "PRIORITY", "4")
        expect(by["FAILED"], "MESSAGE_ID", "8f9fd47b687445f3b1d91c423a6da92c")

        mid, by = life("VELMO_SENDER=+4915112345678", ["RECEIVED"])
        expect(by["RECEIVED"], "VELMO_DEVICE", "Modem")
        expect(by["RECEIVED"], "MESSAGE_ID", "a84b1b3f176240dfaf8b0e2fc0c2a025")
        if os.listdir(root + "/var/lib/velmo/in") != [mid + ".velmo"]:
            failed.append("in/ holds %s, the journal names %s" % (os.listdir(root + "/var/lib/velmo/in"), mid))

        everything = subprocess.run(["journalctl", "-D", "/run/log/journal", "-o", "export", "--no-pager"],
                                    capture_output=True).stdout
        if b"secret" in everything:
            failed.append("a message text is in the journal")
        for line in failed:
            print(line)
        return 1 if failed else 0
    finally:
        stop_all(processes, source, root)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    sys.exit(inside(build, source) if os.environ.get("VELMO_AUDIT_INSIDE") else outside(build, source))
