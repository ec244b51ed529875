#!/usr/bin/env bash
# End-to-end fault injection. Two agents on real TUN interfaces, each with its whole underlay
# (UDP and TCP) inside its own network namespace, reach the super peer's namespace through veth
# pairs and a bridge; they bind what they find on their interfaces, on the port their key gives.
#   1. The super peer is killed while A pings B over the direct path and restarted on the same
#      address: the ping goes on, and both nodes register again within two housekeeping
#      intervals.
#   2. UDP is dropped in both agents' namespaces: traffic moves to the TCP link through the super
#      peer; when UDP returns, the direct path comes back.
#   3. The network document is replaced by garbage (the agents report the failed retrieval and
#      keep their state), then by one without this node (the address is withdrawn), then
#      restored (traffic resumes).
#   4. A loop of configuration saves is killed with SIGKILL a hundred times at random moments:
#      the file always holds a whole configuration with the same identity.
# Usage: faults.sh VALDORI_E2E_HOST VALDORI_SUPER_PEER VALDORI_E2E_SAVE_LOOP
set -euo pipefail
host=$1
super_peer=$2
save_loop=$3
source "$(dirname "$0")/two_agents.sh"
two_agents_check_host
command -v nft >/dev/null || { echo "SKIP: nft is missing"; exit 77; }

NS_S="valdori-e2e-$$-s"
UNDERLAY_S=10.199.0.1
UNDERLAY_A=10.199.0.2
UNDERLAY_B=10.199.0.3
SUPER_PEER_UDP=4000
SUPER_PEER_TCP=4001
SUPER_PEER_KEY=$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')
HOUSEKEEPING_MS=2000
# Short, so that a dropped path is given up (and the TCP link opened) within seconds.
export VALDORI_HOUSEKEEPING_INTERVAL=$HOUSEKEEPING_MS VALDORI_HELLO_TIMEOUT=5000 VALDORI_MIN_POW_DIFFICULTY=4
unset VALDORI_UDP_ADDRS VALDORI_UDP_PORT

work=$(mktemp -d)
finish() {
  local status=$?
  two_agents_down
  ip netns del "$NS_S" 2>/dev/null || true
  e2e_report "$status" "$work"
}
trap finish EXIT

# start_super_peer LOG: the super peer on the bridge, with the same identity and ports each time.
start_super_peer() {
  ip netns exec "$NS_S" "$super_peer" --network-id 1 --listen "$UNDERLAY_S" --udp-port "$SUPER_PEER_UDP" \
    --tcp-port "$SUPER_PEER_TCP" --secret-key "$SUPER_PEER_KEY" --min-pow-difficulty 4 --log-level trace \
    >"$work/super_peer.url" 2>"$1" &
  PID_SUPER_PEER=$!
  wait_for_line "$work/super_peer.url" '^udp://' 10 "$PID_SUPER_PEER"
}

# join NS ADDRESS PORT PEER: the namespace's eth0, with ADDRESS, on the bridge through PORT;
# counters of its UDP to PEER (the direct path) and of its TCP to the super peer (the link).
join() {
  local ns=$1 address=$2 port=$3 peer=$4
  ip -n "$NS_S" link add "$port" type veth peer name eth0 netns "$ns"
  ip -n "$NS_S" link set "$port" master br0 up
  ip -n "$ns" addr add "$address/24" dev eth0
  ip -n "$ns" link set eth0 up
  ip -n "$ns" link set lo up
  ip netns exec "$ns" nft -f - <<RULES
table inet e2e_count {
  counter direct {}
  counter link {}
  chain out {
    type filter hook output priority -10; policy accept;
    oifname "eth0" ip daddr $peer meta l4proto udp counter name "direct"
    oifname "eth0" ip daddr $UNDERLAY_S tcp dport $SUPER_PEER_TCP counter name "link"
  }
}
RULES
}

packets() { ip netns exec "$1" nft list counter inet e2e_count "$2" | grep -oE 'packets [0-9]+' | grep -oE '[0-9]+'; }

ip netns add "$NS_S"
ip netns add "$NS_A"
ip netns add "$NS_B"
ip -n "$NS_S" link add br0 type bridge
ip -n "$NS_S" addr add "$UNDERLAY_S/24" dev br0
ip -n "$NS_S" link set br0 up
join "$NS_A" "$UNDERLAY_A" port_a "$UNDERLAY_B"
join "$NS_B" "$UNDERLAY_B" port_b "$UNDERLAY_A"

