#!/usr/bin/env bash
# Throughput of the packet path on real TUN interfaces: two agents in two network namespaces
# (tests/e2e/two_agents.sh) against a veth pair between the same namespaces, the plain underlay
# and so the limit. Reports iperf3 TCP throughput with 1 and 4 streams, 64-byte UDP packets per
# second that the receiver got, the ping round trip, and the CPU the two agents used.
# Usage: bench/tunnel_throughput.sh [BUILD_DIR] [SECONDS]
#   BUILD_DIR: a Release build with valdori-linux-host and valdori-super-peer (default
#   build/e2e-rel); SECONDS: length of each iperf3 run (default 10). Needs root, iperf3, python3.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/e2e-rel}
seconds=${2:-10}
source tests/e2e/two_agents.sh
two_agents_check_host

work=$(mktemp -d)
VETH_A="vdveth$$a"
VETH_B="vdveth$$b"
VETH_IP_A=10.78.0.1
VETH_IP_B=10.78.0.2
PID_IPERF=
finish() {
  [ -z "$PID_IPERF" ] || stop_process "$PID_IPERF" || true
  two_agents_down  # the veth pair goes with the namespaces
  rm -rf "$work"
}
trap finish EXIT

# Dropped packets are logged one by one at WARN: at full load that measures the log.
TWO_AGENTS_HOST_OPTIONS="--log-level error"
two_agents_up "$build/examples/linux_host/valdori-linux-host" "$build/tools/valdori-super-peer" "$work"
mtu=$(ip -n "$NS_A" -o link show "$TUN_A" | sed -E 's/.* mtu ([0-9]+) .*/\1/')

# The underlay, with the agents' MTU so that both paths carry packets of the same size.
ip link add "$VETH_A" netns "$NS_A" type veth peer name "$VETH_B" netns "$NS_B"
ip -n "$NS_A" addr add "$VETH_IP_A/24" dev "$VETH_A"
ip -n "$NS_B" addr add "$VETH_IP_B/24" dev "$VETH_B"
ip -n "$NS_A" link set "$VETH_A" mtu "$mtu" up
ip -n "$NS_B" link set "$VETH_B" mtu "$mtu" up

ip netns exec "$NS_B" iperf3 -s >"$work/iperf3-server.log" 2>&1 &
PID_IPERF=$!
ip netns exec "$NS_A" ping -q -c 1 -w 15 "$IP_B" >/dev/null  # the peers have found each other
ip netns exec "$NS_A" ping -q -c 1 -w 5 "$VETH_IP_B" >/dev/null  # and so has the veth pair
# Settle before measuring. The nodes go direct as soon as their paths answer (also after the
# quiet spell of the veth runs, before the perf stat stream); the super peer's CPU time over the
# runs shows that it stayed out.
sleep 12

# CPU time (user + system, in clock ticks) of the processes given, so far.
cpu_ticks() {
  local pid total=0
  for pid in "$@"; do
    # Fields after "PID (comm) ": utime and stime are the 12th and 13th.
    total=$((total + $(sed -E 's/^.*\) //' "/proc/$pid/stat" | awk '{print $12 + $13}')))
  done
  echo "$total"
}

# iperf DESTINATION NAME ARGS...: one iperf3 run from A; its JSON goes to work/NAME.json, the
# agents' CPU in cores to work/NAME.cpu.
iperf() {
  local destination=$1 name=$2
  shift 2
  local ticks_before start end
  ticks_before=$(cpu_ticks "$PID_A" "$PID_B")
  start=$(date +%s.%N)
  ip netns exec "$NS_A" iperf3 -c "$destination" -t "$seconds" -J "$@" >"$work/$name.json"
  end=$(date +%s.%N)
  python3 -c "print(($(cpu_ticks "$PID_A" "$PID_B") - $ticks_before) / $(getconf CLK_TCK) / ($end - $start))" >"$work/$name.cpu"
}

# figure NAME FIELD: tcp_gbps, tcp_retransmits, udp_kpps_received, udp_kpps_sent of an iperf3 run.
figure() {
  python3 - "$work/$1.json" "$2" <<'PY'
import json, sys
end = json.load(open(sys.argv[1]))["end"]
field = sys.argv[2]
if field == "tcp_gbps":
    print(f'{end["sum_received"]["bits_per_second"] / 1e9:.2f}')
elif field == "tcp_retransmits":
    print(end["sum_sent"]["retransmits"])
else:
    udp = end["sum_received"]
    sent = udp["packets"]
    count = sent - udp["lost_packets"] if field == "udp_kpps_received" else sent
    print(f'{count / udp["seconds"] / 1e3:.0f}')
PY
}

