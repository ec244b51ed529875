#!/usr/bin/env bash
# Idle memory of an agent with a controller: one agent on a real TUN interface in a network
# namespace gets its network list from a controller served over HTTPS by the scripted test server
# (which checks every signature) and uploads metrics to it; a super peer runs on loopback; no
# traffic crosses the overlay. After every housekeeping pass (one metrics upload each) it prints
# the agent's resident memory, and at the end the growth per pass in each quarter of the run: a
# leak grows to the end, a warm-up levels off.
# Usage: bench/idle_soak.sh [BUILD_DIR] [MINUTES]
#   BUILD_DIR: a Release build with VALDORI_TEST_ROOTS=ON (the test server's CA is trusted) that
#   holds valdori-linux-host and valdori-super-peer (default build/release); MINUTES: default 60.
#   SOAK_WRAPPER, when set, goes before the host's command (e.g. "heaptrack -o /tmp/soak").
#   Needs root and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
minutes=${2:-60}
host="$build/examples/linux_host/valdori-linux-host"
source tests/e2e/two_agents.sh
two_agents_check_host
support=tests/support/http

work=$(mktemp -d)
PID_SERVER=
agent=
finish() {
  [ -z "$PID_SERVER" ] || stop_process "$PID_SERVER" || true
  # Under a wrapper the host is the wrapper's child: it gets the signal first.
  if [ -n "$agent" ] && [ "$agent" != "$PID_A" ]; then
    kill -TERM "$agent" 2>/dev/null || true
    for _ in $(seq 40); do kill -0 "$agent" 2>/dev/null && sleep 0.5; done
  fi
  two_agents_down
  rm -rf "$work"
}
trap finish EXIT

"$support/make_test_ca.sh" "$work"
export VALDORI_TEST_EXTRA_ROOTS="$work/ca.pem"
export VALDORI_UDP_ADDRS=127.0.0.1 VALDORI_UDP_PORT=0 VALDORI_MIN_POW_DIFFICULTY=4
secret=$(python3 -c 'import base64, os; print(base64.urlsafe_b64encode(os.urandom(32)).decode().rstrip("="))')
cat >"$work/routes.json" <<JSON
{
  "/api/nodes/me/networks/config.toml": {"hmac_secret": "$secret", "body_file": "$work/list.toml"},
  "/api/nodes/me/metrics": {"hmac_secret": "$secret", "status": 204}
}
JSON
python3 "$support/scripted_server.py" "$work/routes.json" "$work/requests.jsonl" --tls "$work/server.pem" \
  "$work/server.key" >"$work/server.port" 2>"$work/server.log" &
PID_SERVER=$!
wait_for_line "$work/server.port" '^[0-9]+$' 10 "$PID_SERVER" || { echo "server did not start"; exit 1; }

"$build/tools/valdori-super-peer" --network-id 1 --listen 127.0.0.1 --difficulty 4 --min-pow-difficulty 4 \
  >"$work/super_peer.url" 2>"$work/super_peer.log" &
PID_SUPER_PEER=$!
wait_for_line "$work/super_peer.url" '^udp://' 10 "$PID_SUPER_PEER" || { echo "super peer did not start"; exit 1; }

# A member of two controller networks, with a second member that never comes up.
id=0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a
PK_A=$(VALDORI_E2E_CONTROLLER_URL="https://127.0.0.1:$(head -n 1 "$work/server.port")/api" \
  VALDORI_E2E_CONTROLLER_SECRET="$secret" "$host" prepare "$work/a.toml" "$(head -n 1 "$work/super_peer.url")" \
  "controller://${id}77")
PK_B=$("$host" prepare "$work/b.toml" "$(head -n 1 "$work/super_peer.url")" "controller://${id}77")
for prefix in 77 79; do
  printf '\n[[network]]\nid = "%s%s"\nnetwork = "10.%s.0.0/24"\n' "$id" "$prefix" "$prefix"
  printf '\n[[network.node]]\npk = "%s"\nip = "10.%s.0.1"\nhostname = "alpha"\ngroups = ["soak"]\n' "$PK_A" "$prefix"
  printf '\n[[network.node]]\npk = "%s"\nip = "10.%s.0.2"\nhostname = "beta"\ngroups = ["soak"]\n' "$PK_B" "$prefix"
  printf '\n[[network.policy]]\nsource_groups = ["soak"]\ndestination_groups = ["soak"]\n'
done >"$work/list.toml"

ip netns add "$NS_A"
# shellcheck disable=SC2086 # the wrapper is words
${SOAK_WRAPPER:-} "$host" --log-level warn run "$work/a.toml" "$TUN_A" "$NS_A" "$work/a.dns" >"$work/a.log" 2>&1 &
PID_A=$!
wait_for_line "$work/a.log" "^applied ips=10.77.0.1/24,10.79.0.1/24 " 60 "$PID_A" ||
  { echo "the agent did not apply its networks"; cat "$work/a.log"; exit 1; }
# The host itself, also under a wrapper that runs it as a child.
agent=$(pgrep -n -f "^[^ ]*valdori-linux-host .*run $work/a.toml" || echo "$PID_A")

uploads() { grep -c '"PUT"' "$work/requests.jsonl" 2>/dev/null || true; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$agent/status"; }
echo "pass  seconds  rss_kb  change_kb"
started=$SECONDS
deadline=$((SECONDS + 60 * minutes))
seen=$(uploads)
previous=$(rss_kb)
readings=()
while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$agent" 2>/dev/null; do
  sleep 1
  now=$(uploads)
  [ "$now" -gt "$seen" ] || continue
  seen=$now
  rss=$(rss_kb)
  readings+=("$rss")
  printf '%4d  %7d  %6d  %+9d\n' "${#readings[@]}" "$((SECONDS - started))" "$rss" "$((rss - previous))"
  previous=$rss
done
kill -0 "$agent" 2>/dev/null || { echo "the agent ended"; tail -n 40 "$work/a.log"; exit 1; }

count=${#readings[@]}
quarter=$((count / 4))
[ "$quarter" -gt 0 ] || { echo "too few passes for a summary"; exit 0; }
for q in 0 1 2 3; do
  first=${readings[$((q * quarter))]}
  last=${readings[$(((q + 1) * quarter - 1))]}
  echo "quarter $((q + 1)): passes $((q * quarter + 1))-$(((q + 1) * quarter)), $first -> $last kB," \
    "$(((last - first) * 1000 / (quarter > 1 ? quarter - 1 : 1))) B per pass"
done
grep -E " (WARN|ERROR) |\[(warning|error)\]" "$work/a.log" | tail -n 5 || true
