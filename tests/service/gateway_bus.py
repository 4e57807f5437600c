#!/usr/bin/python3
"""The gateway object from the clients people and scripts use.

velmosvc runs with the GSM device on modemsim and a private system bus.
busctl and gdbus call the gateway, each call its own connection: send,
status, list, get, devices, and the errors. A python-dbus listener hears
a message go from QUEUED to SENT and one come in. Then velmo itself:
status --wait and its exit codes, list, show and devices with and without
--json (the JSON parsed back).

The modem answers the first message with silence (the device gives up
after its response wait and tries again), the second with OK, the third
with +CMS ERROR: 38, so one message stays QUEUED for a while, one is sent
and one fails.

Usage: gateway_bus.py BUILD_DIR SOURCE_DIR. Exit 0 when all holds, 1 with
what did not.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from velmotest import start_modem_and_service, stop_all, wait_for  # noqa: E402

import dbus  # noqa: E402
import dbus.mainloop.glib  # noqa: E402
from gi.repository import GLib  # noqa: E402

NAME = "org.norvane.Velmo"
PATH = "/org/norvane/Velmo/Gateway"
IFACE = "org.norvane.Velmo.IGateway"


class Checks:
    def __init__(self):
        self.failed = []

    def equal(self, what, got, expected):
        if got != expected:
            self.failed.append("%s: %r, expected %r" % (what, got, expected))

    def true(self, what, value):
        if not value:
            self.failed.append(what)


def busctl(env, *args):
    return subprocess.run(["busctl", "--system", "--json=short", "call", NAME, PATH, IFACE, *map(str, args)],
                          env=env, capture_output=True, text=True)


def busctl_data(env, *args):
    """The reply's values, parsed from busctl's JSON."""
    r = busctl(env, *args)
    if r.returncode != 0:
        raise AssertionError("busctl %s: %s" % (" ".join(map(str, args)), r.stderr.strip()))
    return json.loads(r.stdout)["data"]


def gdbus(env, method, *args):
    return subprocess.run(["gdbus", "call", "--system", "--dest", NAME, "--object-path", PATH,
                           "--method", IFACE + "." + method, *args], env=env, capture_output=True, text=True)


class Listener:
    """The gateway's signals, heard by python-dbus on a connection of its own."""

    def __init__(self, address):
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        self.events = []
        self.lock = threading.Lock()
        self.bus = dbus.bus.BusConnection(address)
        self.bus.add_signal_receiver(self.status, "StatusChanged", IFACE, None, PATH)
        self.bus.add_signal_receiver(self.received, "Received", IFACE, None, PATH)
        self.loop = GLib.MainLoop()
        self.thread = threading.Thread(target=self.loop.run, daemon=True)
        self.thread.start()

    def status(self, mid, status, text):
        with self.lock:
            self.events.append(("StatusChanged", str(mid), str(status), str(text)))

    def received(self, mid, sender, device):
        with self.lock:
            self.events.append(("Received", str(mid), str(sender), str(device)))

    def of(self, mid):
        with self.lock:
            return [e for e in self.events if e[1] == mid]

    def stop(self):
        self.loop.quit()


