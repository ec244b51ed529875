/* The host's TUN interface, served from the root network namespace while it lives in another. */
#ifndef LINUX_HOST_TUN_H
#define LINUX_HOST_TUN_H

/* Creates the TUN interface `name` (bare IPv4 packets, no packet-information prefix), sets its
 * MTU, moves it into the namespace `netns` and brings it up there. Gives the open descriptor,
 * which keeps serving the interface after the move, or -1 with the reason on stderr. */
int open_tun_in_namespace(const char* name, unsigned mtu, const char* netns);

#endif
