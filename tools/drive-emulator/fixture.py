#!/usr/bin/python3
"""Starts and stops the Drive emulator for CTest.

  fixture.py start --state DIR   launch emulator.py detached, wait until it answers
  fixture.py stop --state DIR    shut it down (kill it if it does not go)

The emulator gets no pipe of ours: CTest waits until every inherited pipe is
closed, so an inherited one would hang the run.
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import time
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
# Debian's interpreter has python3-pyftpdlib.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
START_TIMEOUT = 20.0
ADDRESS_KINDS = ("http", "https", "ftp")


def read_text(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return None


def control(state, method, path, timeout):
    """One request to the control interface; None when nobody answers."""
    address = read_text(os.path.join(state, "http.addr"))
    if not address:
        return None
    request = urllib.request.Request("http://%s%s" % (address, path), method=method,
                                     data=b"" if method == "POST" else None)
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    try:
        with opener.open(request, timeout=timeout) as answer:
            return answer.read()
    except (OSError, urllib.error.URLError):
        return None


def is_emulator(pid):
    """True when pid is alive and runs emulator.py (not a recycled pid)."""
    cmdline = read_text("/proc/%d/cmdline" % pid)
    return bool(cmdline) and "emulator.py" in cmdline


def wait_gone(pid, seconds):
    deadline = time.monotonic() + seconds
    while is_emulator(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    return not is_emulator(pid)


def stop(state):
    pid_file = os.path.join(state, "pid")
    pid = read_text(pid_file)
    control(state, "POST", "/_emu/shutdown", timeout=3)
    if pid and pid.isdigit():
        pid = int(pid)
        if not wait_gone(pid, 5):
            os.kill(pid, signal.SIGTERM)
            if not wait_gone(pid, 3):
                os.kill(pid, signal.SIGKILL)
                wait_gone(pid, 3)
    for name in ["pid"] + [kind + ".addr" for kind in ADDRESS_KINDS]:
        try:
            os.remove(os.path.join(state, name))
        except FileNotFoundError:
            pass
    return 0


def start(state):
    os.makedirs(state, exist_ok=True)
    stop(state)  # a stale emulator from an earlier run
    log_path = os.path.join(state, "emulator.log")
    with open(log_path, "wb") as log:
        process = subprocess.Popen(
            [PYTHON, os.path.join(HERE, "emulator.py"), "--state", state],
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            start_new_session=True, close_fds=True)
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if process.poll() is not None:
            break
        ready = all(os.path.exists(os.path.join(state, kind + ".addr"))
                    for kind in ADDRESS_KINDS)
        answer = ready and control(state, "GET", "/_emu/log", timeout=2)
        if answer and "requests" in json.loads(answer):
            with open(os.path.join(state, "pid"), "w") as f:
                f.write(str(process.pid))
            print("emulator running, pid %d: http %s, https %s, ftp %s" % (
                process.pid, *(read_text(os.path.join(state, k + ".addr"))
                               for k in ADDRESS_KINDS)))
            return 0
        time.sleep(0.1)
    if process.poll() is None:
        process.kill()
    sys.stderr.write("emulator did not start; its log:\n")
    sys.stderr.write(read_text(log_path) or "(empty)\n")
    return 1


def main():
    parser = argparse.ArgumentParser(description="Start or stop the Drive emulator.")
    parser.add_argument("action", choices=("start", "stop"))
    parser.add_argument("--state", required=True, help="the emulator's state folder")
    args = parser.parse_args()
    state = os.path.abspath(args.state)
    return start(state) if args.action == "start" else stop(state)


if __name__ == "__main__":
    sys.exit(main())
