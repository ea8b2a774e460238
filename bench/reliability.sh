#!/usr/bin/env bash
# make soak: the service against hostile and heavy clients, with figures.
#   1. 1,500 connections that never send against a 1,024-descriptor limit,
#      with a request answered while they are held (they are still in their
#      handshake: they may take only a share of the cap)
#   2. floods: 100 KB WebSocket commands nobody reads, a 1 GiB frame, 400,000
#      events for a client that never polls; RSS before, at the peak and after
#   3. a request body sent one byte a second
#   4. SOAK_SECONDS (default 300) of mixed WebSocket and long-poll load with
#      every answer counted (bench_transport --seconds)
#   5. video: SOAK_VIDEO_CYCLES (default 1,000) play/stop cycles of 9 play
#      windows and SOAK_VIDEO_DROPS (default 50) camera kill/restart cycles;
#      descriptors, threads and RSS at baseline, peak and end (soak_video)
# Ports 27440-27450 and those of bench_transport (27490-27499).
# Usage: bench/reliability.sh BUILD_DIR
set -uo pipefail
# As packaging/localservice-launch starts the service.
export G_SLICE=${G_SLICE:-always-malloc}
BUILD=${1:-build-bench}
CLIENT=$BUILD/bench/lsclient
SOAK_SECONDS=${SOAK_SECONDS:-300}
PORT=27440
WORK=$(mktemp -d)
SERVICE_PID=
cleanup() {
  [[ -n "$SERVICE_PID" ]] && kill "$SERVICE_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
FAILS=0
verdict() { if [[ "${1:-}" == ok ]]; then echo "ok"; else echo "FAULT"; FAILS=$((FAILS + 1)); fi; }

rss_mib() { awk '/^VmRSS:/ {printf "%.0f", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo 0; }
# start_service BINARY [ulimit -n]: the service in a folder of its own,
# input on a pipe (test hooks read it), output in $WORK/log.
start_service() {
  local dir=$WORK/service
  rm -rf "$dir"; mkdir -p "$dir"
  cp "$1" "$dir/localservice"
  printf '{"ServicePortStart": %d, "ServicePortEnd": %d, "SingleInstance": "soak-%d"}' $PORT $((PORT + 5)) $$ \
    > "$dir/LocalServiceConfig.json"
  rm -f "$WORK/in"; mkfifo "$WORK/in"
  ( cd "$dir"; [[ -n "${2:-}" ]] && ulimit -n "$2"; QT_QPA_PLATFORM=offscreen exec ./localservice <"$WORK/in" >"$WORK/log" 2>&1 ) &
  SERVICE_PID=$!
  exec 9>"$WORK/in"
  for _ in $(seq 100); do grep -q "listening on port" "$WORK/log" 2>/dev/null && return 0; sleep 0.1; done
  echo "service did not start"; cat "$WORK/log"; exit 1
}
stop_service() {
  local started=$(date +%s%N)
  kill -TERM "$SERVICE_PID"
  for _ in $(seq 600); do kill -0 "$SERVICE_PID" 2>/dev/null || break; sleep 0.05; done
  local ms=$(( ($(date +%s%N) - started) / 1000000 ))
  kill -0 "$SERVICE_PID" 2>/dev/null && { kill -KILL "$SERVICE_PID"; ms=">30000"; }
  wait "$SERVICE_PID" 2>/dev/null
  exec 9>&-
  SERVICE_PID=
  echo "$ms"
}
# peak_rss_during COMMAND...: runs it while sampling the service's RSS;
# prints the peak in MiB after the command's own output.
peak_rss_during() {
  local peak=0 r
  "$@" > "$WORK/out" &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do r=$(rss_mib "$SERVICE_PID"); (( r > peak )) && peak=$r; sleep 0.1; done
  wait "$pid"
  echo "$(cat "$WORK/out") | peak RSS $peak MiB"
}
answers() { "$CLIENT" http-new $PORT 1 | awk '{print ($6 == 1 && $8 == 0) ? "yes" : "no"}'; }

echo "== descriptor limit"
start_service "$BUILD/app/localservice" 1024
mkfifo "$WORK/hold"
exec 7<>"$WORK/hold"
"$CLIENT" tcp-idle $PORT 1500 <"$WORK/hold" >"$WORK/held" 7>&- &
for _ in $(seq 300); do [[ -s "$WORK/held" ]] && break; sleep 0.1; done
alive=$(kill -0 "$SERVICE_PID" 2>/dev/null && echo yes || echo no)
during=$(answers)
exec 7>&-; wait $! 2>/dev/null
sleep 0.5
after=$(answers)
echo "$(grep -o 'connection cap [0-9]*' "$WORK/log")"
echo "1,500 connections at a 1,024-descriptor limit: service alive $alive, $(grep -c 'connections refused' "$WORK/log") refusal episode(s) and $(grep -c 'handshakes over their share' "$WORK/log") handshake-share episode(s) logged, answers while held $during, afterwards $after $(verdict $([[ $alive == yes && $during == yes && $after == yes ]] && echo ok))"
stop_service >/dev/null

echo "== memory floods"
start_service "$BUILD/app/localservice"
"$CLIENT" ws-flood $PORT 100000 3 >/dev/null
echo "SIGTERM at the end of 3 s of 100 KB WebSocket commands: exit in $(stop_service) ms"
start_service "$BUILD/app/localservice"
before=$(rss_mib "$SERVICE_PID")
flood=$(peak_rss_during "$CLIENT" ws-flood $PORT 100000 3)
serving=$(answers)
sleep 11  # one sweep
echo "100 KB WebSocket commands for 3 s, answers never read: $flood; RSS before $before MiB, 11 s after $(rss_mib "$SERVICE_PID") MiB; still answering $serving $(verdict $([[ $serving == yes ]] && echo ok))"
frame=$(peak_rss_during "$CLIENT" ws-bigframe $PORT 400)
echo "1 GiB frame, 400 MiB of it sent: $frame $(verdict $([[ $frame == *"closed yes"* ]] && echo ok))"
echo "SIGTERM after the floods: exit in $(stop_service) ms"

start_service "$BUILD/app/localservice-testhooks"
before=$(rss_mib "$SERVICE_PID")
started=$(date +%s%N)
awk 'BEGIN { for (i = 0; i < 400000; i++) printf "emit {\"cmd\":\"video.onDrawEvent\",\"uuid\":\"never-polls\",\"n\":%d}\n", i }' >&9
for _ in $(seq 600); do "$CLIENT" http-new $PORT 1 >/dev/null; [[ $(answers) == yes ]] && break; sleep 0.1; done
sleep 2
during=$(rss_mib "$SERVICE_PID")
latency=$("$CLIENT" http-new $PORT 200 | awk '{print $2}')
polls=$("$CLIENT" http-body $PORT 20 '{"cmd":"system.get","uuid":"never-polls"}' | awk '{print $2}')
echo "poll 10" >&9
sleep 0.5
others=$("$CLIENT" http-body $PORT 10 '{"cmd":"system.get","uuid":"other"}' | awk '{print $2 / 1000}')
echo "400,000 events for a client that never polls: RSS $before MiB before, $during MiB after; a command meanwhile p50 $latency us; its polls p50 $polls us; another client's poll (10 ms time-out) p50 $others ms; $(grep -c 'event queue of never-polls full' "$WORK/log") overflow line(s) logged"
echo "SIGTERM: exit in $(stop_service) ms"

echo "== slow body"
start_service "$BUILD/app/localservice"
slow=$("$CLIENT" slow-body $PORT 45)
echo "body sent one byte a second: $slow $(verdict $([[ $slow == "closed yes"* ]] && echo ok))"
stop_service >/dev/null

echo "== mixed soak ($SOAK_SECONDS s)"
if "$BUILD/bench/bench_transport" --seconds "$SOAK_SECONDS" | tail -1; then :; else FAILS=$((FAILS + 1)); fi
"$BUILD/bench/soak_video" 2>/dev/null || FAILS=$((FAILS + 1))
echo "soak done: $FAILS fault(s)"
exit $(( FAILS > 0 ))
