#!/usr/bin/python3
"""The Debian package, built, checked and installed into a throwaway root.

cpack builds the package from the build tree and lintian must report no
error. dpkg-deb unpacks it into a root and its postinst runs there under
VELMO_SYSROOT, as dpkg would run it: the user velmo, the folders with their
owners and modes, the unit (its sandbox rated by systemd-analyze), the bus
files and the registrations must be what the package promises.

Then, in a mount namespace of its own (so the machine's /etc/passwd is not
touched), the root's passwd and group gain two users, alice in the group
velmo and mallory outside it, and are mounted over the machine's. A private
bus reads the root's policy; the installed velmosvc runs as velmo with the
loopback device. alice may send, drop and read the messages; mallory is
refused by the bus and by the file modes; a Body over the limit and one
object over a connection's limit are refused and the service goes on.

A second postinst (an upgrade) must keep the configuration and the unit.
Last prerm and postrm (remove, then purge) must take back every
registration and leave the messages.

Usage: package_install.py BUILD_DIR SOURCE_DIR. Exit 0 when all holds, 1
with what did not, 77 (skipped) without root, mount namespaces, cpack,
dpkg-deb or lintian.
"""
import grp
import json
import os
import pwd
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from velmotest import stop_all, wait_for  # noqa: E402

SKIP = 77
LOOPBACK = "{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}"
failed = []


def check(ok, what):
    if not ok:
        failed.append(what)
    return ok




def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def build_and_lint(build, work):
    out = run(["cpack", "-G", "DEB", "--config", build + "/CPackConfig.cmake", "-B", work])
    if out.returncode != 0:
        raise AssertionError("cpack failed:\n" + out.stdout + out.stderr)
    debs = [f for f in os.listdir(work) if f.endswith(".deb")]
    if len(debs) != 1:
        raise AssertionError("cpack made %s" % debs)
    deb = os.path.join(work, debs[0])
    lint = run(["lintian", "--allow-root", deb])
    errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
    check(not errors and lint.returncode == 0, "lintian: %s" % (errors or lint.stdout + lint.stderr))
    return deb


def unpack(deb, root):
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    control = root + "/DEBIAN"
    subprocess.run(["dpkg-deb", "-e", deb, control], check=True)
    for f in ["usr/sbin/velmosvc", "usr/sbin/regsvr", "usr/bin/velmo", "usr/bin/msgview", "usr/bin/devtest",
              "usr/lib/velmo/libvelmo_platform.so", "usr/lib/velmo/Cellgate.so", "usr/lib/tmpfiles.d/velmo.conf",
              "usr/lib/sysusers.d/velmo.conf", "usr/share/velmo/config.xml", "usr/share/man/man8/velmosvc.8.gz",
              "usr/share/man/man5/config.xml.5.gz", "usr/share/doc/velmo/copyright",
              "usr/share/bash-completion/completions/velmo", "usr/sbin/velmo-http", "usr/share/velmo/http.conf",
              "usr/lib/systemd/system/velmo-http.service", "usr/share/man/man8/velmo-http.8.gz"]:
        check(os.path.isfile(os.path.join(root, f)), "the package lacks " + f)
    for f in ["usr/bin/modemsim", "usr/lib/libvelmo_platform.so", "usr/bin/velmosvc"]:
        check(not os.path.exists(os.path.join(root, f)), "the package holds " + f)
    sections = run(["readelf", "-S", root + "/usr/sbin/velmosvc"]).stdout
    check(".debug_info" not in sections and ".symtab" not in sections, "velmosvc is not stripped")
    return control


def messages(folder):
    """The message files of a queue folder, without the temporary files of a write."""
    return sorted(f for f in os.listdir(folder) if f.endswith(".velmo") and not f.startswith("."))


def mode_owner(path):
    st = os.lstat(path)
    return stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid


