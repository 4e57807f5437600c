"""velmosvc with the Loopback device on a private system bus and velmo-http
beside it, for the tests and benchmarks that talk HTTP to it, and a curl
client of velmo-http."""
import json
import os
import shutil
import socket
import subprocess
import tempfile

from velmotest import stop_all, wait_for

TOKEN = "test-token-0123456789abcdef"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Http:
    def __init__(self, port):
        self.base = "http://127.0.0.1:%d" % port

    def __call__(self, method, path, *args, token=TOKEN):
        """(status, headers, body) of one curl request."""
        cmd = ["curl", "-s", "-i", "-X", method, self.base + path, *args]
        if token is not None:
            cmd += ["-H", "Authorization: Bearer " + token]
        out = subprocess.run(cmd, capture_output=True).stdout.decode("utf-8", "replace")
        head, _, body = out.replace("\r\n", "\n").partition("\n\n")
        lines = head.split("\n")
        status = int(lines[0].split()[1]) if lines and lines[0].startswith("HTTP/") else 0
        headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
        return status, headers, body

    def json(self, method, path, *args, **kw):
        status, headers, body = self(method, path, *args, **kw)
        try:
            return status, headers, json.loads(body)
        except ValueError:
            return status, headers, {"unparsed": body}


class HttpGateway:
    """A context manager: on entry the service and velmo-http run and a
    request with the token is answered; on exit both end and the root is
    removed (its logs printed first when keep_logs is set by the caller).

    conf: extra lines of http.conf. http_divisor: VELMO_TEST_TIME_DIVISOR
    of velmo-http alone (None: its fixed waits as designed). sandbox:
    further arguments of scripts/sandbox (["--param", "delivery=delivered"]).
    prepare: called with the root before the service starts (to change its
    config.xml). modem: modemsim's options, to run it on the root's ttyS0
    (with sandbox ["--device", "gsm"]), and with modems N on ttyS0 to ttyS(N-1),
    transcripts "transcript", "transcript1"... service_divisor: the service's
    VELMO_TEST_TIME_DIVISOR (100: its modem waits too short for a modem
    that takes a second)."""

    def __init__(self, build, source, conf="", http_divisor=None, sandbox=(), prepare=None, modem=None,
                 service_divisor=100, modems=1):
        self.build, self.source, self.conf, self.http_divisor = build, source, conf, http_divisor
        self.modems = modems
        self.sandbox = list(sandbox)
        self.prepare, self.modem, self.service_divisor = prepare, modem, service_divisor
        self.processes = []
        self.show_logs = False

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="velmo-http-")
        self.env = dict(os.environ, VELMO_BUILD_DIR=self.build, VELMO_SYSROOT=self.root,
                        VELMO_TEST_TIME_DIVISOR=str(self.service_divisor))
        try:
            subprocess.run([self.source + "/scripts/sandbox", self.root, *self.sandbox], env=self.env, check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run([self.source + "/scripts/private-bus", self.root, "start"], env=self.env, check=True,
                           stderr=subprocess.DEVNULL)
            if self.prepare:
                self.prepare(self.root)
            self.transcripts = []
            for n in range(self.modems if self.modem is not None else 0):
                self.transcripts.append(self.root + "/transcript" + (str(n) if n else ""))
                tty = self.root + "/dev/ttyS%d" % n
                self.processes.append(subprocess.Popen(
                    [self.build + "/bin/modemsim", "--link=" + tty, "--transcript=" + self.transcripts[-1],
                     *self.modem], stdout=subprocess.DEVNULL, env=self.env))
                wait_for("the modem", lambda: os.path.exists(tty))
            self.transcript = self.transcripts[0] if self.transcripts else None
            self.service = subprocess.Popen([self.build + "/bin/velmosvc", "/DEBUG"], env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=open(self.root + "/service.log", "w"))
            self.processes.append(self.service)
            tokens = self.root + "/http-tokens"
            with open(tokens, "w") as f:
                f.write("# the test's client\n%s curl\n" % TOKEN)
            os.chmod(tokens, 0o600)
            self.port = free_port()
            self.conf_path = self.root + "/http.conf"
            with open(self.conf_path, "w") as f:
                f.write("listen = 127.0.0.1:%d\ntokens = %s\n%s" % (self.port, tokens, self.conf))
            http_env = dict(self.env)
            http_env.pop("VELMO_TEST_TIME_DIVISOR")
            if self.http_divisor:
                http_env["VELMO_TEST_TIME_DIVISOR"] = str(self.http_divisor)
            self.log = open(self.root + "/http.log", "w")
            self.http = subprocess.Popen([self.build + "/bin/velmo-http", "--config", self.conf_path],
                                         env=http_env, stdout=self.log, stderr=self.log)
            self.processes.append(self.http)
            wait_for("velmo-http and the service", lambda: self.ready())
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def ready(self):
        out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-H",
                              "Authorization: Bearer " + TOKEN, "http://127.0.0.1:%d/v1/devices" % self.port],
                             capture_output=True, text=True).stdout
        return out == "200"

    def rss_kb(self, field="VmRSS"):
        """velmo-http's resident memory in KiB (VmHWM: its peak)."""
        with open("/proc/%d/status" % self.http.pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def __exit__(self, *exc):
        stop_all(self.processes, self.source, self.root)
        if self.show_logs and os.path.exists(self.root + "/http.log"):
            print("http.log:\n" + open(self.root + "/http.log").read()[-3000:])
        shutil.rmtree(self.root, ignore_errors=True)
        return False
