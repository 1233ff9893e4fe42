#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: [ROUNDS=n] bash bench/session/run.sh BUILD_DIR [SECONDS]
# The same changing workload through Vandrelle (its main window, the session
# in a tab, opened as the server menu's "Connect" opens it) and through the
# reference client xfreerdp3, one after the other in one run: CPU seconds
# (user + system) and peak resident memory of each client, and their ratios;
# what each further session adds, beside fixed figures of a GTK connection
# manager measured on this machine.
# Everything runs on loopback and on displays of its own; every process it
# starts is stopped by its PID.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-20}
client="$build/bin/vandrelle-session-client"
[[ -x "$client" ]] || { echo "run.sh: $client is missing; build it first" >&2; exit 1; }
command -v xfreerdp3 >/dev/null || {
    echo "run.sh: the reference client xfreerdp3 is not installed (package freerdp3-x11;" \
        "make deps installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vandrelle-session-bench-XXXXXX")
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
# Both clients draw on an X display of their own, as on a desktop.
export HOME="$work" XDG_CONFIG_HOME="$work/xdg" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME"

# A display of its own: a number without lock or socket, started on; an X
# server that finds it taken meanwhile ends, and another number is tried.
start_display() {  # VARIABLE XVFB-ARGS...
    local name=$1 n pid; shift
    for _ in 1 2 3 4 5; do
        n=$(( 200 + RANDOM % 700 ))
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" "$@" -nolisten tcp >"$work/xvfb-$n.log" 2>&1 & pid=$!; pids+=("$pid")
        for _ in $(seq 100); do
            [[ -e /tmp/.X11-unix/X$n && $(tr -d ' ' < "/tmp/.X$n-lock" 2>/dev/null) == "$pid" ]] && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$pid" 2>/dev/null && [[ -e /tmp/.X11-unix/X$n ]]; then printf -v "$name" ':%s' "$n"; return; fi
    done
    echo "run.sh: no X display could be started (see $work/xvfb-*.log)" >&2; exit 1
}
start_display served -screen 0 1024x768x24 -noreset
start_display viewer -screen 0 1024x768x24

# The shadow server on a loopback port nothing listens on, below the range of
# outgoing ports; one that cannot bind it ends, and another port is tried.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in 1 2 3 4 5; do
    port=$(( 20000 + RANDOM % 12000 ))
    listening "$port" && continue
    DISPLAY=$served freerdp-shadow-cli3 /bind-address:127.0.0.1 /port:$port -auth >"$work/shadow.log" 2>&1 & server=$!; pids+=("$server")
    for _ in $(seq 100); do listening "$port" && break; kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$server" 2>/dev/null && listening "$port" && break
    port=
done
[[ -n $port ]] || { echo "run.sh: the shadow server did not start; its output:" >&2; tail -20 "$work/shadow.log" >&2; exit 1; }

# The workload: the whole screen changes colour every 40 ms, and a clock ticks.
DISPLAY=$served xclock -geometry 300x300+50+50 -update 1 >/dev/null 2>&1 & pids+=($!)
( colours=('#3060a0' '#a06030' '#30a060' '#6030a0'); i=0
  while :; do DISPLAY=$served xsetroot -solid "${colours[i++ % 4]}"; sleep 0.04; done ) & pids+=($!)

# CPU seconds, peak memory (MiB) and exit status of one command, from the
# kernel's accounting; its output goes to LOG.
measure() {  # LOG COMMAND...
    python3 - "$@" <<'PY'
import resource, subprocess, sys
with open(sys.argv[1], "w") as log:
    status = subprocess.run(sys.argv[2:], stdout=log, stderr=subprocess.STDOUT).returncode
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{r.ru_utime + r.ru_stime:.2f} {r.ru_maxrss / 1024:.1f} {status}")
PY
}