def install(root, control):
    # The root's user database starts as the machine's, so the ids that
    # sysusers gives velmo are free on the machine too.
    os.makedirs(root + "/etc", exist_ok=True)
    for f in ["passwd", "group"]:
        shutil.copy("/etc/" + f, root + "/etc/" + f)
    env = dict(os.environ, VELMO_SYSROOT=root)
    out = run([control + "/postinst", "configure"], env=env)
    check(out.returncode == 0, "postinst configure: %s%s" % (out.stdout, out.stderr))
    check(out.stdout == "Service installed\n", "postinst printed %r" % out.stdout)

    users = {line.split(":")[0]: line.split(":") for line in open(root + "/etc/passwd")}
    groups = {line.split(":")[0]: line.split(":") for line in open(root + "/etc/group")}
    if not check("velmo" in users and "velmo" in groups, "sysusers made no user velmo"):
        return None
    uid, gid = int(users["velmo"][2]), int(groups["velmo"][2])
    check("velmo" in groups["dialout"][3].strip().split(","), "velmo is not in dialout")

    base = root + "/var/lib/velmo"
    for folder, mode, owner in [("", 0o750, (uid, gid)), ("/out", 0o750, (uid, gid)),
                                ("/out/sent", 0o750, (uid, gid)), ("/out/failed", 0o750, (uid, gid)),
                                ("/in", 0o750, (uid, gid)), ("/bad", 0o750, (uid, gid)),
                                ("/pgjournal", 0o750, (uid, gid)),
                                ("/pickup", 0o3770, (uid, gid)), ("/handlers.d", 0o755, (0, 0)),
                                ("/config.xml", 0o640, (0, gid)), ("/devices.xml", 0o644, (0, 0))]:
        got = mode_owner(base + folder)
        check(got == (mode, *owner), "%s: %o %d:%d, expected %o %d:%d" % (folder or "/", *got, mode, *owner))

    unit_path = root + "/etc/systemd/system/velmosvc.service"
    unit = open(unit_path).read()
    for line in ['ExecStart="%s/usr/sbin/velmosvc"' % root, "User=velmo", "Group=velmo",
                 "SupplementaryGroups=dialout", "ProtectSystem=strict", 'ReadWritePaths="%s/"' % base,
                 "NoNewPrivileges=yes", "CapabilityBoundingSet=", "SystemCallFilter=@system-service",
                 "PrivateTmp=yes", "ProtectHome=yes"]:
        check(line + "\n" in unit, "the unit lacks " + line)
    verify_unit(unit_path, "velmosvc.service")

    policy = open(root + "/etc/dbus-1/system.d/org.norvane.Velmo.conf").read()
    check('<policy group="velmo">' in policy and '<deny send_destination="org.norvane.Velmo"/>' in policy,
          "bus policy: " + policy)
    activation = open(root + "/usr/share/dbus-1/system-services/org.norvane.Velmo.service").read()
    check("User=velmo\n" in activation, "activation: " + activation)
    registry = open(root + "/etc/velmo/system.reg").read()
    for key in ["Velmo.NewSMS", "{852F907B-3A8B-4CF5-B19D-8B813B2F7367}", LOOPBACK, root + "/usr/lib/velmo/"]:
        check(key.lower() in registry.lower(), "the registry lacks " + key)
    catalogue = open(base + "/devices.xml").read()
    check("Cellgate" in catalogue, "catalogue: " + catalogue)
    http_user(root, users, groups)
    return uid, gid


def http_user(root, users, groups):
    """velmo-http's user, in the group velmo; its configuration; its token
    file with one fresh token, readable by it alone; its unit."""
    if not check("velmo-http" in users, "sysusers made no user velmo-http"):
        return
    check("velmo-http" in groups["velmo"][3].strip().split(","), "velmo-http is not in the group velmo")
    ids = (int(users["velmo-http"][2]), int(groups["velmo-http"][2]))
    tokens = root + "/etc/velmo/http-tokens"
    check(mode_owner(tokens) == (0o600, *ids), "http-tokens: %o %d:%d" % mode_owner(tokens))
    token = [line.split()[0] for line in open(tokens) if line.strip() and not line.startswith("#")]
    check(len(token) == 1 and len(token[0]) == 48, "http-tokens holds %r" % token)
    check(mode_owner(root + "/etc/velmo/http.conf")[0] == 0o644, "http.conf's mode")
    # Verified as installed, but for its program's path, which is in the root here.
    unit = root + "/velmo-http.service"
    with open(unit, "w") as f:
        f.write(open(root + "/usr/lib/systemd/system/velmo-http.service").read()
                .replace("ExecStart=/usr/sbin/", "ExecStart=" + root + "/usr/sbin/"))
    verify_unit(unit, "velmo-http.service")


def verify_unit(path, name):
    """systemd-analyze finds nothing wrong with the unit, and rates its
    exposure at 3.0 or under."""
    verify = run(["systemd-analyze", "verify", "--man=no", path])
    check(verify.returncode == 0 and not verify.stderr.strip(), "systemd-analyze verify %s: %s" % (name,
                                                                                                  verify.stderr))
    security = run(["systemd-analyze", "security", "--offline=true", path])
    score = re.search(r"Overall exposure level for %s: ([0-9.]+)" % re.escape(name), security.stdout)
    if check(score, "systemd-analyze security %s: %s%s" % (name, security.stdout[-300:], security.stderr)):
        print("systemd-analyze security %s: %s" % (name, score.group(1)))
        check(float(score.group(1)) <= 3.0, "%s: exposure %s is over 3.0" % (name, score.group(1)))


