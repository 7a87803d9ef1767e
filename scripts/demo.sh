#!/usr/bin/env bash
# The whole printer input/output layer on one machine, without root and without
# hardware: installs what the build needs, builds, then runs a simulated IEEE
# 1284.4 USB printer, the agent service and the command-line client in private
# directories, prints a file and shows that the printer received every byte.
#   bash scripts/demo.sh [SIZE_KIB]     (default 4096 KiB of job data)
# Leaves nothing running; exits non-zero when any step fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
size_kib=${1:-4096}
bin=$top/build/bin

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'demo: FAILED: %s\n' "$*" >&2; exit 1; }

step "Installing the packages the build needs"
bash "$top/scripts/install-deps.sh"
command -v socat >/dev/null || fail "socat is missing"

step "Building"
bash "$top/scripts/build.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/tgx-demo.XXXXXX")
export TGX_RUNTIME_DIR=$work/runtime TGX_REGISTRY_DIR=$work/registry TGX_DEVICE_ROOT=$work/devices
mkdir -p "$TGX_RUNTIME_DIR" "$TGX_REGISTRY_DIR" "$TGX_DEVICE_ROOT"
sim_pid= svc_pid=

# Worker processes started for this demo: chanportNT processes that carry our
# private runtime directory in their environment.
our_workers() {
  local pid
  for pid in $(pgrep -x chanportNT || true); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "TGX_RUNTIME_DIR=$TGX_RUNTIME_DIR"; then
      echo "$pid"
    fi
  done
}

stop_process() {  # PID NAME: SIGTERM, up to 10 s, then SIGKILL
  local pid=$1 i
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "demo: $2 did not stop; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  local status=$? i pids
  stop_process "$svc_pid" agentsvc
  # A worker ends by itself within 10 s of idleness once no process holds its port.
  [[ -n "$(our_workers)" ]] && echo "demo: waiting for the port worker to end (up to 10 s)"
  for ((i = 0; i < 120; i++)); do
    pids=$(our_workers)
    [[ -z "$pids" ]] && break
    sleep 0.1
  done
  for pid in $(our_workers); do
    echo "demo: worker $pid did not end; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  done
  stop_process "$sim_pid" printersim
  rm -rf "$work"
  if [[ $status -eq 0 ]]; then echo; echo "demo: all steps passed"; fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A loopback port nothing listens on: 50229 when it is free, else any free one.
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
TGX_AGENT_PORT=
for candidate in $((20000 + RANDOM % 20000)) $((20000 + RANDOM % 20000)) 50229; do
  if port_free "$candidate"; then TGX_AGENT_PORT=$candidate; break; fi
done
[[ -n "$TGX_AGENT_PORT" ]] || fail "no free loopback port"
export TGX_AGENT_PORT

control() {  # one command to the simulator's control socket; its reply lines
  local reply
  reply=$(printf '%s\n' "$*" | socat -t 5 - "UNIX-CONNECT:$TGX_DEVICE_ROOT/run/printersim/control")
  printf '%s\n' "$reply" | grep -v '^ok$'
  [[ "$(printf '%s\n' "$reply" | tail -n 1)" == ok ]]
}

step "Starting a simulated USB printer on USB001 (device root $TGX_DEVICE_ROOT)"
cat >"$work/printer.conf" <<EOF
[printer demo]
port = USB001
device_id = MFG:Arvona;MDL:Tessagraph T-100;CMD:1284.4,PJL;CLS:PRINTER;DES:Simulated printer;
tcp_port = none
answer.5 = 01 02 03 04
EOF
"$bin/printersim" --config "$work/printer.conf" --root "$TGX_DEVICE_ROOT" --ready-fd 3 \
  3>"$work/sim.ready" 2>"$work/sim.log" &
sim_pid=$!
for ((i = 0; i < 100; i++)); do
  grep -q ready "$work/sim.ready" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; fail "printersim ended"; }
  sleep 0.1
done
grep -q ready "$work/sim.ready" || fail "printersim is not ready"
control list

step "Starting the agent service in background mode on 127.0.0.1:$TGX_AGENT_PORT"
TGX_SERVICE_MODE=background "$bin/agentsvc" >"$work/agentsvc.log" 2>&1 &
svc_pid=$!
for ((i = 0; i < 100; i++)); do
  ! port_free "$TGX_AGENT_PORT" && break
  kill -0 "$svc_pid" 2>/dev/null || { cat "$work/agentsvc.log" >&2; fail "agentsvc ended"; }
  sleep 0.1
done
port_free "$TGX_AGENT_PORT" && fail "agentsvc does not listen"
echo "agentsvc is listening (pid $svc_pid)"

step "The printer's device ID (tgxchan info USB001)"
"$bin/tgxchan" info USB001

step "A management request and its answer (tgxchan packet --opcode=5 USB001)"
"$bin/tgxchan" packet --opcode=5 --data='aa bb' USB001

step "Printing $size_kib KiB of generated data (tgxchan print USB001)"
head -c "$((size_kib * 1024))" /dev/urandom >"$work/job.bin"
"$bin/tgxchan" print USB001 "$work/job.bin"

step "Did the printer receive every byte?"
sent=$(sha256sum "$work/job.bin" | cut -d' ' -f1)
received=
for ((i = 0; i < 100; i++)); do
  counters=$(control counters demo job.active job.bytes job.sha256)
  if grep -qx 'job.active=0' <<<"$counters"; then
    received=$(sed -n 's/^job.sha256=//p' <<<"$counters")
    break
  fi
  sleep 0.1
done
echo "$counters"
echo "file sent:        $sent ($(stat -c %s "$work/job.bin") bytes)"
echo "printer received: ${received:-<job still open>}"
[[ "$sent" == "$received" ]] || fail "the printer's job differs from the file"
echo "identical: the printer received every byte"
