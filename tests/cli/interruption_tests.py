#!/usr/bin/env python3
"""The real morvane-cli against tavio-sim, cut off on the way: SIGINT and SIGTERM during a backup,
a restore and a fleet run, SIGKILL and a second run on one store, and what git's children see.

usage: interruption_tests.py MORVANE_CLI TAVIO_SIM
"""
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time

CLI, SIM = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.02)
    return False


def start_sim(work, tftp_port, *switches, devices=1):
    out = open(os.path.join(work, "sim.out"), "w+")
    first = "127.0.0.1:0" if devices == 1 else "127.0.0.2:0"
    state = os.path.join(work, "state" if devices > 1 else "state.txt")
    log = os.path.join(work, "log" if devices > 1 else "sim.log")
    if devices > 1:
        os.makedirs(state, exist_ok=True)
        os.makedirs(log, exist_ok=True)
    args = [SIM, "--listen", first, "--state", state, "--log", log, "--tftp-port", str(tftp_port)]
    if devices > 1:
        args[1:1] = ["--fleet", str(devices)]
    sim = subprocess.Popen(args + list(switches), stdout=out, stderr=subprocess.STDOUT)
    ready = lambda: open(out.name).read().count("listening on") == devices
    if not wait_for(ready, 10):
        sim.kill()
        raise RuntimeError("tavio-sim did not start: " + open(out.name).read())
    port = int(re.search(r"listening on [0-9.]+:(\d+)", open(out.name).read()).group(1))
    return sim, port


def run_cli(args, env_extra=None):
    env = dict(os.environ, **(env_extra or {}))
    return subprocess.Popen([CLI] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                            text=True, errors="replace")


def finish(process, seconds=20):
    try:
        out, err = process.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        failures.append("morvane-cli did not end after the signal")
    return process.returncode, out, err


def debris(folder):
    """The tool's files in a folder, but for a store's state file, which stays by design."""
    return sorted(n for n in os.listdir(folder) if "morvane-" in n and n != ".morvane-state")


def interrupted_backup(work, sig):
    """A backup cut off mid-transfer: the old file stays, its temporary file goes."""
    tftp = free_udp_port()
    sim, http = start_sim(work, tftp, "--config-bytes", "400000", "--packet-delay", "3")
    try:
        target = os.path.join(work, "site.cfg")
        with open(target, "wb") as f:
            f.write(b"old text\r\n")
        cli = run_cli(["backup", "127.0.0.1", target, "--http-port", str(http), "--tftp-port",
                       str(tftp)])
        check(wait_for(lambda: os.path.exists(target + ".morvane-part")),
              "backup: the temporary file appears")
        cli.send_signal(sig)
        code, out, err = finish(cli)
        name = signal.Signals(sig).name
        check(code == 128 + sig, f"backup {name}: exit {128 + sig}, not {code}: {err}")
        check("interrupted" in err, f"backup {name}: says interrupted: {err!r}")
        check(debris(work) == [], f"backup {name}: no debris: {debris(work)}")
        check(open(target, "rb").read() == b"old text\r\n", f"backup {name}: the old file is intact")
    finally:
        sim.kill()
        sim.wait()


def interrupted_restore(work):
    """A restore cut off while the device fetches the file: the safety backup made before it is
    kept, nothing is left behind, and the device is never rebooted."""
    tftp = free_udp_port()
    sim, http = start_sim(work, tftp, "--packet-delay", "3")
    try:
        restore = os.path.join(work, "r.cfg")
        with open(restore, "w") as f:
            f.write("hostname restored\r\n" + "x" * 300000 + "\r\n")
        safety = os.path.join(work, "safety.cfg")
        cli = run_cli(["restore", "127.0.0.1", restore, "--safety-backup", safety, "--http-port",
                       str(http), "--tftp-port", str(tftp)])
        check(wait_for(lambda: "EXECUTE" in open(os.path.join(work, "sim.log")).read()),
              "restore: the device is told to fetch the file")
        time.sleep(0.3)
        cli.send_signal(signal.SIGINT)
        code, out, err = finish(cli)
        check(code == 130, f"restore: exit 130, not {code}: {err}")
        check("interrupted" in err, f"restore: says interrupted: {err!r}")
        check("Restore complete" not in out, "restore: never complete")
        check(debris(work) == [], f"restore: no debris: {debris(work)}")
        check(open(safety).read().startswith("hostname"), "restore: the safety backup is kept")
        check("REBOOT" not in open(os.path.join(work, "sim.log")).read(), "restore: no REBOOT")
    finally:
        sim.kill()
        sim.wait()