cpu() { printf '%.2f' "$(cat "$work/$1.cpu")"; }
per_gbps() { python3 -c "print(f'{$(cat "$work/$1.cpu") / $(figure "$1" tcp_gbps):.2f}')"; }
rtt_ms() { ip netns exec "$NS_A" ping -q -c 100 -i 0.01 "$1" | sed -nE 's|^rtt [^=]*= [^/]+/([^/]+)/.*|\1|p'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
super_peer_ticks=$(cpu_ticks "$PID_SUPER_PEER")
for path in overlay veth; do
  destination=$IP_B
  [ "$path" = overlay ] || destination=$VETH_IP_B
  iperf "$destination" "$path-tcp1"
  iperf "$destination" "$path-tcp4" -P 4
  iperf "$destination" "$path-udp64" -u -l 64 -b 0
  echo "$(rtt_ms "$destination")" >"$work/$path.rtt"
done

# Context switches and system calls of both agents per packet they carried, over one more TCP
# stream: packets carried are those the agents read from their tunnels (the kernel's transmit
# count of each TUN interface).
tun_tx_packets() {
  echo $(($(ip netns exec "$NS_A" cat "/sys/class/net/$TUN_A/statistics/tx_packets") +
          $(ip netns exec "$NS_B" cat "/sys/class/net/$TUN_B/statistics/tx_packets")))
}
per_packet=
if command -v perf >/dev/null; then
  packets_before=$(tun_tx_packets)
  perf stat -x, -e context-switches,raw_syscalls:sys_enter -p "$PID_A,$PID_B" -o "$work/perf.csv" \
    -- sleep "$seconds" &
  PID_PERF=$!
  ip netns exec "$NS_A" iperf3 -c "$IP_B" -t "$seconds" -J >"$work/perf-tcp1.json"
  wait "$PID_PERF"
  packets=$(($(tun_tx_packets) - packets_before))
  per_packet=$(python3 - "$work/perf.csv" "$packets" <<'PY'
import sys
counts = {}
for line in open(sys.argv[1]):
    fields = line.strip().split(",")
    if len(fields) > 2 and fields[0].replace(".", "").isdigit():
        counts[fields[2]] = float(fields[0])
packets = int(sys.argv[2])
print(f'{counts.get("context-switches", 0) / packets:.3f} context switches and '
      f'{counts.get("raw_syscalls:sys_enter", 0) / packets:.2f} system calls per packet ({packets} packets)')
PY
)
fi

super_peer_seconds=$(python3 -c "print(($(cpu_ticks "$PID_SUPER_PEER") - $super_peer_ticks) / $(getconf CLK_TCK))")

echo "Machine: $(nproc) cores, load average $load_before before the runs, $(cut -d' ' -f1-3 /proc/loadavg) after;" \
     "agent MTU $mtu; ${seconds} s per iperf3 run"
echo "Super peer CPU time over all runs: ${super_peer_seconds} s (0: every packet took the direct path)"
echo
echo "| measurement | through the agents | plain veth (limit) | agents' CPU |"
echo "|---|---|---|---|"
tcp() { echo "$(figure "$1" tcp_gbps) Gbit/s ($(figure "$1" tcp_retransmits) retransmits)"; }
for streams in 1 4; do
  name="tcp$streams"
  echo "| TCP, $streams stream(s) | $(tcp "overlay-$name") | $(tcp "veth-$name")" \
       "| $(cpu "overlay-$name") cores, $(per_gbps "overlay-$name") per Gbit/s |"
done
udp() { echo "$(figure "$1-udp64" udp_kpps_received) kpps ($(figure "$1-udp64" udp_kpps_sent))"; }
echo "| UDP, 64-byte payloads, kpps received (sent) | $(udp overlay) | $(udp veth) | $(cpu overlay-udp64) cores |"
echo "| ping round trip, average of 100 at 10 ms | $(cat "$work/overlay.rtt") ms | $(cat "$work/veth.rtt") ms | |"
[ -z "$per_packet" ] || echo "perf stat over one more TCP stream, both agents: $per_packet"
