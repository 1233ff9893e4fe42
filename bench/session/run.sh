#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: [ROUNDS=n] bash bench/session/run.sh BUILD_DIR [SECONDS]
# The same changing workload through a Vandrelle session and through the
# reference client xfreerdp3, one after the other in one run: CPU seconds
# (user + system) and peak resident memory of each client, and their ratios.
# Everything runs on loopback and on displays of its own; every process it
# starts is stopped by its PID.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-20}
client="$build/bin/vandrelle-session-client"
[[ -x "$client" ]] || { echo "run.sh: $client is missing; build it first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vandrelle-session-bench-XXXXXX")
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
# Both clients draw on an X display of their own, as on a desktop.
export HOME="$work" XDG_CONFIG_HOME="$work/xdg" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME"

slot=$(( $$ % 300 ))
served=":$(( 500 + slot ))" viewer=":$(( 501 + slot ))" port=$(( 45000 + slot ))
Xvfb "$served" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 & pids+=($!)
Xvfb "$viewer" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${served#:} && -e /tmp/.X11-unix/X${viewer#:} ]] && break; sleep 0.05; done
DISPLAY=$served freerdp-shadow-cli3 /bind-address:127.0.0.1 /port:$port -auth >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done

# The workload: the whole screen changes colour every 40 ms, and a clock ticks.
DISPLAY=$served xclock -geometry 300x300+50+50 -update 1 >/dev/null 2>&1 & pids+=($!)
( colours=('#3060a0' '#a06030' '#30a060' '#6030a0'); i=0
  while :; do DISPLAY=$served xsetroot -solid "${colours[i++ % 4]}"; sleep 0.04; done ) & pids+=($!)

# CPU seconds and peak memory (MiB) of one command, from the kernel's accounting.
measure() {
    python3 - "$@" <<'PY'
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{r.ru_utime + r.ru_stime:.2f} {r.ru_maxrss / 1024:.1f}")
PY
}

# The served side's pace varies from run to run, so the single sessions are
# taken in turns, ROUNDS times (3 unless set), and their medians compared.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ref_cpus=() ref_mems=() our_cpus=() our_mems=()
for _ in $(seq "${ROUNDS:-3}"); do
    read -r cpu mem < <(DISPLAY=$viewer measure timeout -s INT "$seconds" xfreerdp3 \
        /v:127.0.0.1:$port /sec:tls /cert:ignore /u:bench /p:bench /size:1024x768 /bpp:32 \
        -clipboard /audio-mode:2)
    ref_cpus+=("$cpu") ref_mems+=("$mem")
    read -r cpu mem < <(DISPLAY=$viewer measure "$client" 127.0.0.1 "$port" "$seconds" 1)
    our_cpus+=("$cpu") our_mems+=("$mem")
done
ref_cpu=$(median "${ref_cpus[@]}") ref_mem=$(median "${ref_mems[@]}")
our_cpu=$(median "${our_cpus[@]}") our_mem=$(median "${our_mems[@]}")
# A tabbed program pays for its toolkit once: two and three sessions in one
# process; and what the process costs before any session: its libraries
# loaded and an empty window, no connection.
read -r two_cpu two_mem < <(DISPLAY=$viewer measure "$client" 127.0.0.1 "$port" "$seconds" 2)
read -r tabs_cpu tabs_mem < <(DISPLAY=$viewer measure "$client" 127.0.0.1 "$port" "$seconds" 3)
read -r bare_cpu bare_mem < <(DISPLAY=$viewer measure "$client" 127.0.0.1 "$port" 2 0)

printf '%-34s %10s %12s\n' "client ($seconds s)" "CPU s" "peak MiB"
printf '%-34s %10s %12s   (runs: %s)\n' "xfreerdp3, one session (median)" "$ref_cpu" "$ref_mem" "${ref_cpus[*]}"
printf '%-34s %10s %12s   (runs: %s)\n' "vandrelle, one session (median)" "$our_cpu" "$our_mem" "${our_cpus[*]}"
printf '%-34s %10s %12s\n' "vandrelle, two sessions" "$two_cpu" "$two_mem"
printf '%-34s %10s %12s\n' "vandrelle, three sessions" "$tabs_cpu" "$tabs_mem"
printf '%-34s %10s %12s\n' "vandrelle, empty window (2 s)" "$bare_cpu" "$bare_mem"
python3 - "$ref_cpu" "$ref_mem" "$our_cpu" "$our_mem" "$two_cpu" "$two_mem" "$tabs_cpu" "$tabs_mem" <<'PY'
import sys
ref_cpu, ref_mem, *ours = map(float, sys.argv[1:])
for count, (cpu, mem) in enumerate(zip(ours[::2], ours[1::2]), start=1):
    print(f"ratio per session to xfreerdp3, {count} open:   CPU {cpu / count / ref_cpu:.2f}, "
          f"memory {mem / count / ref_mem:.2f}")
PY