def outside(build, source):
    if os.geteuid() != 0:
        print("installing the package needs root: skipped")
        return SKIP
    for tool in ["cpack", "dpkg-deb", "lintian", "unshare", "setpriv", "dbus-daemon", "systemd-analyze"]:
        if not shutil.which(tool):
            print(tool + " is missing: skipped")
            return SKIP
    if run(["unshare", "-m", "true"]).returncode != 0:
        print("no mount namespaces here: skipped")
        return SKIP
    work = tempfile.mkdtemp(prefix="velmo-package-")
    os.chmod(work, 0o755)
    try:
        deb = build_and_lint(build, work + "/out")
        root = work + "/root"
        os.makedirs(root)
        control = unpack(deb, root)
        ids = install(root, control)
        if ids:
            env = dict(os.environ, VELMO_PACKAGE_INSIDE="1")
            code = subprocess.run(["unshare", "-m", "--propagation", "private", sys.executable, __file__, build,
                                   source, root], env=env).returncode
            check(code == 0, "the installed service, inside the namespace, exit %d" % code)
            reinstall(root, control)
            uninstall(root, control)
        for line in failed:
            print(line)
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def reinstall(root, control):
    """A second configure (an upgrade) keeps the administrator's
    configuration, the unit and the registry's root value, and is quiet."""
    files = ["var/lib/velmo/config.xml", "etc/systemd/system/velmosvc.service"]
    before = [open(os.path.join(root, f)).read() for f in files]
    out = run([control + "/postinst", "configure", "1.0.0-1"], env=dict(os.environ, VELMO_SYSROOT=root))
    check(out.returncode == 0 and out.stdout == "", "postinst again: %d %r %r" % (out.returncode, out.stdout,
                                                                                 out.stderr))
    check([open(os.path.join(root, f)).read() for f in files] == before, "postinst again changed " + str(files))


def uninstall(root, control):
    env = dict(os.environ, VELMO_SYSROOT=root)
    message = messages(root + "/var/lib/velmo/out/sent")
    for script, arg in [("prerm", "remove"), ("postrm", "remove"), ("postrm", "purge")]:
        out = run([control + "/" + script, arg], env=env)
        check(out.returncode == 0, "%s %s: %s%s" % (script, arg, out.stdout, out.stderr))
    for gone in ["etc/systemd/system/velmosvc.service", "etc/dbus-1/system.d/org.norvane.Velmo.conf",
                 "usr/share/dbus-1/system-services/org.norvane.Velmo.service", "etc/velmo/system.reg"]:
        check(not os.path.exists(os.path.join(root, gone)), "purge left " + gone)
    catalogue = open(root + "/var/lib/velmo/devices.xml").read()
    check("<device" not in catalogue, "the catalogue keeps " + catalogue)
    check(message and messages(root + "/var/lib/velmo/out/sent") == message, "purge touched the messages")


def as_user(user, args, root, **kw):
    env = dict(os.environ, VELMO_SYSROOT=root, HOME="/", LC_ALL="C.UTF-8")
    return run(["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups", *args], env=env, **kw)


LISTENER = """import dbus, dbus.mainloop.glib, sys
from gi.repository import GLib
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(sys.argv[1])
def say(*words):
    print(" ".join(str(w) for w in words), flush=True)
bus.add_signal_receiver(lambda *a: say("gateway", *a), None, "org.norvane.Velmo.IGateway")
bus.add_signal_receiver(lambda name, old, new: say("owner", name), "NameOwnerChanged", "org.freedesktop.DBus")
say("listening")
GLib.MainLoop().run()
"""


