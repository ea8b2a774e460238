#!/usr/bin/env bash
# Transport round trips and capacity, measured with the lean client
# (bench/lsclient.c) against references run in the same command: a bare
# single-threaded QWebSocketServer echo (echo_server) and nginx serving a
# static file. The service and its reference are measured in turn, the order
# swapped every round, over several rounds; every figure is the median of
# the rounds with their range. Every process runs on one CPU (BENCH_CPU,
# default the last one): each round trip is then a direct hand-over between
# client and server, where waking an idle second core made single runs jump
# between about 17 and 80 us. Ports 27450-27499.
# Usage: bench/transport.sh BUILD_DIR [SERVICE_BINARY]
set -euo pipefail
BUILD=${1:-build-bench}
SERVICE=${2:-$BUILD/app/localservice}
CLIENT_BIN=$BUILD/bench/lsclient
ECHO=$BUILD/bench/echo_server
PIN=()
if command -v taskset >/dev/null; then PIN=(taskset -c "${BENCH_CPU:-$(( $(nproc) - 1 ))}"); fi
client() { "${PIN[@]}" "$CLIENT_BIN" "$@"; }
ROUNDS=${BENCH_ROUNDS:-5}
COUNT=${BENCH_COUNT:-2000}
IDLE_CLIENTS=${BENCH_IDLE_CLIENTS:-10000}
PORT=27450 ECHO_PORT=27470 NGINX_PORT=27480

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
wait_port() {
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
  echo "nothing listens on port $1" >&2; return 1
}

# The service in a folder of its own with its configuration.
mkdir -p "$WORK/service"
cp "$SERVICE" "$WORK/service/localservice"
cat > "$WORK/service/LocalServiceConfig.json" <<JSON
{"ServicePortStart": $PORT, "ServicePortEnd": $((PORT + 5)), "SingleInstance": "bench-$$",
 "MaxConnections": $(( (IDLE_CLIENTS > 2000 ? IDLE_CLIENTS : 2000) + 100 ))}
JSON
(cd "$WORK/service" && QT_QPA_PLATFORM=offscreen exec "${PIN[@]}" ./localservice >log.txt 2>&1) &
SERVICE_PID=$!; PIDS+=("$SERVICE_PID")
"${PIN[@]}" "$ECHO" "$ECHO_PORT" >/dev/null 2>&1 & ECHO_PID=$!; PIDS+=("$ECHO_PID")

NGINX=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null || true)
if [[ -n "$NGINX" ]]; then
  mkdir -p "$WORK/nginx/www" "$WORK/nginx/logs"
  printf '%s' '{"errorCode":0,"errorModule":0,"localServiceVersion":"1.0.3","sequence":"1","uuid":"bench"}' \
    > "$WORK/nginx/www/answer.json"
  cat > "$WORK/nginx/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log;
events { worker_connections 1024; }
http { access_log off; client_body_temp_path $WORK/nginx/body; proxy_temp_path $WORK/nginx/proxy;
  fastcgi_temp_path $WORK/nginx/fastcgi; uwsgi_temp_path $WORK/nginx/uwsgi; scgi_temp_path $WORK/nginx/scgi;
  default_type text/html; keepalive_requests 100000;
  server { listen 127.0.0.1:$NGINX_PORT; root $WORK/nginx/www; location / { } } }
CONF
  "${PIN[@]}" "$NGINX" -p "$WORK/nginx" -e "$WORK/nginx/logs/error.log" -c "$WORK/nginx/nginx.conf" 2>/dev/null & PIDS+=("$!")
else
  echo "nginx not found: install it with scripts/install-deps bench"; exit 1
fi
wait_port $PORT; wait_port $ECHO_PORT; wait_port $NGINX_PORT

# measure NAME COMMAND... : appends "p50 p99" of one run to $WORK/NAME
measure() {
  local name=$1; shift
  "$@" | awk '{print $2, $4}' >> "$WORK/$name"
}
# Warm-up.
client ws-rtt $PORT 300 >/dev/null; client ws-rtt $ECHO_PORT 300 raw >/dev/null
client http-new $PORT 200 >/dev/null; client http-new $NGINX_PORT 200 /answer.json >/dev/null
for round in $(seq "$ROUNDS"); do
  pairs=("ws|client ws-rtt $PORT $COUNT|client ws-rtt $ECHO_PORT $COUNT raw"
         "new|client http-new $PORT $COUNT|client http-new $NGINX_PORT $COUNT /answer.json"
         "keep|client http-keep $PORT $COUNT|client http-keep $NGINX_PORT $COUNT /answer.json")
  for pair in "${pairs[@]}"; do
    IFS='|' read -r name ours reference <<<"$pair"
    if (( round % 2 )); then measure "$name.ours" $ours; measure "$name.ref" $reference
    else measure "$name.ref" $reference; measure "$name.ours" $ours; fi
  done
done

