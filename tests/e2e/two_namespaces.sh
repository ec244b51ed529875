#!/usr/bin/env bash
# End-to-end: two agents on real TUN interfaces in two network namespaces (two_agents.sh).
# Checks that ping works both ways through the overlay, that drill in namespace A resolves B's
# host name through the DNS responder address A's host was given, that A's host gives its
# interface the MTU A's agent uses, and that a packet above B's MTU with Don't Fragment set is
# answered by B's agent with that MTU; then that B leaves the network when the document no longer
# lists it; and that A's host reads the mtu key's value as TOML writes it, or refuses to start.
# Usage: two_namespaces.sh VALDORI_LINUX_HOST VALDORI_SUPER_PEER
set -euo pipefail
host=$1
super_peer=$2
source "$(dirname "$0")/two_agents.sh"
two_agents_check_host
two_agents_work_dir

# A's configuration asks for 1500 bytes, above the 1073 of the default that one overlay message
# carries: A's agent takes 1073. B's takes 1000, so that A's kernel sends packets that B's agent
# must refuse.
two_agents_up "$host" "$super_peer" "$work" 1500 1000

# The first replies may wait for the peers to find each other; then every ping must come back.
check "first ping from A to B" in_a ping -q -c 1 -w 15 "$IP_B"
check "ping from A to B" in_a ping -q -c 5 -i 0.2 -w 5 "$IP_B"
check "ping from B to A" in_b ping -q -c 5 -i 0.2 -w 5 "$IP_A"

resolves_beta() {
  local answer
  answer=$(in_a timeout 10 drill @"$DNS_A" beta.valdori A) || return 1
  grep -Eq "^beta\.valdori\.[[:space:]]+[0-9]+[[:space:]]+IN[[:space:]]+A[[:space:]]+${IP_B//./\\.}\$" <<<"$answer" ||
    { echo "$answer"; return 1; }
}
check "drill in A resolves beta.valdori through $DNS_A" resolves_beta

a_has_agent_mtu() { in_a ip link show dev "$TUN_A" | grep -q " mtu 1073 "; }
check "A's host gives its interface the MTU A's agent uses" a_has_agent_mtu

# 1045 bytes of ICMP data make a 1073-byte packet: within A's MTU, above B's.
answered_with_mtu() {
  local output
  output=$(in_a ping -M do -s 1045 -c 1 -W 3 "$IP_B" 2>&1) || true
  grep -q "Frag needed and DF set (mtu = 1000)" <<<"$output" || { echo "$output"; return 1; }
}
check "B's agent answers a packet above its MTU with Don't Fragment set with its MTU" answered_with_mtu

# B leaves the network: the next housekeeping passes (every 10 s) take its address away and
# A's route to it.
write_network_document alpha
check "B's host withdraws B's address once B has left the network" \
  wait_for_line "$work/b.log" "^applied ips= routes= dns=\$" 25 "$PID_B"
interface_bare() {
  ! in_b ip -4 addr show dev "$TUN_B" | grep -q inet && [ -z "$(in_b ip -4 route show dev "$TUN_B")" ]
}
check "B's interface has no address and no route left" interface_bare
a_refuses_b() {
  local deadline=$((SECONDS + 25))
  until grep -q "No outbound route found for destination: $IP_A -> $IP_B" "$work/a.log"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    in_a ping -q -c 1 -W 1 "$IP_B" >/dev/null || true
  done
}
check "A's agent no longer sends to B" a_refuses_b

check "both hosts shut down cleanly" two_agents_stop_hosts

# A's host reads its mtu line as TOML does, or refuses it: started on A's configuration with LINE in
# place of its own mtu line, it gives A's interface the MTU EXPECTED, or exits with a message.
host_reads_mtu() {
  local line=$1 expected=$2 shown=
  { printf '%s\n' "$line"; grep -v '^mtu' "$work/a.toml"; } >"$work/c.toml"
  "$host" --log-level warn run "$work/c.toml" "$TUN_A" "$NS_A" "$work/c.dns" >"$work/c.log" 2>&1 &
  local pid=$! deadline=$((SECONDS + 10))
  until shown=$(in_a ip link show dev "$TUN_A" 2>/dev/null) || ! kill -0 "$pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.1
  done
  local status=0
  stop_process "$pid" || status=$?
  if [ "$expected" = refused ]; then
    [ "$status" -ne 0 ] && [ -z "$shown" ] &&
      grep -q "c.toml, line 1: mtu is not an integer from 0 to 65535$" "$work/c.log" || { cat "$work/c.log"; return 1; }
  else
    grep -q " mtu $expected " <<<"$shown" || { echo "$shown"; return 1; }
  fi
}
check "mtu = 1_000 gives 1000" host_reads_mtu "mtu = 1_000" 1000
check "mtu = 0x3e8 gives 1000" host_reads_mtu "mtu = 0x3e8" 1000
check "an indented mtu line with a comment gives its value" host_reads_mtu $' \t"mtu"  =  0o1750 # bytes' 1000
check "mtu = 1e3 is refused" host_reads_mtu "mtu = 1e3" refused
[ "$FAILED" -eq 0 ]
