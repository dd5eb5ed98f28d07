#!/usr/bin/env python3
"""kill -9 torture of the report files on one system root.

Several hosts record, save every 15 ms, ask for uploads and stop and start
again, all on one throw-away system root, and are killed with SIGKILL at
random moments and started again. Then recovery hosts take up what they left.
Checks, at the end:
  - no sealed file (.dat) ever seen changed or vanished;
  - every report file is sealed and listed exactly once (a Processing value
    for every .dat, none for a missing file, no Temp value and no .tmp left);
  - every sealed file decodes, or at least salvages (srdump --salvage);
  - the registry hive passes SQLite's integrity check.

  tests/torture/kill9.py --bin build/native/bin [--seconds 45] [--hosts 4] [--seed N]

Exit status 0 when every check holds; the figures are printed either way.
"""
import argparse
import hashlib
import os
import random
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

SRP = r"HKLM\Software\Norvo_Srp_pos\SRP"


def run(args, env, check=True):
    return subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=check)


def values(srreg, env, key):
    """name -> data of the REG_SZ values of an HKLM key (empty when missing)."""
    out = run([srreg, "query", SRP + "\\" + key], env, check=False).stdout
    found = {}
    for line in out.splitlines():
        if "    REG_SZ    " in line:
            name, data = line.strip().split("    REG_SZ    ", 1)
            found[name] = data
        elif line.rstrip().endswith("    REG_SZ"):
            found[line.strip().split("    REG_SZ")[0]] = ""
    return found


def report_files(folder):
    try:
        return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.startswith("rpFile-"))
    except FileNotFoundError:
        return []


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder of integration_tests, srreg, srdump")
    parser.add_argument("--seconds", type=float, default=45.0, help="how long hosts are killed (45)")
    parser.add_argument("--hosts", type=int, default=4, help="hosts running at once (4)")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--keep", action="store_true", help="keep the system root for a look")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else int(time.time())
    rnd = random.Random(seed)
    host = os.path.join(args.bin, "integration_tests")
    srreg = os.path.join(args.bin, "srreg")
    srdump = os.path.join(args.bin, "srdump")

    root = tempfile.mkdtemp(prefix="sr-kill9-")
    env = dict(os.environ, STATRELAY_ROOT=root)
    env.pop("STATRELAY_LOG", None)
    run([srreg, "add", SRP, "/v", "report", "/t", "REG_DWORD", "/d", "2", "/f"], env)
    folder = os.path.join(root, "ProgramData", "RpData")

    sealed = {}  # path -> digest of every .dat seen
    changed = []
    kills = starts = 0
    hosts = []

    def start_host():
        nonlocal starts
        starts += 1
        hosts.append(subprocess.Popen([host, "--sr-child", "TortureHost", str(rnd.randrange(1 << 30))],
                                      env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def look():
        for path in report_files(folder):
            if path.endswith(".dat"):
                try:
                    d = digest(path)
                except FileNotFoundError:
                    continue
                if path in sealed and sealed[path] != d:
                    changed.append(path)
                sealed.setdefault(path, d)

    began = time.monotonic()
    for _ in range(args.hosts):
        start_host()
    while time.monotonic() - began < args.seconds:
        time.sleep(rnd.uniform(0.02, 0.6))
        victims = hosts[:] if rnd.random() < 0.1 else [rnd.choice(hosts)]
        for victim in victims:
            victim.send_signal(signal.SIGKILL)
            victim.wait()
            hosts.remove(victim)
            kills += 1
        look()
        while len(hosts) < args.hosts:
            start_host()
    for h in hosts:
        h.send_signal(signal.SIGKILL)
        h.wait()
        kills += 1
    look()

    # Recovery hosts: the first takes everything up; the second must find
    # nothing left to do.
    for _ in range(2):
        run([host, "--sr-child", "TortureRecover"], env)
    look()

    failures = []
    files = report_files(folder)
    dats = [f for f in files if f.endswith(".dat")]
    leftovers = [f for f in files if not f.endswith(".dat")]
    vanished = [p for p in sealed if not os.path.exists(p)]
    processing = values(srreg, env, "Processing")
    temp = values(srreg, env, "Temp")
    unlisted = [d for d in dats if d not in processing]
    dangling = [p for p in processing if not os.path.exists(p)]
    decoded = salvaged = 0
    broken = []
    for d in dats:
        if run([srdump, d], env, check=False).returncode == 0:
            decoded += 1
        elif '"payload_length"' in run([srdump, "--salvage", d], env, check=False).stdout:
            salvaged += 1
        else:
            broken.append(d)
    db = sqlite3.connect(os.path.join(root, "registry.db"))
    integrity = db.execute("PRAGMA integrity_check").fetchone()[0]
    db.close()

    for label, items in (("sealed files changed", changed), ("sealed files vanished", vanished),
                         ("report files not sealed", leftovers), ("Temp values left", list(temp)),
                         ("sealed files not listed", unlisted), ("listed files missing", dangling),
                         ("sealed files that neither decode nor salvage", broken)):
        if items:
            failures.append("%s: %d (%s)" % (label, len(items), ", ".join(sorted(items)[:3])))
    if integrity != "ok":
        failures.append("hive integrity check: " + integrity)

    print("kill9: seed %d, %.0f s, %d hosts at once: %d hosts started, %d killed; "
          "%d sealed files (%d decode, %d salvage only)"
          % (seed, args.seconds, args.hosts, starts, kills, len(dats), decoded, salvaged))
    for f in failures:
        print("kill9: FAILED: " + f)
    if args.keep or failures:
        print("kill9: system root kept in " + root)
    else:
        subprocess.run(["rm", "-rf", root])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