# summary NAME LABEL REFERENCE TARGET [p99]: the ratio of the p50s (of the
# p99s with "p99")
summary() {
  paste -d' ' "$WORK/$1.ours" "$WORK/$1.ref" | awk -v label="$2" -v ref="$3" -v target="$4" -v tail="${5:-}" '
    function median(a, n,   i, j, t) { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                                       return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
    function lo(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; i++) if (a[i] < m) m = a[i]; return m }
    function hi(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; i++) if (a[i] > m) m = a[i]; return m }
    { n++; o50[n] = $1; o99[n] = $2; r50[n] = $3; r99[n] = $4; q[n] = tail ? $2 / $4 : $1 / $3 }
    END {
      ratio = median(q, n)
      printf "%s: p50 %.0f us (%.0f-%.0f), p99 %.0f us (%.0f-%.0f) | %s p50 %.0f us (%.0f-%.0f), p99 %.0f us (%.0f-%.0f) | %s ratio %.2fx (%.2f-%.2f over %d rounds, target <= %sx) %s\n",
        label, median(o50, n), lo(o50, n), hi(o50, n), median(o99, n), lo(o99, n), hi(o99, n),
        ref, median(r50, n), lo(r50, n), hi(r50, n), median(r99, n), lo(r99, n), hi(r99, n),
        tail ? "p99" : "p50", ratio, lo(q, n), hi(q, n), n, target, ratio <= target ? "ok" : "OVER" }'
}
summary ws "WebSocket window.getLocalServiceVersion" "echo" 1.2
summary new "HTTP body form, new connection each" "nginx static file" 2.5
summary new "HTTP body form, new connection each (tail)" "nginx static file" 2 p99
summary keep "HTTP body form, kept-alive connection" "nginx static file" 2

