"""What the Python end-to-end tests share: polling for a condition with a
deadline, starting the service on a simulated modem, and ending the
processes and the private bus a test started."""
import os
import subprocess
import time


def wait_for(what, condition, seconds=30, every=0.05):
    """The first true value of condition(), polled every `every` seconds;
    raises AssertionError naming what after the deadline."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(every)
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


def start_modem_and_service(build, root, env, cmgs, processes, modem=()):
    """modemsim on the system root's ttyS0, answering each message in turn
    as cmgs says (with the further options modem), then velmosvc; returns
    once the GSM device has initialised the modem, with the path of
    modemsim's control FIFO. Both processes are appended to processes."""
    control = root + "/modem.ctl"
    transcript = root + "/transcript"
    processes.append(subprocess.Popen(
        [build + "/bin/modemsim", "--link=" + root + "/dev/ttyS0", "--control=" + control, "--cmgs=" + cmgs,
         "--transcript=" + transcript, *modem], stdout=subprocess.DEVNULL, env=env))
    wait_for("the modem", lambda: os.path.exists(control))
    processes.append(subprocess.Popen([build + "/bin/velmosvc", "/DEBUG"], env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    wait_for("the modem's initialisation",
             lambda: os.path.exists(transcript) and "AT+CMGL=4" in open(transcript).read())
    return control