def bus_api(env, root, listener, control, check):
    """busctl and gdbus against the gateway; returns the ids (silent, sent, failed)."""
    intro = subprocess.run(["busctl", "--system", "introspect", "--xml-interface", NAME, PATH], env=env,
                           capture_output=True, text=True).stdout
    for member in ("Send", "SendExpiring", "Status", "List", "Get", "Devices", "Deliveries", "StatusChanged",
                   "Received"):
        check.true("introspection names " + member, 'name="%s"' % member in intro)
    check.true("introspection names the arguments", 'name="statusText"' in intro)

    slow = busctl_data(env, "Send", "ss", "+491710000001", "first, answered with silence")[0]
    wait_for("the first message's QUEUED signal", lambda: listener.of(slow))
    check.equal("status of a message in flight", busctl_data(env, "Status", "s", slow)[0], "QUEUED")
    queued = busctl_data(env, "List", "sus", "queued", 0, "")
    check.equal("the queued listing", [m[0] for m in queued[0]], [slow])
    check.equal("the queued listing's recipient", queued[0][0][2], "+491710000001")

    sent = wait_for("the first to be sent", lambda: [e for e in listener.of(slow) if e[2] == "SENT"])
    check.equal("the first message's signals", [e[2] for e in listener.of(slow)], ["QUEUED", "SENT"])
    check.true("the SENT signal carries the status text", "No answer from the modem" in sent[0][3])

    # gdbus for the second, so the other client speaks the same API.
    out = gdbus(env, "Send", "+491710000002", "second")
    check.equal("gdbus Send", out.returncode, 0)
    second = out.stdout.strip().strip("(),").strip("'")
    wait_for("the second to be sent", lambda: [e for e in listener.of(second) if e[2] == "SENT"])
    out = gdbus(env, "Status", second)
    check.true("gdbus Status says SENT: " + out.stdout, out.stdout.startswith("('SENT', "))

    third = busctl_data(env, "Send", "ss", "+491710000003", "third")[0]
    wait_for("the third to fail", lambda: [e for e in listener.of(third) if e[2] == "FAILED"])
    status = busctl_data(env, "Status", "s", third)
    check.equal("status of the failed one", status[:2], ["FAILED", "+CMS ERROR: 38"])
    check.true("a date in ISO 8601 UTC: " + status[2], len(status[2]) == 20 and status[2].endswith("Z"))

    message = busctl_data(env, "Get", "s", second)[0]
    got = {k: v["data"] for k, v in message.items()}
    check.equal("Get: to, text, folder, status, retries",
                (got["to"], got["text"], got["folder"], got["status"], got["retries"]),
                ("+491710000002", "second", "sent", "SENT", 0))
    check.equal("Get's fields", sorted(got), sorted(["id", "folder", "status", "to", "from", "text", "statusText",
                                                     "created", "completed", "received", "retries", "accepted",
                                                     "discharged"]))
    check.equal("no report, no report times", (got["accepted"], got["discharged"]), ("", ""))
    deliveries = busctl_data(env, "Deliveries")
    check.equal("Deliveries without reports: counts, bounds, sum, count",
                (deliveries[0], len(deliveries[1]), deliveries[3], deliveries[4]), ([["Modem", 0, 0]], 10, 0.0, 0))

    # Pages of one: newest first, every message once, then no cursor.
    seen, cursor = [], ""
    for _ in range(5):
        page, cursor = busctl_data(env, "List", "sus", "sent", 1, cursor)
        seen += [m[0] for m in page]
        if not cursor:
            break
    check.equal("the sent folder a page at a time", seen, [second, slow])

    with open(control, "w") as c:
        c.write("deliver +4915112345678 incoming over the air\n")
    heard = wait_for("the Received signal", lambda: [e for e in listener.events if e[0] == "Received"])
    check.equal("the Received signal's sender and device", heard[0][2:], ("+4915112345678", "Modem"))
    received = busctl_data(env, "List", "sus", "received", 10, "")[0]
    check.equal("the received listing", [(m[0], m[1], m[3]) for m in received],
                [(heard[0][1], "RECEIVED", "+4915112345678")])

    devices = busctl_data(env, "Devices")[0]
    check.equal("Devices", devices, [[1, "Modem", "running", 20, "home", "Norvane Mobile"]])
    details = busctl_data(env, "DeviceDetails")[0]
    check.equal("DeviceDetails", [{k: v["data"] for k, v in d.items() if k != "port"} for d in details],
                [{"id": 1, "name": "Modem", "state": "running", "signal": 20, "registration": "home",
                  "operator": "Norvane Mobile", "lastError": "", "nextTry": "", "failedStarts": 0,
                  "manufacturer": "Norvane", "model": "modemsim", "revision": "1.0", "imei": "356938035643809",
                  "imsi": "262019876543210", "smsc": "+491710760000", "storages": "SM", "notification": "1,2"}])
    check.true("DeviceDetails names the port and its tty",
               details and details[0]["port"]["data"].startswith("COM1: (") and "/dev/ttyS0)" in details[0]["port"]["data"])

    errors = [
        (("Status", "s", "not-an-id"), "InvalidArgs"),
        (("Status", "s", "{00000000-0000-0000-0000-000000000001}"), "NotFound"),
        (("Get", "s", "{00000000-0000-0000-0000-000000000001}"), "NotFound"),
        (("List", "sus", "elsewhere", 0, ""), "InvalidArgs"),
        (("List", "sus", "sent", 0, "no cursor"), "InvalidArgs"),
        (("Send", "ss", "", "no recipient"), "InvalidArgs"),
        (("Send", "ss", "+49171", "x" * 40001), "InvalidArgs"),
        (("SendExpiring", "sss", "+49171", "x", "soon"), "InvalidArgs"),
        (("SendExpiring", "sss", "+49171", "x", "0s"), "InvalidArgs"),
    ]
    for args, name in errors:
        r = busctl(env, *args)
        check.true("%s %s fails" % (args[0], args[2][:20]), r.returncode != 0)
    # busctl does not print the error's name; gdbus does.
    for method, args, name in [("Status", ["nope"], "org.freedesktop.DBus.Error.InvalidArgs"),
                               ("Get", ["{00000000-0000-0000-0000-000000000001}"], "org.norvane.Velmo.Error.NotFound")]:
        r = gdbus(env, method, *args)
        check.true("gdbus %s gives %s: %s" % (method, name, r.stderr.strip()), name in r.stderr)
    return slow, second, third