# Throughput of 100 WebSocket clients, each with one command in flight: the
# client on another CPU than the server (when there is one), so that the
# server's CPU is the one that saturates; A/B interleaved as above. Also the
# server's CPU time per command (user + system, from /proc): on a machine
# shared with other work the rates follow the load, this much less.
CONC_CLIENTS=${BENCH_CONC_CLIENTS:-100} CONC_SECONDS=${BENCH_CONC_SECONDS:-3}
CONC_PIN=("${PIN[@]}")
if (( ${#PIN[@]} )) && (( $(nproc) > 1 )); then CONC_PIN=(taskset -c 0); fi
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# conc OUT PID PORT [raw]: appends "rate p50 cpu-us-per-command"
conc() {
  local out=$1 pid=$2 before result; shift 2
  before=$(cpu_ticks "$pid")
  result=$("${CONC_PIN[@]}" "$CLIENT_BIN" ws-conc "$1" "$CONC_CLIENTS" "$CONC_SECONDS" "${@:2}")
  awk -v t="$(( $(cpu_ticks "$pid") - before ))" -v hz="$(getconf CLK_TCK)" '{print $2, $4, t * 1e6 / hz / $8}' \
    <<<"$result" >> "$WORK/$out"
}
for round in $(seq "$ROUNDS"); do
  if (( round % 2 )); then conc conc.ours "$SERVICE_PID" $PORT; conc conc.ref "$ECHO_PID" $ECHO_PORT raw
  else conc conc.ref "$ECHO_PID" $ECHO_PORT raw; conc conc.ours "$SERVICE_PID" $PORT; fi
done
paste -d' ' "$WORK/conc.ours" "$WORK/conc.ref" | awk -v clients="$CONC_CLIENTS" '
  function median(a, n,   i, j, t) { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                                     return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
  function lo(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; i++) if (a[i] < m) m = a[i]; return m }
  function hi(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; i++) if (a[i] > m) m = a[i]; return m }
  { n++; o[n] = $1; r[n] = $4; q[n] = $1 / $4; o50[n] = $2; r50[n] = $5; oc[n] = $3; rc[n] = $6; qc[n] = $6 / $3 }
  END {
    ratio = median(q, n)
    printf "%d concurrent WebSocket clients: %.0f commands/s (%.0f-%.0f), p50 %.0f us, %.1f us CPU each | echo %.0f/s (%.0f-%.0f), p50 %.0f us, %.1f us CPU each | ratio %.2fx (%.2f-%.2f over %d rounds, target >= 0.8x) %s; by CPU per command %.2fx (%.2f-%.2f)\n",
      clients, median(o, n), lo(o, n), hi(o, n), median(o50, n), median(oc, n), median(r, n), lo(r, n), hi(r, n), median(r50, n), median(rc, n),
      ratio, lo(q, n), hi(q, n), n, (ratio >= 0.8 ? "ok" : "UNDER"), median(qc, n), lo(qc, n), hi(qc, n) }'

# User-space instructions per WebSocket command, counted by callgrind in the
# service and in the echo under the same loads (100 clients, and one):
# unlike times, counts do not follow the load of a shared machine.
if command -v valgrind >/dev/null && command -v callgrind_control >/dev/null; then
  CG_PORT=27462 CG_ECHO_PORT=27475 CG_SECONDS=${BENCH_CALLGRIND_SECONDS:-10}
  VG=(valgrind --tool=callgrind --instr-atstart=no --dump-instr=no)
  mkdir -p "$WORK/cg/service"
  cp "$SERVICE" "$WORK/cg/service/localservice"
  cat > "$WORK/cg/service/LocalServiceConfig.json" <<JSON
{"ServicePortStart": $CG_PORT, "ServicePortEnd": $((CG_PORT + 5)), "SingleInstance": "bench-cg-$$"}
JSON
  (cd "$WORK/cg/service" && QT_QPA_PLATFORM=offscreen exec "${VG[@]}" --callgrind-out-file="$WORK/cg/service.%p" \
    ./localservice >log.txt 2>&1) & CG_SERVICE=$!; PIDS+=("$CG_SERVICE")
  "${VG[@]}" --callgrind-out-file="$WORK/cg/echo.%p" "$ECHO" "$CG_ECHO_PORT" >/dev/null 2>&1 & CG_ECHO=$!; PIDS+=("$CG_ECHO")
  wait_port $CG_PORT; wait_port $CG_ECHO_PORT
  # counted PID NAME LSCLIENT-ARGS...: prints instructions per command of one
  # run (after a run of the same load to warm up).
  counted() {
    local pid=$1 name=$2 result dump; shift 2
    callgrind_control -i on "$pid" >/dev/null 2>&1
    "$CLIENT_BIN" "$@" >/dev/null
    callgrind_control -z "$pid" >/dev/null 2>&1
    result=$("$CLIENT_BIN" "$@")
    callgrind_control -d "$name" "$pid" >/dev/null 2>&1
    dump=$(ls -t "$WORK"/cg/*."$pid".* | head -1)
    awk -v n="$(awk '{for (i = 1; i < NF; i++) if ($i == "n") print $(i + 1)}' <<<"$result")" \
      '/^(summary|totals):/ {printf "%.0f", $2 / n; exit}' "$dump"
  }
  c_ours=$(counted "$CG_SERVICE" conc ws-conc $CG_PORT 100 "$CG_SECONDS")
  c_ref=$(counted "$CG_ECHO" conc ws-conc $CG_ECHO_PORT 100 "$CG_SECONDS" raw)
  r_ours=$(counted "$CG_SERVICE" rtt ws-rtt $CG_PORT 3000)
  r_ref=$(counted "$CG_ECHO" rtt ws-rtt $CG_ECHO_PORT 3000 raw)
  kill "$CG_SERVICE" "$CG_ECHO" 2>/dev/null || true
  awk -v co="$c_ours" -v cr="$c_ref" -v ro="$r_ours" -v rr="$r_ref" 'BEGIN {
    printf "Instructions per WebSocket command (callgrind, user space): 100 clients %d against the echo'"'"'s %d (%.2fx); one client %d against %d (%.2fx)\n", co, cr, co / cr, ro, rr, ro / rr }'
else
  echo "Instructions per WebSocket command: valgrind not found (scripts/install-deps bench)"
fi

# Latency with many idle WebSocket clients open, against the same service
# without them.
client http-new $PORT "$COUNT" | awk '{print $2}' > "$WORK/flat.before"
mkfifo "$WORK/hold"
exec 7<>"$WORK/hold"
client ws-idle $PORT 2000 <"$WORK/hold" >"$WORK/idle2000" 7>&- & PIDS+=("$!")
for _ in $(seq 600); do [[ -s "$WORK/idle2000" ]] && break; sleep 0.1; done
client http-new $PORT "$COUNT" | awk '{print $2}' > "$WORK/flat.during"
exec 7>&-
wait "${PIDS[-1]}" 2>/dev/null || true
awk -v b="$(cat "$WORK/flat.before")" -v d="$(cat "$WORK/flat.during")" -v open="$(cat "$WORK/idle2000")" \
  'BEGIN { r = d / b; printf "HTTP new connection with 2,000 idle WebSocket clients (%s): p50 %.0f us, without %.0f us: %+.0f%% (target within 20%%) %s\n", open, d, b, (r - 1) * 100, (r <= 1.2 && r >= 0.8) ? "ok" : "OVER" }'

# Memory with many idle WebSocket clients.
sleep 1
before=$(rss_kib "$SERVICE_PID")
mkfifo "$WORK/hold2"
exec 8<>"$WORK/hold2"
client ws-idle $PORT "$IDLE_CLIENTS" <"$WORK/hold2" >"$WORK/idlemany" 8>&- & PIDS+=("$!")
for _ in $(seq 1800); do [[ -s "$WORK/idlemany" ]] && break; sleep 0.1; done
during=$(rss_kib "$SERVICE_PID")
threads=$(ls "/proc/$SERVICE_PID/task" | wc -l)
exec 8>&-
wait "${PIDS[-1]}" 2>/dev/null || true
sleep 11
after=$(rss_kib "$SERVICE_PID")
awk -v b="$before" -v d="$during" -v a="$after" -v open="$(cat "$WORK/idlemany")" -v t="$threads" \
  'BEGIN { printf "%s idle WebSocket clients: service RSS %.0f MiB (before %.0f MiB, after they left %.0f MiB), %d threads (target < 1024 MiB) %s\n", open, d / 1024, b / 1024, a / 1024, t, d < 1048576 ? "ok" : "OVER" }'