start_super_peer "$work/super_peer.log"
super_peer_url=$(head -n 1 "$work/super_peer.url")
NETWORK_DOCUMENT="$work/network.toml"
PK_A=$("$host" prepare "$work/a.toml" "$super_peer_url" "file://$NETWORK_DOCUMENT" 2>>"$work/prepare.log")
PK_B=$("$host" prepare "$work/b.toml" "$super_peer_url" "file://$NETWORK_DOCUMENT" 2>>"$work/prepare.log")
write_network_document alpha beta
# Each host runs inside its namespace, so its TUN interface and its sockets are there.
ip netns exec "$NS_A" "$host" run "$work/a.toml" "$TUN_A" "$NS_A" "$work/a.dns" >"$work/a.log" 2>&1 &
PID_A=$!
ip netns exec "$NS_B" "$host" run "$work/b.toml" "$TUN_B" "$NS_B" "$work/b.dns" >"$work/b.log" 2>&1 &
PID_B=$!
wait_for_line "$work/a.log" "^applied ips=$IP_A/24 " 20 "$PID_A" || { echo "agent A applied no address"; exit 1; }
wait_for_line "$work/b.log" "^applied ips=$IP_B/24 " 20 "$PID_B" || { echo "agent B applied no address"; exit 1; }

# ping_burst COUNT: COUNT pings from A to B answered within 10 seconds.
ping_burst() { in_a ping -q -c "$1" -i 0.1 -w 10 "$IP_B" >/dev/null; }

