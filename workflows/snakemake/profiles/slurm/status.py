#!/usr/bin/env python3
"""Tells Snakemake how a Slurm job stands: prints running, success or failed.

    status.py JOBID

Snakemake calls it with the id that `sbatch --parsable` printed. The state
comes from the accounting database (sacct) where the cluster keeps one,
else from the controller's memory of recent jobs (scontrol). A job that
Slurm ended itself (time limit, memory, node failure, cancellation) is
failed even though the job script had no chance to say so.
"""
import subprocess
import sys
import time

RUNNING = {
    "PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "REQUEUED",
    "REQUEUE_FED", "REQUEUE_HOLD", "RESIZING", "SIGNALING", "STAGE_OUT", "STOPPED",
}


def query(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return done.stdout if done.returncode == 0 else None


def state_from_sacct(job):
    out = query(["sacct", "-j", job, "-X", "-n", "-P", "-o", "State"])
    lines = [line.split()[0] for line in (out or "").splitlines() if line.strip()]
    return lines[0] if lines else None


def state_from_scontrol(job):
    out = query(["scontrol", "show", "job", "-o", job])
    for field in (out or "").split():
        if field.startswith("JobState="):
            return field[len("JobState="):]
    return None


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: status.py JOBID")
    job = sys.argv[1].split(";")[0].strip()
    # The controller may be busy for a moment: ask again before giving up.
    for attempt in range(5):
        state = state_from_sacct(job) or state_from_scontrol(job)
        if state:
            break
        time.sleep(2 * (attempt + 1))
    if state is None:
        print(f"status.py: Slurm knows no job {job}", file=sys.stderr)
        print("failed")
    elif state == "COMPLETED":
        print("success")
    elif state in RUNNING:
        print("running")
    else:
        print("failed")


if __name__ == "__main__":
    main()
