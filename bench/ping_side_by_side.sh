#!/usr/bin/env bash
# Ping through two builds at the same time: each build's pair of agents (bench/tunnel_throughput.sh's
# set-up, tests/e2e/two_agents.sh) in namespaces of its own, both pinged in the same seconds, so
# that a shared machine's load falls on both alike. Prints per build the round trip (average and
# median) and the CPU time the agents' lane threads used per ping (/proc/.../schedstat).
# Usage: bench/ping_side_by_side.sh BUILD_DIR_1 BUILD_DIR_2 [COUNT]   (COUNT pings 5 ms apart,
#   default 4000). Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$1" = --one ]; then  # one pair, in a process of its own: the names carry its PID
  build=$2 count=$3
  work=$(mktemp -d)
  source tests/e2e/two_agents.sh
  trap 'two_agents_down; rm -rf "$work"' EXIT
  TWO_AGENTS_HOST_OPTIONS="--log-level error"
  two_agents_up "$build/examples/linux_host/valdori-linux-host" "$build/tools/valdori-super-peer" "$work" >/dev/null 2>&1
  ip netns exec "$NS_A" ping -q -c 1 -w 15 "$IP_B" >/dev/null
  sleep 3  # the direct path answers
  lane_cpu() {
    local total=0 task
    for task in /proc/"$PID_A"/task/* /proc/"$PID_B"/task/*; do
      [ "$(cat "$task/comm")" = valdori-lane ] && total=$((total + $(cut -d' ' -f1 "$task/schedstat")))
    done
    echo "$total"
  }
  before=$(lane_cpu)
  ip netns exec "$NS_A" ping -c "$count" -i 0.005 "$IP_B" >"$work/ping.txt"
  after=$(lane_cpu)
  average=$(sed -n 's/.*= [0-9.]*\/\([0-9.]*\)\/.*/\1/p' "$work/ping.txt")
  median=$(sed -n 's/.*time=\([0-9.]*\) ms/\1/p' "$work/ping.txt" | sort -n | awk '{t[NR] = $1} END {print t[int((NR + 1) / 2)]}')
  echo "$build: round trip $average ms average, $median ms median; lanes $(((after - before) / count / 1000)) us per ping"
  exit 0
fi

count=${3:-4000}
"$0" --one "$1" "$count" &
first=$!
"$0" --one "$2" "$count"
wait "$first"
echo "load $(cut -d' ' -f1-3 /proc/loadavg)"