# goes_direct: a burst of pings from A to B sends at least as many datagrams straight to B.
goes_direct() {
  local deadline=$((SECONDS + 30)) before
  while [ "$SECONDS" -lt "$deadline" ]; do
    before=$(packets "$NS_A" direct)
    if ping_burst 10 && [ $(($(packets "$NS_A" direct) - before)) -ge 10 ]; then return 0; fi
    sleep 0.5
  done
  return 1
}
check "A and B find each other and ping over the direct path" goes_direct
# Found on the interfaces: the underlay address only, neither loopback nor the agent's tunnel, on
# the port A's key gives (22528 plus its first two bytes modulo 43008).
binds_underlay_only() {
  local bound port=$((22528 + 16#${PK_A:0:4} % 43008))
  bound=$(in_a ss -Hlun | awk '{print $4}')
  grep -qx "$UNDERLAY_A:$port" <<<"$bound" && ! grep -qE "^($IP_A|127\.0\.0\.1|\[::1\]):" <<<"$bound" ||
    { echo "$bound (port $port expected)"; return 1; }
}
check "A's node binds its underlay address on its key's port, not loopback or its tunnel" binds_underlay_only

# 1. The super peer killed during the ping and restarted on the same address.
super_peer_restart() {
  in_a ping -q -c 40 -i 0.25 -W 1 "$IP_B" >"$work/ping.out" 2>&1 &
  local ping=$!
  sleep 2
  kill -KILL "$PID_SUPER_PEER"
  { wait "$PID_SUPER_PEER" || true; } 2>/dev/null
  sleep 2
  start_super_peer "$work/super_peer_again.log" || return 1
  # Registered: the restarted super peer has had a HELLO from each node.
  local registered=$((SECONDS + 2 * HOUSEKEEPING_MS / 1000 + 1))
  until grep -q "HELLO from $PK_A" "$work/super_peer_again.log" && grep -q "HELLO from $PK_B" "$work/super_peer_again.log"; do
    [ "$SECONDS" -le "$registered" ] || { echo "not registered again in time"; return 1; }
    sleep 0.1
  done
  wait "$ping" || { cat "$work/ping.out"; return 1; }
  grep -q " 40 received" "$work/ping.out" || { cat "$work/ping.out"; return 1; }
}
check "a super peer killed during a direct ping: the ping goes on, both nodes register again" super_peer_restart

# 2. UDP dropped in both agents' namespaces, then let through again.
block_udp() {
  ip netns exec "$1" nft -f - <<'RULES'
table inet e2e_block {
  chain in { type filter hook input priority 0; policy accept; iifname "eth0" meta l4proto udp drop; }
  chain out { type filter hook output priority 0; policy accept; oifname "eth0" meta l4proto udp drop; }
}
RULES
}
tcp_fallback() {
  block_udp "$NS_A"
  block_udp "$NS_B"
  local deadline=$((SECONDS + 40))
  until in_a ping -q -c 1 -W 1 "$IP_B" >/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "no ping over the TCP link"; return 1; }
  done
  local before
  before=$(packets "$NS_A" link)
  ping_burst 10 && [ $(($(packets "$NS_A" link) - before)) -ge 10 ]
}
check "with UDP dropped, ping goes over the TCP link through the super peer" tcp_fallback
udp_returns() {
  ip netns exec "$NS_A" nft delete table inet e2e_block
  ip netns exec "$NS_B" nft delete table inet e2e_block
  goes_direct
}
check "when UDP returns, the direct path comes back" udp_returns

# 3. The network document broken, emptied of the nodes, and restored.
count_lines() { grep -cE "$2" "$1" || true; }
# wait_for_more FILE REGEX COUNT PID: until FILE has more than COUNT lines matching REGEX.
wait_for_more() {
  local deadline=$((SECONDS + 25))
  until [ "$(count_lines "$1" "$2")" -gt "$3" ]; do
    [ "$SECONDS" -lt "$deadline" ] && kill -0 "$4" 2>/dev/null || return 1
    sleep 0.2
  done
}
garbage_document() {
  local failures
  failures=$(count_lines "$work/a.log" "Failed to retrieve network config: ")
  printf 'network = [not toml\n' >"$NETWORK_DOCUMENT.partial"
  mv "$NETWORK_DOCUMENT.partial" "$NETWORK_DOCUMENT"
  wait_for_more "$work/a.log" "Failed to retrieve network config: " "$failures" "$PID_A" || return 1
  # The previous state stays applied, and traffic with it.
  in_a ip -4 addr show dev "$TUN_A" | grep -q "$IP_A/24" && ping_burst 3
}
check "a garbage network document is reported and the network stays up" garbage_document
document_without_a() {
  local withdrawn
  withdrawn=$(count_lines "$work/a.log" "^applied ips= routes= dns=\$")
  write_network_document beta
  wait_for_more "$work/a.log" "^applied ips= routes= dns=\$" "$withdrawn" "$PID_A" &&
    ! in_a ip -4 addr show dev "$TUN_A" | grep -q inet
}
check "a document without this node withdraws its address" document_without_a
document_restored() {
  local applied
  applied=$(count_lines "$work/a.log" "^applied ips=$IP_A/24 ")
  write_network_document alpha beta
  wait_for_more "$work/a.log" "^applied ips=$IP_A/24 " "$applied" "$PID_A" &&
    in_a ping -q -c 1 -w 15 "$IP_B" >/dev/null && ping_burst 5
}
check "the restored document brings the network and its traffic back" document_restored
check "both hosts ran through it all and shut down cleanly" two_agents_stop_hosts

# 4. Configuration saves killed at random moments.
killed_saves() {
  local config="$work/saves.toml" pk shown i
  pk=$("$host" prepare "$config" "$super_peer_url" "file://$NETWORK_DOCUMENT" 2>>"$work/prepare.log") || return 1
  for i in $(seq 100); do
    "$save_loop" loop "$config" >"$work/saving" 2>>"$work/save_loop.log" &
    local saver=$!
    until grep -q saving "$work/saving" 2>/dev/null; do
      kill -0 "$saver" 2>/dev/null || { echo "round $i: the saver stopped"; return 1; }
      sleep 0.01
    done
    sleep "$(printf '0.%03d' $((RANDOM % 40)))"
    kill -KILL "$saver"
    { wait "$saver" || true; } 2>/dev/null
    shown=$("$save_loop" show "$config") || { echo "round $i: the file does not load"; return 1; }
    case $shown in
      "$pk -" | "$pk 1000" | "$pk 1001") ;;
      *) echo "round $i: found '$shown'"; return 1 ;;
    esac
  done
}
check "a hundred kills during configuration saves leave a whole file with the identity" killed_saves
[ "$FAILED" -eq 0 ]
