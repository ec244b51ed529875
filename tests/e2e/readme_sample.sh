#!/usr/bin/env bash
# End-to-end: the README's host sample (examples/readme_sample/run_agent.c), started where no
# configuration file exists yet, joins the network it is given. It runs inside a network namespace
# of its own, with its TUN interface there and no super peer to reach: joining needs only the
# network document, a local file: the README's sample document with the node's key filled in once
# the host has printed it. Checks that the host applies the node's address to the interface, stops
# cleanly, and that the status report the sample prints shows the network joined with that address.
# Usage: readme_sample.sh VALDORI_README_SAMPLE SAMPLE_DOCUMENT
set -euo pipefail
sample=$1 sample_document=$2
source "$(dirname "$0")/two_agents.sh"
two_agents_check_host
two_agents_work_dir

export VALDORI_MIN_POW_DIFFICULTY=4 # the new identity found at once
NETWORK_DOCUMENT="$work/network.toml"
url="file://$NETWORK_DOCUMENT"
ip netns add "$NS_A"
# Started as a command of its own (not through in_a, a function): $! is then the host's process.
ip netns exec "$NS_A" "$sample" "$work/valdori.toml" "$url" "$TUN_A" "$NS_A" "$work/a.dns" \
  >"$work/host.log" 2>"$work/host_stderr.log" &
PID_A=$!
wait_for_line "$work/host.log" '^node [0-9a-f]{64}$' 20 "$PID_A" || { echo "the host printed no key"; exit 1; }
PK_A=$(sed -n 's/^node //p' "$work/host.log")
# The sample's member is alpha at IP_A in OVERLAY_NET (two_agents.sh).
sed "s/NODE_PUBLIC_KEY/$PK_A/" "$sample_document" >"$NETWORK_DOCUMENT.partial"
mv "$NETWORK_DOCUMENT.partial" "$NETWORK_DOCUMENT" # never read half-written

# The first housekeeping pass ran at start, most likely before the document listed the node; the
# next comes 10 s later.
check "the host applies the node's address" wait_for_line "$work/host.log" "^applied ips=$IP_A/24 " 25 "$PID_A"
interface_has_address() { in_a ip -4 addr show dev "$TUN_A" | grep -q "inet $IP_A/24 "; }
check "the interface has the address" interface_has_address
stop_host() {
  local status=0
  stop_process "$PID_A" || status=$?
  PID_A=
  [ "$status" -eq 0 ] || { echo "the host exited with $status"; return 1; }
}
check "the host stops cleanly" stop_host
# The report's entry for the network: its URL line, then the lines indented below it.
report_shows_joined() {
  local entry
  entry=$(awk -v head="  $url:" '$0 == head { inside = 1; next } inside && !/^    / { exit } inside' "$work/host.log")
  if ! grep -qx "    Status: Ok" <<<"$entry" || ! grep -qx "    IP: $IP_A/24" <<<"$entry"; then
    sed -n '/^Networks:/,$p' "$work/host.log"
    return 1
  fi
}
check "the status report shows the network joined, with the address" report_shows_joined
[ "$FAILED" -eq 0 ]