# Figures of a run that did not stay connected compare nothing: the reference
# counts only when `timeout` had to stop it (status 124) after it drew the
# remote desktop; Vandrelle's client says itself (status 0) that every session
# connected and none was lost.
give_up() {  # WHAT STATUS LOG
    echo "run.sh: $1 did not stay connected for the whole run (exit status $2), so its figures" \
        "would compare nothing; its output ($3) ends with:" >&2
    tail -15 "$3" >&2
    exit 1
}
run_reference() {  # LOG
    local cpu mem status
    read -r cpu mem status < <(DISPLAY=$viewer measure "$1" timeout -s INT "$seconds" xfreerdp3 \
        /v:127.0.0.1:$port /sec:tls /cert:ignore /u:bench /p:bench /size:1024x768 /bpp:32 \
        -clipboard /audio-mode:2)
    [[ $status -eq 124 ]] && grep -q 'gdi_init_ex' "$1" || give_up "the reference client xfreerdp3" "$status" "$1"
    echo "$cpu $mem"
}
run_ours() {  # LOG SECONDS COUNT
    local cpu mem status
    read -r cpu mem status < <(DISPLAY=$viewer measure "$1" "$client" 127.0.0.1 "$port" "$2" "$3")
    [[ $status -eq 0 ]] || give_up "vandrelle-session-client ($3 sessions)" "$status" "$1"
    echo "$cpu $mem"
}

# The served side's pace varies from run to run, so the single sessions are
# taken in turns, ROUNDS times (3 unless set), and their medians compared.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ref_cpus=() ref_mems=() our_cpus=() our_mems=()
for round in $(seq "${ROUNDS:-3}"); do
    read -r cpu mem < <(run_reference "$work/reference-$round.log") || exit 1
    ref_cpus+=("$cpu") ref_mems+=("$mem")
    read -r cpu mem < <(run_ours "$work/vandrelle-$round.log" "$seconds" 1) || exit 1
    our_cpus+=("$cpu") our_mems+=("$mem")
done
ref_cpu=$(median "${ref_cpus[@]}") ref_mem=$(median "${ref_mems[@]}")
our_cpu=$(median "${our_cpus[@]}") our_mem=$(median "${our_mems[@]}")
# A tabbed program pays for its toolkit once: two and three sessions in one
# process (tabs of the program's window); and what the program costs before
# any session: its window with the tree, no connection.
read -r two_cpu two_mem < <(run_ours "$work/vandrelle-two.log" "$seconds" 2) || exit 1
read -r tabs_cpu tabs_mem < <(run_ours "$work/vandrelle-three.log" "$seconds" 3) || exit 1
read -r bare_cpu bare_mem < <(run_ours "$work/vandrelle-empty.log" 2 0) || exit 1

printf '%-34s %10s %12s\n' "client ($seconds s)" "CPU s" "peak MiB"
printf '%-34s %10s %12s   (runs: %s)\n' "xfreerdp3, one session (median)" "$ref_cpu" "$ref_mem" "${ref_cpus[*]}"
printf '%-34s %10s %12s   (runs: %s)\n' "vandrelle, one session (median)" "$our_cpu" "$our_mem" "${our_cpus[*]}"
printf '%-34s %10s %12s\n' "vandrelle, two sessions" "$two_cpu" "$two_mem"
printf '%-34s %10s %12s\n' "vandrelle, three sessions" "$tabs_cpu" "$tabs_mem"
printf '%-34s %10s %12s\n' "vandrelle, window, no session (2 s)" "$bare_cpu" "$bare_mem"
python3 - "$ref_cpu" "$ref_mem" "$our_cpu" "$our_mem" "$two_cpu" "$two_mem" "$tabs_cpu" "$tabs_mem" <<'PY'
import sys
ref_cpu, ref_mem, *ours = map(float, sys.argv[1:])
for count, (cpu, mem) in enumerate(zip(ours[::2], ours[1::2]), start=1):
    print(f"ratio per session to xfreerdp3, {count} open:   CPU {cpu / count / ref_cpu:.2f}, "
          f"memory {mem / count / ref_mem:.2f}")
# What each further session adds, beside a GTK connection manager on FreeRDP 2
# with the same server, workload and graphics path: fixed figures measured on
# this machine (peak MiB), not measured by this run.
one, two, three = ours[1], ours[3], ours[5]
peer_one, peer_added = 83.3, 24.0
print(f"peak MiB, one session:             vandrelle {one:6.1f}   "
      f"peer manager {peer_one:.1f} (fixed figure from the issue, measured on this machine)")
print(f"peak MiB added by the 2nd session: vandrelle {two - one:6.1f}   "
      f"peer manager {peer_added:.1f} (fixed figure from the issue, measured on this machine)")
print(f"peak MiB added by the 3rd session: vandrelle {three - two:6.1f}   "
      f"peer manager {peer_added:.1f} (fixed figure from the issue, measured on this machine)")
PY
