/* The callback runs on one of the library's threads while the agent's state is locked: it must
 * not run commands or wait. It only copies the texts, appends them to a list and writes one byte
 * to a pipe that the host's main loop polls. */
#define _GNU_SOURCE
#include "change_queue.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static pthread_mutex_t queue_mutex = PTHREAD_MUTEX_INITIALIZER;
static struct host_change* queue_head;
static struct host_change* queue_tail;
static int wake_pipe[2] = {-1, -1};

int change_queue_init(void) {
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  return wake_pipe[0];
}

static char* copy_text(const char* text) { return strdup(text != NULL ? text : ""); }

void host_change_free(struct host_change* change) {
  if (change == NULL) return;
  free(change->ips);
  free(change->routes);
  free(change->dns_server);
  free(change);
}

void change_queue_callback(const NetworkChange* change) {
  struct host_change* copy = calloc(1, sizeof *copy);
  if (copy != NULL) {
    copy->ips = copy_text(valdori_agent_network_change_ips(change));
    copy->routes = copy_text(valdori_agent_network_change_routes(change));
    copy->dns_server = copy_text(valdori_agent_network_change_dns_server(change));
  }
  if (copy == NULL || copy->ips == NULL || copy->routes == NULL || copy->dns_server == NULL) {
    host_change_free(copy);
    fputs("valdori-linux-host: out of memory: a network change is lost\n", stderr);
    return;
  }
  pthread_mutex_lock(&queue_mutex);
  if (queue_tail != NULL) {
    queue_tail->next = copy;
  } else {
    queue_head = copy;
  }
  queue_tail = copy;
  pthread_mutex_unlock(&queue_mutex);
  /* A full pipe already holds a wake-up: nothing is lost by a failed write. */
  const char byte = 1;
  while (write(wake_pipe[1], &byte, 1) < 0 && errno == EINTR) {
  }
}

struct host_change* change_queue_pop(void) {
  char bytes[64];
  while (read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
  pthread_mutex_lock(&queue_mutex);
  struct host_change* change = queue_head;
  if (change != NULL) {
    queue_head = change->next;
    if (queue_head == NULL) queue_tail = NULL;
    change->next = NULL;
  }
  pthread_mutex_unlock(&queue_mutex);
  return change;
}

void change_queue_close(void) {
  struct host_change* change;
  while ((change = change_queue_pop()) != NULL) host_change_free(change);
  for (int i = 0; i < 2; ++i) {
    if (wake_pipe[i] >= 0) close(wake_pipe[i]);
    wake_pipe[i] = -1;
  }
}
