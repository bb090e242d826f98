#!/usr/bin/env bash
# Runs a command against a one-node Slurm cluster of its own:
#
#   with_slurm.sh COMMAND [ARG...]
#
# Starts munged (as the munge user, with a key, socket and log of its own),
# slurmctld and slurmd (as root) from a slurm.conf written into a temporary
# directory, waits until sinfo shows the node idle, then runs COMMAND with
# SLURM_CONF pointing at that slurm.conf and VELMORAN_SLURM_JOBCOMP at the
# file where Slurm writes one line per finished job (its id and state).
# Whatever happens, the jobs still queued are cancelled, the three daemons
# are stopped by the process ids it started, and the directory is removed.
# The machine's own munge and Slurm set-up (/etc/munge, /etc/slurm, the
# default ports) is neither used nor touched.
#
# Exit status: COMMAND's; 77 (a skip, with one line saying why) where the
# cluster cannot run: not root, Slurm or munge missing, a daemon that does
# not start.
set -euo pipefail

skip() { echo "SKIP: Slurm test cluster: $*"; exit 77; }

(($# > 0)) || { echo "usage: with_slurm.sh COMMAND [ARG...]" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || skip "needs root to start slurmd and munged"
for tool in munged setpriv slurmctld slurmd sbatch sinfo squeue scancel python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (apt-get install slurm-wlm munge)"
done
id munge >/dev/null 2>&1 || skip "there is no munge user (apt-get install munge)"

# Unix socket paths are short: the state lives under /tmp, not in the build tree.
state=$(mktemp -d /tmp/velmoran-slurm.XXXXXX)
chmod 755 "$state"
pids=()
stop() {
  local status=$?
  trap - EXIT INT TERM
  if [[ -f $state/slurm.conf ]] && ((${#pids[@]} > 1)); then
    SLURM_CONF=$state/slurm.conf scancel --quiet --full --state=PENDING 2>/dev/null || true
    SLURM_CONF=$state/slurm.conf scancel --quiet --full 2>/dev/null || true
    for _ in $(seq 50); do
      [[ -z $(SLURM_CONF=$state/slurm.conf squeue -h 2>/dev/null) ]] && break
      sleep 0.2
    done
  fi
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$state"
  exit "$status"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Three free TCP ports on the loopback interface.
read -r ctld_port slurmd_port srun_port < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))')

# munged refuses keys and directories that others may write.
mkdir -m 711 "$state/munge"
head -c 1024 /dev/urandom >"$state/munge/munge.key"
chmod 600 "$state/munge/munge.key"
chown -R munge:munge "$state/munge"
socket=$state/munge/munge.socket
# setpriv execs munged itself, so the process id kept is the daemon's.
setpriv --reuid=munge --regid=munge --init-groups munged --foreground --force \
  --socket="$socket" --key-file="$state/munge/munge.key" --pid-file="$state/munge/munged.pid" \
  --seed-file="$state/munge/munged.seed" --log-file="$state/munge/munged.log" \
  >"$state/munge/munged.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -S $socket ]] && break; sleep 0.1; done
[[ -S $socket ]] || skip "munged did not start: $(tail -n 1 "$state/munge/munged.log" 2>/dev/null)"

host=$(hostname -s)
cpus=$(nproc)
# Slurm drains a node that claims more memory than it has: offer 3/4 of it.
memory_mb=$(awk '/^MemTotal/ {print int($2 / 1024 * 3 / 4)}' /proc/meminfo)
mkdir -p "$state/ctld" "$state/spool"
cat >"$state/slurm.conf" <<EOF
ClusterName=velmorantest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SrunPortRange=$srun_port-$srun_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/slurmctld.log
SlurmdLogFile=$state/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$state/jobcomp.log
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
ReturnToService=2
MinJobAge=600
SchedulerParameters=sched_interval=2
NodeName=localhost NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory_mb State=UNKNOWN
PartitionName=velmorantest Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$state/slurm.conf
export VELMORAN_SLURM_JOBCOMP=$state/jobcomp.log

slurmctld -D -i >"$state/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -N localhost >"$state/slurmd.out" 2>&1 &
pids+=($!)

state_of_node() { sinfo -h -N -o %t 2>/dev/null | head -n 1; }
for _ in $(seq 150); do
  [[ $(state_of_node) == idle ]] && break
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null ||
      skip "a daemon stopped while starting: $(tail -q -n 1 "$state"/*.log "$state"/*.out 2>/dev/null | tr '\n' ' ')"
  done
  sleep 0.2
done
[[ $(state_of_node) == idle ]] ||
  skip "the node is not idle after 30 s (state: $(state_of_node)): $(tail -q -n 1 "$state"/slurmd.log 2>/dev/null)"

status=0
"$@" || status=$?
exit "$status"
