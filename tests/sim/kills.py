#!/usr/bin/env python3
"""Kills each sibling of a family run (dbms, alert, the alarm itself) at a
random offset of a short scenario and checks that nothing hangs: the run
finishes soon after the scenario's end and the kill shows in the timeline.
A killed process is reported within a second. A killed dbms or alert process
ends the alarm only when it next writes to it; then its reason shows.

usage: kills.py HALCYX_SIM ALARM SCENARIO
"""
import json
import random
import subprocess
import sys
import time


def run(sim, alarm, scenario, who, at):
    started = time.monotonic()
    proc = subprocess.run([sim, "--json", "--alarm", alarm, "--kill", f"{who}@{at:.2f}", scenario],
                          capture_output=True, text=True, timeout=60)
    took = time.monotonic() - started
    records = [json.loads(line) for line in proc.stdout.splitlines() if line.strip()]
    return proc.returncode, took, records, proc.stderr


def main():
    sim, alarm, scenario = sys.argv[1:4]
    seed = random.randrange(1 << 30)
    rnd = random.Random(seed)
    failed = False
    for who in ("dbms", "alert", "alarm"):
        at = rnd.uniform(0.2, 5.0)
        code, took, records, stderr = run(sim, alarm, scenario, who, at)
        where = f"kill {who} at {at:.2f} s (seed {seed})"
        final = [r for r in records if r["event"] == "final"]
        kills = [r for r in records if r["event"] == "action" and "killed" in r["text"]]
        ended = [r for r in records
                 if r["event"] == "problem" and r["text"].startswith("the alarm process ended")]
        gone = [r for r in records
                if r["event"] == "problem" and r["text"].startswith(f"the {who} process ended")]
        if not final:
            print(f"{where}: no final table (exit code {code})\n{stderr}")
            failed = True
            continue
        if took > 20:
            print(f"{where}: the run took {took:.1f} s")
            failed = True
        if not kills:
            print(f"{where}: the kill does not show in the timeline")
            failed = True
            continue
        if who == "alarm":
            if not ended or final[-1]["alarm_clean"]:
                print(f"{where}: the alarm's death is not reported: {final[-1]['alarm']}")
                failed = True
            elif ended[0]["t"] - kills[0]["t"] > 1.0:
                print(f"{where}: the alarm's end was seen {ended[0]['t'] - kills[0]['t']:.2f} s late")
                failed = True
        else:
            if not gone:
                print(f"{where}: the end of the {who} process is not reported")
                failed = True
            elif gone[0]["t"] - kills[0]["t"] > 1.0:
                print(f"{where}: the {who} process's end was seen {gone[0]['t'] - kills[0]['t']:.2f} s late")
                failed = True
            if ended and not any(r["event"] == "alarm_output" and "Caught: " in r["text"]
                                 for r in records):
                print(f"{where}: the alarm ended without saying why")
                failed = True
        if code not in (0, 1):
            print(f"{where}: exit code {code}")
            failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