def velmo_program(env, build, ids, check):
    velmo = build + "/bin/velmo"

    def run(*args):
        return subprocess.run([velmo, *args], env=env, capture_output=True, text=True)

    slow, second, third = ids
    r = run("status", "--wait", "--timeout", "20", second)
    check.equal("status --wait on a sent message", (r.returncode, r.stdout.splitlines()[0]), (0, "SENT"))
    r = run("status", "--wait", third)
    check.equal("status --wait on a failed message", (r.returncode, r.stdout.splitlines()[:1]), (1, ["FAILED"]))
    r = run("status", "--wait", "--timeout", "5", "{00000000-0000-0000-0000-000000000001}")
    check.equal("status --wait on an unknown id", (r.returncode, r.stdout), (3, "NOT_FOUND\n"))

    # velmo watch follows the fourth message, as text and as JSON lines.
    watchers = {}
    for form in ("text", "json"):
        out = open(os.path.join(os.environ.get("TMPDIR", "/tmp"), "velmo-watch-%d-%s" % (os.getpid(), form)), "w+")
        args = [velmo, "watch"] + (["--json"] if form == "json" else [])
        watchers[form] = (subprocess.Popen(args, env=env, stdout=out, stderr=subprocess.PIPE, text=True), out)
        wait_for("velmo watch to listen", lambda: "watching" in watchers[form][0].stderr.readline())

    # The fourth message meets silence again: it stays QUEUED past a short wait, then is sent.
    fourth = run("send", "+491710000004", "fourth").stdout.strip()
    r = run("status", "--wait", "--timeout", "1", fourth)
    check.equal("status --wait times out", (r.returncode, r.stdout), (124, ""))
    check.true("the time-out is told: " + r.stderr, "still QUEUED after 1 s" in r.stderr)
    r = run("status", "--wait", "--json", fourth)
    check.equal("status --wait until sent", r.returncode, 0)
    check.equal("status --json", json.loads(r.stdout)["status"] if r.returncode == 0 else None, "SENT")

    for form, (process, out) in watchers.items():
        def lines(out=out):
            out.seek(0)
            return out.read().splitlines()
        wait_for("velmo watch --%s to see it sent" % form, lambda: any(fourth in line and "SENT" in line
                                                                        for line in lines()))
        process.terminate()
        process.wait(10)
        seen = [line for line in lines() if fourth in line]
        if form == "text":
            check.equal("velmo watch", [line.split(" ")[1:3] for line in seen], [["QUEUED", fourth], ["SENT", fourth]])
            check.true("velmo watch prints the status text: %s" % seen, "No answer from the modem" in seen[-1])
        else:
            events = [json.loads(line) for line in seen]
            check.equal("velmo watch --json", [(e["event"], e["status"]) for e in events],
                        [("status", "QUEUED"), ("status", "SENT")])
            check.true("velmo watch --json gives the time", all(e["time"].endswith("Z") for e in events))
        out.close()
        os.unlink(out.name)

    r = run("list", "--folder", "sent")
    check.equal("list: ids, newest first", [line.split("\t")[0] for line in r.stdout.splitlines()],
                [fourth, second, slow])
    check.equal("list: a line", r.stdout.splitlines()[-1].split("\t")[1::2], ["SENT", "+491710000001"])
    r = run("list", "--folder", "sent", "--limit", "2", "--json")
    check.equal("list --limit 2 --json", [m["id"] for m in json.loads(r.stdout)], [fourth, second])
    r = run("list", "--folder", "failed", "--json")
    check.equal("list --folder failed --json", [(m["id"], m["to"]) for m in json.loads(r.stdout)],
                [(third, "+491710000003")])
    r = run("list", "--json")
    check.equal("list --json of an empty queue", json.loads(r.stdout), [])

    r = run("show", third)
    lines = dict(line.split(": ", 1) for line in r.stdout.splitlines() if ": " in line)
    check.equal("show", (lines.get("status"), lines.get("to"), lines.get("text"), lines.get("status text")),
                ("FAILED", "+491710000003", "third", "+CMS ERROR: 38"))
    r = run("show", "--json", third)
    shown = json.loads(r.stdout)
    check.equal("show --json", (shown["status"], shown["folder"], shown["received"], shown["retries"]),
                ("FAILED", "failed", None, 0))

    r = run("devices")
    check.equal("devices", r.stdout.splitlines()[:3], [
        "ID\tNAME\tSTATE\tSIGNAL\tREGISTRATION\tOPERATOR",
        "1\tModem\trunning\t-73 dBm\thome\tNorvane Mobile",
        "\tmodem: Norvane modemsim, revision 1.0, IMEI 356938035643809, IMSI 262019876543210"])
    check.true("devices: the set-up line", len(r.stdout.splitlines()) == 4 and r.stdout.splitlines()[3].endswith(
        ", service centre +491710760000, storages SM, notification 1,2"))
    r = run("devices", "--json")
    listed = json.loads(r.stdout)
    check.equal("devices --json", [{k: v for k, v in d.items() if k != "port"} for d in listed],
                [{"id": 1, "name": "Modem", "state": "running", "signal": 20, "signalDbm": -73,
                  "registration": "home", "operator": "Norvane Mobile", "lastError": None, "nextTry": None,
                  "failedStarts": 0, "manufacturer": "Norvane", "model": "modemsim", "revision": "1.0",
                  "imei": "356938035643809", "imsi": "262019876543210", "smsc": "+491710760000",
                  "storages": "SM", "notification": "1,2"}])

    for args, code, text in [(["list", "--folder", "elsewhere"], 1, "is not a folder"),
                             (["list", "--limit", "0"], 2, "usage: velmo list"),
                             (["status", "--timeout", "3", second], 2, "--timeout needs --wait"),
                             (["show"], 2, "usage: velmo show"),
                             (["show", "{00000000-0000-0000-0000-000000000001}"], 3, "No message"),
                             (["devices", "--bogus"], 2, "unknown option --bogus")]:
        r = run(*args)
        check.equal("velmo %s" % " ".join(args), (r.returncode, text in r.stderr), (code, True))


