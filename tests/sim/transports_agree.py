#!/usr/bin/env python3
"""Runs one scenario through halcyx-sim over both transports (the alarm
process over its standard streams, and halcyx-alarm in a process family) and
checks that both runs went through with the same final statuses and, for
every object, the same sequence of status changes.

usage: transports_agree.py HALCYX_SIM ALARM_PIPE ALARM SCENARIO
"""
import json
import subprocess
import sys


def run(sim, transport, alarm, scenario):
    proc = subprocess.run([sim, "--json", "--transport", transport, "--alarm", alarm, scenario],
                          capture_output=True, text=True, timeout=90)
    records = [json.loads(line) for line in proc.stdout.splitlines() if line.strip()]
    if proc.returncode != 0:
        problems = [r for r in records if r["event"] in ("problem", "alarm_output")]
        sys.exit(f"{transport}: exit code {proc.returncode}\n{problems}\n{proc.stderr}")
    changes = {}
    for r in records:
        if r["event"] == "status":
            changes.setdefault(r["path"], []).append((r["old_name"], r["new_name"]))
    final = [r for r in records if r["event"] == "final"][-1]
    statuses = {o["path"]: o["name"] for o in final["statuses"]}
    return changes, statuses, final


def main():
    sim, alarm_pipe, alarm, scenario = sys.argv[1:5]
    pipe_changes, pipe_final, _ = run(sim, "pipe", alarm_pipe, scenario)
    family_changes, family_final, final = run(sim, "family", alarm, scenario)
    failed = False
    if not final["alarm_clean"]:
        print(f"family: the alarm process did not end cleanly: {final['alarm']}")
        failed = True
    if pipe_final != family_final:
        print(f"final statuses differ:\n pipe   {pipe_final}\n family {family_final}")
        failed = True
    for path in sorted(set(pipe_changes) | set(family_changes)):
        a, b = pipe_changes.get(path, []), family_changes.get(path, [])
        if a != b:
            print(f"{path}: status changes differ:\n pipe   {a}\n family {b}")
            failed = True
    if not pipe_changes:
        print("no status changes at all: the scenario shows nothing")
        failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