def git(store, *args):
    return subprocess.run(["git", "-C", store] + list(args), capture_output=True, text=True).stdout


def fleet_runs(work):
    """Three devices, the third slow. A SIGTERM once the first two are stored: their lines, the
    summary, one commit of what was stored, and nothing else in the store. A second run on a busy
    store is refused; after a SIGKILL the next run clears what the killed one left."""
    # A device cut off mid-transfer keeps retrying for a while: each part has a fleet of its own.
    sim, http, tftp = None, 0, 0

    def new_fleet():
        nonlocal sim, http, tftp
        if sim:
            sim.kill()
            sim.wait()
        tftp = free_udp_port()
        sim, http = start_sim(work, tftp, "--config-bytes", "20000", "--fault",
                              "3=packet-delay:100", devices=3)

    try:
        new_fleet()
        inventory = os.path.join(work, "fleet.csv")
        with open(inventory, "w") as f:
            f.write("host,name\n127.0.0.2,line-1\n127.0.0.3,line-2\n127.0.0.4,line-3\n")
        fleet = lambda store, *more: [
            "fleet-backup", inventory, store, "--http-port", str(http), "--tftp-port", str(tftp),
            "-j", "3"] + list(more)
        slow_part = lambda store: os.path.join(store, ".line-3.cfg.morvane-new.morvane-part")
        both_stored = lambda store: all(
            os.path.exists(os.path.join(store, n)) for n in ("line-1.cfg", "line-2.cfg"))

        # A history found open to others, whose hook dumps the environment git gives it.
        store = os.path.join(work, "found")
        os.makedirs(store)
        os.chmod(store, 0o755)
        subprocess.run(["git", "init", "-q", store], check=True)
        os.chmod(os.path.join(store, ".git"), 0o755)
        dump = os.path.join(work, "hook-environment")
        hook = os.path.join(store, ".git", "hooks", "pre-commit")
        with open(hook, "w") as f:
            f.write(f"#!/bin/sh\nenv > '{dump}'\n")
        os.chmod(hook, 0o755)
        cli = run_cli(fleet(store), {"MORVANE_PASSWORD": "tundra"})
        check(wait_for(lambda: both_stored(store) and os.path.exists(slow_part(store))),
              "fleet: two devices stored while the third runs")
        cli.send_signal(signal.SIGTERM)
        code, out, err = finish(cli)
        check(code == 143, f"fleet: exit 143, not {code}: {err}")
        check("interrupted" in err, f"fleet: says interrupted: {err!r}")
        for name in ("line-1", "line-2"):
            check(f"{name} (127.0.0." in out and "stored" in out, f"fleet: the line of {name}")
        check("Fleet backup: 3 devices, 2 stored, 0 unchanged, 0 failed" in out,
              f"fleet: the summary of what finished: {out!r}")
        check(git(store, "log", "--format=", "--name-only").split() == ["line-1.cfg", "line-2.cfg"],
              "fleet: one commit of what was stored")
        status = git(store, "status", "--porcelain", "--ignored")
        check(status == "!! .morvane-state\n", "fleet: nothing else in the store but its state: " + status)
        check("chmod -R go=" in err and "core.sharedRepository 0600" in err,
              f"fleet: an open history is reported with its fix: {err!r}")
        environment = open(dump).read() if os.path.exists(dump) else ""
        check(environment != "", "fleet: the hook ran")
        check("MORVANE_PASSWORD" not in environment and "tundra" not in environment,
              "fleet: git's hook does not see the password")

        # A history the tool makes; a second run while one runs; SIGKILL; the run after it.
        store = os.path.join(work, "made")
        new_fleet()
        cli = run_cli(fleet(store, "--git"))
        check(wait_for(lambda: both_stored(store) and os.path.exists(slow_part(store))),
              "fleet: the slow device runs")
        second = subprocess.run([CLI] + fleet(store), capture_output=True, text=True, timeout=10)
        check(second.returncode == 1, f"fleet: a second run is refused: {second.returncode}")
        check(store in second.stderr and f"process {cli.pid}" in second.stderr,
              f"fleet: the refusal names the store and the holder: {second.stderr!r}")
        cli.kill()
        cli.wait()
        with open(os.path.join(store, ".gone.cfg.morvane-new"), "w") as f:
            f.write("left by a device no longer in the inventory\n")
        # The run after it, interrupted while it commits: the commit and the summary still come.
        new_fleet()
        marker = os.path.join(work, "committing")
        hook = os.path.join(store, ".git", "hooks", "pre-commit")
        with open(hook, "w") as f:
            f.write(f"#!/bin/sh\nenv > '{dump}'\ntouch '{marker}'\nsleep 1\n")
        os.chmod(hook, 0o700)
        if os.path.exists(dump):
            os.remove(dump)
        rerun = run_cli(fleet(store), {"MORVANE_PASSWORD": "tundra"})
        check(wait_for(lambda: os.path.exists(marker), 30), "fleet: the run after a SIGKILL commits")
        rerun.send_signal(signal.SIGINT)
        code, out, err = finish(rerun)
        check(code == 130, f"fleet: interrupted while committing: exit 130, not {code}: {err}")
        check("Fleet backup: 3 devices, 1 stored, 2 unchanged, 0 failed" in out,
              f"fleet: interrupted while committing: the whole summary: {out!r}")
        check(git(store, "log", "-1", "--format=%s") == "Fleet backup: 1 changed, 2 unchanged, 0 failed\n",
              "fleet: interrupted while committing: the commit is made")
        environment = open(dump).read() if os.path.exists(dump) else ""
        check(environment != "" and "MORVANE_PASSWORD" not in environment,
              "fleet: git's hook does not see the password (the run after a SIGKILL)")
        check(debris(store) == [], f"fleet: no leftovers after the next run: {debris(store)}")
        open_to_others = [os.path.join(d, n) for d, dirs, files in os.walk(os.path.join(store, ".git"))
                          for n in dirs + files
                          if os.lstat(os.path.join(d, n)).st_mode & 0o077 and n != "COMMIT_EDITMSG"]
        check(stat.S_IMODE(os.stat(os.path.join(store, ".git")).st_mode) == 0o700,
              "fleet: a history the tool makes is private")
        check(not [p for p in open_to_others if "/objects/" in p or p.endswith("/index")],
              f"fleet: its objects and index are private: {open_to_others[:4]}")
        check("warning" not in err, f"fleet: a private history is not reported: {err}")
    finally:
        if sim:
            sim.kill()
            sim.wait()


def main():
    os.umask(0o022)
    root = tempfile.mkdtemp(prefix="morvane-interrupt-")
    try:
        for number, case in enumerate([lambda w: interrupted_backup(w, signal.SIGINT),
                                       lambda w: interrupted_backup(w, signal.SIGTERM),
                                       interrupted_restore, fleet_runs]):
            work = os.path.join(root, str(number))
            os.makedirs(work)
            case(work)
    finally:
        if not failures:
            shutil.rmtree(root, ignore_errors=True)
    print(f"{len(failures)} failure(s)" + (f"; files kept in {root}" if failures else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