def modems_held(env, build, root, check):
    """velmo modems leaves the line of the running service alone and says who holds it."""
    line = root + "/dev/ttyS0"
    r = subprocess.run([build + "/bin/velmo", "modems", line], env=env, capture_output=True, text=True)
    check.equal("velmo modems on the service's line: %r" % r.stdout,
                (r.returncode, r.stdout.startswith(line + ": skipped, held by "), "velmosvc (pid " in r.stdout),
                (1, True, True))


COMPLETE = """source /usr/share/bash-completion/bash_completion
source "$1"
shift
COMP_WORDS=("$@"); COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 )); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
_velmo velmo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\\n' "${COMPREPLY[@]}"
"""


def completion(env, build, source, ids, check):
    """The bash completion the package installs, asked as bash asks it."""
    env = dict(env, PATH=build + "/bin:" + env["PATH"])

    def complete(*words):
        r = subprocess.run(["bash", "-c", COMPLETE, "complete", source + "/packaging/velmo.bash-completion", *words],
                           env=env, capture_output=True, text=True)
        return sorted(r.stdout.split())

    check.equal("complete a command", complete("velmo", "de"), ["devices"])
    check.equal("complete modems options", complete("velmo", "modems", "--"), ["--comm", "--json"])
    check.equal("complete a folder", complete("velmo", "list", "--folder", "f"), ["failed"])
    check.equal("complete status options", complete("velmo", "status", "--"),
                ["--host", "--json", "--timeout", "--wait"])
    # The three of bus_api, the fourth of velmo_program and the received one.
    got = complete("velmo", "show", "{")
    check.true("complete identifiers: %s" % got, set(ids) <= set(got) and len(got) == 5)


def main(build, source):
    processes = []
    root = tempfile.mkdtemp(prefix="velmo-gateway-")
    check = Checks()
    listener = None
    try:
        env = dict(os.environ, VELMO_BUILD_DIR=build, VELMO_SYSROOT=root, VELMO_TEST_TIME_DIVISOR="20")
        subprocess.run([source + "/scripts/sandbox", root, "--device", "gsm"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([source + "/scripts/private-bus", root, "start"], env=env, check=True,
                       stderr=subprocess.DEVNULL)
        address = "unix:path=" + root + "/run/dbus/system_bus_socket"
        env["DBUS_SYSTEM_BUS_ADDRESS"] = address
        control = start_modem_and_service(build, root, env, "silent,ok,ok,cms:38,silent,ok", processes)
        listener = Listener(address)
        ids = bus_api(env, root, listener, control, check)
        velmo_program(env, build, ids, check)
        completion(env, build, source, ids, check)
        modems_held(env, build, root, check)
    finally:
        if listener:
            listener.stop()
        stop_all(processes, source, root)
        shutil.rmtree(root, ignore_errors=True)
    for line in check.failed:
        print(line)
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