def signals_heard_only_by_members(root, velmo):
    """alice, in the group velmo, hears the gateway's signals of a message;
    mallory does not. A connection that comes and goes afterwards is the
    fence: once mallory has heard of it, every earlier signal has reached
    her too, if it was going to."""
    address = "unix:path=" + root + "/run/dbus/system_bus_socket"
    env = dict(os.environ, VELMO_SYSROOT=root, HOME="/", LC_ALL="C.UTF-8")
    heard = {}
    listeners = []
    try:
        for user in ["alice", "mallory"]:
            out = open(root + "/heard-" + user, "w")
            listeners.append(subprocess.Popen(["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups",
                                               "/usr/bin/python3", "-c", LISTENER, address], env=env, stdout=out,
                                              stderr=subprocess.STDOUT))
            heard[user] = lambda user=user: open(root + "/heard-" + user).read()
            wait_for(user + "'s listener", lambda: "listening" in heard[user]())
        mid = as_user("alice", [velmo, "send", "+491711234567", "heard by members"], root).stdout.strip()
        wait_for("alice hearing it sent", lambda: "gateway %s SENT" % mid in heard["alice"]())
        fence = subprocess.run(["/usr/bin/python3", "-c", "import dbus, sys; "
                                "print(dbus.bus.BusConnection(sys.argv[1]).get_unique_name())", address],
                               capture_output=True, text=True).stdout.strip()
        wait_for("mallory hearing the fence", lambda: "owner " + fence in heard["mallory"]())
        check("gateway %s QUEUED" % mid in heard["alice"](), "alice did not hear QUEUED: " + heard["alice"]())
        check("gateway" not in heard["mallory"](), "mallory heard the gateway: " + heard["mallory"]())
    finally:
        for p in listeners:
            p.kill()
            p.wait()


def http_as_its_user(root, processes):
    """The installed velmo-http, as its own user with the package's token,
    sends through the service: its group velmo lets it through the bus
    policy."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    conf = root + "/etc/velmo/http-test.conf"
    with open(conf, "w") as f:
        f.write("listen = 127.0.0.1:%d\ntokens = %s/etc/velmo/http-tokens\n" % (port, root))
    token = [line.split()[0] for line in open(root + "/etc/velmo/http-tokens") if not line.startswith("#")][0]
    env = dict(os.environ, VELMO_SYSROOT=root, HOME="/")
    log = open(root + "/http.log", "w")
    processes.append(subprocess.Popen(["setpriv", "--reuid=velmo-http", "--regid=velmo-http", "--init-groups",
                                       root + "/usr/sbin/velmo-http", "--config", conf], env=env, stdout=log,
                                      stderr=log))
    url = "http://127.0.0.1:%d/v1/messages" % port

    def post(*headers):
        h = [a for header in headers for a in ("-H", header)]
        return run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", *h, "--data-urlencode", "to=+4917100",
                    "--data-urlencode", "text=through velmo-http", url]).stdout

    wait_for("velmo-http", lambda: run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-H",
                                        "Authorization: Bearer " + token, url[:-len("messages")] + "devices"])
             .stdout == "200")
    code = post("Authorization: Bearer " + token)
    check(code == "201", "velmo-http as its user: %s %s" % (code, open(root + "/http.log").read()))
    check(post() == "401", "velmo-http took a request without its token")


def inside(build, source, root):
    # The root's users, and two more, stand in for the machine's here only.
    with open(root + "/etc/group") as g:
        lines = g.read().splitlines()
    next_id = max(int(line.split(":")[2]) for line in lines if line.split(":")[2].isdigit() and
                  int(line.split(":")[2]) < 60000) + 1
    alice, mallory = next_id + 1000, next_id + 1001
    lines = [line + ("" if not line.startswith("velmo:") else "alice" if line.endswith(":") else ",alice")
             for line in lines]
    lines += ["alice:x:%d:" % alice, "mallory:x:%d:" % mallory]
    with open(root + "/etc/group", "w") as g:
        g.write("\n".join(lines) + "\n")
    with open(root + "/etc/passwd", "a") as p:
        p.write("alice:x:%d:%d::/:/bin/sh\nmallory:x:%d:%d::/:/bin/sh\n" % (alice, alice, mallory, mallory))
    for f in ["passwd", "group"]:
        subprocess.run(["mount", "--bind", root + "/etc/" + f, "/etc/" + f], check=True)
    check("alice" in grp.getgrnam("velmo").gr_mem, "alice is not in the group velmo")

    base = root + "/var/lib/velmo"
    with open(base + "/config.xml", "w") as c:
        c.write('<velmo><configuration><queue max="1000"/><retries max="3"/></configuration>'
                '<devices><device status="1" id="1" name="Loop" clsid="%s">'
                '<param name="result" value="ok"/></device></devices><rules def_device_id="1"/>'
                '<eventhandlers/></velmo>'
                % LOOPBACK)
    processes = []
    env = dict(os.environ, VELMO_SYSROOT=root, VELMO_TEST_TIME_DIVISOR="100")
    try:
        subprocess.run([source + "/scripts/private-bus", root, "start"], env=env, check=True)
        log = open(root + "/service.log", "w")
        service = subprocess.Popen(["setpriv", "--reuid=velmo", "--regid=velmo", "--init-groups",
                                    root + "/usr/sbin/velmosvc", "/DEBUG"], env=env,
                                   stdout=subprocess.DEVNULL, stderr=log)
        processes.append(service)
        # Until this service holds its name, alice's first call would have
        # the bus start another one, as root.
        wait_for("the service", lambda: "Service started" in open(root + "/service.log").read())
        velmo = root + "/usr/bin/velmo"
        sent = wait_for("alice's send", lambda: as_user("alice", [velmo, "send", "+491711234567", "from alice"],
                                                          root).stdout.strip())
        path = base + "/out/sent/" + sent + ".velmo"
        wait_for("the message sent", lambda: os.path.exists(path))
        velmo_ids = (pwd.getpwnam("velmo").pw_uid, grp.getgrnam("velmo").gr_gid)
        check(mode_owner(path) == (0o640, *velmo_ids), "message file %o %d:%d" % mode_owner(path))
        shown = as_user("alice", [root + "/usr/bin/msgview", path], root)
        check(shown.returncode == 0 and "from alice" in shown.stdout, "msgview as alice: " + shown.stdout +
              shown.stderr)
        check(as_user("mallory", [root + "/usr/bin/msgview", path], root).returncode != 0,
              "mallory read a message file")

        refused = as_user("mallory", [velmo, "send", "+491711234567", "from mallory"], root)
        check(refused.returncode != 0 and "access denied: only root and the members of the group velmo" in
              refused.stderr,
              "mallory's send: %d %s%s" % (refused.returncode, refused.stdout, refused.stderr))
        check(as_user("root", [velmo, "send", "+491711234567", "from root"], root).returncode == 0,
              "root may not send")

        signals_heard_only_by_members(root, velmo)
        http_as_its_user(root, processes)
        listed = as_user("alice", [velmo, "list", "--folder", "sent", "--json"], root)
        check(listed.returncode == 0 and sent in [m["id"] for m in json.loads(listed.stdout or "[]")],
              "alice's list: %s%s" % (listed.stdout, listed.stderr))
        refused = as_user("mallory", [velmo, "list", "--folder", "sent"], root)
        check(refused.returncode == 1 and "access denied" in refused.stderr, "mallory's list: " + refused.stderr)

        dropped = as_user("alice", [velmo, "drop", "+491711234568", "dropped by alice"], root)
        check(dropped.returncode == 0, "alice's drop: " + dropped.stderr)
        check(as_user("mallory", [velmo, "drop", "+491711234568", "x"], root).returncode != 0,
              "mallory dropped into pickup")

        long_text = as_user("alice", [velmo, "send", "+491711234567", "x" * 40001], root)
        check(long_text.returncode != 0 and "longer than 40000 characters" in long_text.stderr,
              "a Body over the limit: %d %s" % (long_text.returncode, long_text.stderr))

        limit = as_user("alice", ["/usr/bin/python3", "-c", """import dbus, sys
