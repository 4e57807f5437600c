"""What the Python end-to-end tests share: polling for a condition with a
deadline, and ending the processes and the private bus a test started."""
import subprocess
import time


def wait_for(what, condition, seconds=30):
    """The first true value of condition(), polled every 50 ms; raises
    AssertionError naming what after the deadline."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def stop_all(processes, source, root):
    """Ends processes, last started first (SIGTERM, then SIGKILL after
    10 s), then the private bus of the system root."""
    for p in reversed(processes):
        p.terminate()
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
    subprocess.run([source + "/scripts/private-bus", root, "stop"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
