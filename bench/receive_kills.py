#!/usr/bin/env python3
"""Received messages across kills: a timed program that prints its figures.

For each CNMI setting, velmosvc runs with the GSM device on modemsim in a
temporary system root (waits divided by 10) and is killed with SIGKILL at
a random moment, again and again, while messages keep arriving (single and
three-part ones); after the last kill it runs to the end. Then every
message delivered is looked for in in/: lost (never stored) and duplicated
(stored more than once), per 100 kills. A handler script (0.2 s a message)
records the VELMO_ID of every message it is offered: a stored message it
never saw is an offer lost.

    bench/receive_kills.py BUILD_DIR [KILLS [SEED]] [--check]
        (default 30 kills, seed 1; --check: exit 1 when anything was lost)
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "python"))
from velmotest import wait_for  # noqa: E402


def stored_in(root):
    """The messages in in/, as (id, text) with the text as msgview shows it."""
    folder = root + "/var/lib/velmo/in"
    stored = []
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".velmo"):
            continue
        out = subprocess.run([BUILD + "/bin/msgview", folder + "/" + name], capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith("Body:"):
                stored.append((name[:-len(".velmo")], line.split(":", 1)[1].strip()))
    return stored


def campaign(cnmi, kills, rng):
    root = tempfile.mkdtemp(prefix="velmo-kills-")
    env = dict(os.environ, VELMO_BUILD_DIR=BUILD, VELMO_SYSROOT=root, VELMO_TEST_TIME_DIVISOR="10")
    subprocess.run([SOURCE + "/scripts/sandbox", root, "--device", "gsm", "--cnmi", cnmi], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    offered = root + "/offered"
    handler = root + "/var/lib/velmo/handlers.d/10-count"
    with open(handler, "w") as h:
        h.write("#!/bin/sh\necho \"$VELMO_ID\" >> '%s'\nsleep 0.2\nexit 0\n" % offered)
    os.chmod(handler, 0o755)
    control = root + "/modem.ctl"
    transcript = root + "/transcript"
    sim = subprocess.Popen([BUILD + "/bin/modemsim", "--link=" + root + "/dev/ttyS0", "--control=" + control,
                            "--transcript=" + transcript, "--cnma-wait=2000"], stdout=subprocess.DEVNULL, env=env)
    wait_for("the modem", lambda: os.path.exists(control))
    sent = []
    n = 0

    def deliver():
        nonlocal n
        n += 1
        long = n % 5 == 0
        text = "m%04d " % n + ("part of a long one " * 12 if long else "short")
        sent.append(text.strip())
        with open(control, "w") as c:
            c.write("deliver +49151%07d %s\n" % (n, text))

    for _ in range(kills):
        svc = subprocess.Popen([BUILD + "/bin/velmosvc", "/DEBUG"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        end = time.time() + rng.uniform(0.2, 1.5)
        while time.time() < end:
            deliver()
            time.sleep(rng.uniform(0.02, 0.2))
        svc.send_signal(signal.SIGKILL)
        svc.wait()
    # The last run: everything still waiting (in the modem, on the line, in
    # the spool, or with the network) has time to come in.
    svc = subprocess.Popen([BUILD + "/bin/velmosvc", "/DEBUG"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    stable, last = 0, -1
    while stable < 8:
        time.sleep(1)
        count = len(os.listdir(root + "/var/lib/velmo/in"))
        stable = stable + 1 if count == last else 0
        last = count
    svc.send_signal(signal.SIGTERM)
    svc.wait()
    sim.send_signal(signal.SIGTERM)
    sim.wait()
    stored = stored_in(root)
    texts = [t for _, t in stored]
    lost = sum(1 for t in sent if t not in texts)
    duplicated = sum(texts.count(t) - 1 for t in sent if texts.count(t) > 1)
    seen = set(open(offered).read().split()) if os.path.exists(offered) else set()
    missed = sum(1 for i, _ in stored if i not in seen)
    shutil.rmtree(root, ignore_errors=True)
    print("CNMI %s: %d kills, %d messages delivered (every fifth in parts): %d lost, %d duplicated, %d never "
          "offered to the handler; per 100 kills %.1f lost, %.1f duplicated, %.1f offers lost"
          % (cnmi, kills, len(sent), lost, duplicated, missed, 100.0 * lost / kills, 100.0 * duplicated / kills,
             100.0 * missed / kills))
    return lost + missed


if __name__ == "__main__":
    check = "--check" in sys.argv
    args = [a for a in sys.argv[1:] if a != "--check"]
    BUILD = os.path.abspath(args[0])
    kills = int(args[1]) if len(args) > 1 else 30
    rng = random.Random(int(args[2]) if len(args) > 2 else 1)
    failures = sum(campaign(cnmi, kills, rng) for cnmi in ("2,1", "1,1", "1,2"))
    sys.exit(1 if check and failures else 0)