bus = dbus.bus.BusConnection(sys.argv[1])
act = dbus.Interface(bus.get_object('org.norvane.Velmo', '/org/norvane/Velmo'), 'org.norvane.Velmo.Activator')
paths = [act.CreateInstance('Velmo.NewSMS') for _ in range(1000)]
try:
    act.CreateInstance('Velmo.NewSMS')
except dbus.DBusException as e:
    print(e.get_dbus_message())
""", "unix:path=" + root + "/run/dbus/system_bus_socket"], root)
        check("the most one connection may hold" in limit.stdout, "the object limit: " + limit.stdout +
              limit.stderr)

        after = wait_for("a send after the refusals", lambda: as_user(
            "alice", [velmo, "send", "+491711234567", "still here"], root).stdout.strip())
        check(service.poll() is None and after, "the service did not go on")
        wait_for("every message sent", lambda: len(messages(base + "/out/sent")) == 6)
    finally:
        stop_all(processes, source, root)
        if failed and os.path.exists(root + "/service.log"):
            print("the service said:\n" + open(root + "/service.log").read()[-3000:])
    for line in failed:
        print(line)
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__)
        sys.exit(2)
    try:
        if os.environ.get("VELMO_PACKAGE_INSIDE"):
            sys.exit(inside(sys.argv[1], sys.argv[2], sys.argv[3]))
        sys.exit(outside(sys.argv[1], sys.argv[2]))
    except AssertionError as e:
        print(e)
        if len(sys.argv) > 3 and os.path.exists(sys.argv[3] + "/service.log"):
            print("the service said:\n" + open(sys.argv[3] + "/service.log").read()[-3000:])
        for line in failed:
            print(line)
        sys.exit(1)
