/* The hand-over of network changes from the library's callback to the host's own thread. */
#ifndef LINUX_HOST_CHANGE_QUEUE_H
#define LINUX_HOST_CHANGE_QUEUE_H

#include "valdori_agent.h"

/* One change as the host keeps it: copies of the record's three texts. */
struct host_change {
  char* ips;
  char* routes;
  char* dns_server;
  struct host_change* next;
};

/* Sets the queue up; gives a descriptor that becomes readable when a change waits, or -1. */
int change_queue_init(void);
/* The network-change callback to hand to valdori_agent_start: copies the texts, queues them
 * and returns at once. */
void change_queue_callback(const NetworkChange* change);
/* The oldest waiting change (the caller frees it with host_change_free), or NULL. */
struct host_change* change_queue_pop(void);
void host_change_free(struct host_change* change);
/* Frees whatever still waits and closes the descriptor. */
void change_queue_close(void);

#endif
