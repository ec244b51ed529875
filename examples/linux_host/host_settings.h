/* What the host does with the agent's network changes: it brings its TUN interface, inside the
 * interface's network namespace, in line with them and tells DNS clients where the agent's
 * responder is. */
#ifndef LINUX_HOST_HOST_SETTINGS_H
#define LINUX_HOST_HOST_SETTINGS_H

#include <stdbool.h>

#include "change_queue.h"

/* Runs argv (looked up in PATH, no shell) and waits for it; true when it exits with 0. */
bool run_command(char* const argv[]);

struct host_settings {
  const char* netns;
  const char* interface;
  const char* dns_file;        /* receives the responder's address, one line, when there is one */
  struct host_change* applied; /* the last change applied, NULL before the first */
};

/* Removes the addresses and routes of the previous change that are gone, adds the new ones (with
 * a route to each overlay network) and rewrites or removes the DNS file. Prints
 * "applied ips=... routes=... dns=..." on stdout when every step succeeded. Takes `change`. */
void host_settings_apply(struct host_settings* settings, struct host_change* change);

#endif
