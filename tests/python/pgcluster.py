"""A throwaway PostgreSQL cluster for one test: initdb into a temporary
folder, the server on a Unix socket in that folder only, run as nobody
when the test runs as root. None of Debian's postgresql packages: the
caller skips (exit 77)."""
import glob
import os
import shutil
import subprocess
import tempfile


class PgCluster:
    def __init__(self):
        found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
        self.bin = os.path.dirname(found[-1]) if found else None
        self.dir = None

    def __enter__(self):
        if not self.bin:
            return None
        self.dir = tempfile.mkdtemp(prefix="velmo-pg-")
        self.as_user = []
        if os.geteuid() == 0:
            self.as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
            shutil.chown(self.dir, "nobody", "nogroup")
        subprocess.run(self.as_user + [self.bin + "/initdb", "-D", self.dir + "/data", "-U", "velmo", "--auth=trust",
                                       "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.start()
        self.psql("CREATE DATABASE velmo", "postgres")
        return self

    def __exit__(self, *exc):
        if self.dir:
            self.stop()
            shutil.rmtree(self.dir, ignore_errors=True)
        return False

    def start(self):
        subprocess.run(self.as_user + [self.bin + "/pg_ctl", "-D", self.dir + "/data", "-l", self.dir + "/log", "-w",
                                       "-o", "-k %s -c listen_addresses= -c fsync=off" % self.dir, "start"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        subprocess.run(self.as_user + [self.bin + "/pg_ctl", "-D", self.dir + "/data", "-m", "immediate", "-w",
                                       "stop"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def conninfo(self, database="velmo"):
        return "host=%s user=velmo dbname=%s" % (self.dir, database)

    def psql(self, sql, database="velmo"):
        """psql's unaligned answer, or None when the statement failed."""
        out = subprocess.run(["psql", "-X", "-q", "-t", "-A", "-h", self.dir, "-U", "velmo", "-d", database, "-c",
                              sql], capture_output=True, text=True)
        return out.stdout.strip() if out.returncode == 0 else None
