/*
 * valdori-readme-sample CONFIG NETWORK_URL TUN_NAME NETNS DNS_FILE: the README's host sample
 * (examples/readme_sample/run_agent.c) as a host runs it, with the example host's TUN interface
 * and change handling (examples/linux_host). It creates the TUN interface TUN_NAME in the network
 * namespace NETNS and calls run_agent, whose host loop prints the node's public key as
 * "node <key>" for the network's administrator, then applies each network change inside NETNS
 * (printing "applied ips=... routes=... dns=...", the responder's address into DNS_FILE) until
 * SIGINT or SIGTERM.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <inttypes.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "../../../examples/linux_host/change_queue.h"
#include "../../../examples/linux_host/host_settings.h"
#include "../../../examples/linux_host/tun.h"
#include "valdori_agent.h"

int32_t run_agent(const char* config_path, const char* network_url, int tun_fd);

static const char* config_path;
static struct host_settings settings;
static int signals = -1, changes = -1;

void on_network_change(const NetworkChange* change) { change_queue_callback(change); }

/* The key from the file the sample has made by now. */
static void print_public_key(void) {
  AgentConfigPtr* config = NULL;
  uint8_t key[32];
  if (valdori_agent_config_load_or_generate(config_path, &config) != 0 ||
      valdori_agent_config_id_pk(config, key) != 0) {
    fputs("valdori-readme-sample: cannot read the public key\n", stderr);
  } else {
    printf("node ");
    for (size_t i = 0; i < sizeof key; ++i) printf("%02x", key[i]);
    printf("\n");
    fflush(stdout);
  }
  valdori_agent_config_free(config);
}

void host_loop(void) {
  print_public_key();
  for (;;) {
    struct pollfd fds[2] = {{signals, POLLIN, 0}, {changes, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    struct host_change* change;
    while ((change = change_queue_pop()) != NULL) host_settings_apply(&settings, change);
    if (fds[0].revents & POLLIN) return;
  }
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fputs("usage: valdori-readme-sample CONFIG NETWORK_URL TUN_NAME NETNS DNS_FILE\n", stderr);
    return 2;
  }
  config_path = argv[1];
  settings = (struct host_settings){argv[4], argv[3], argv[5], NULL};
  /* Blocked before the library starts its threads, which inherit the mask. */
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &mask, NULL);
  signals = signalfd(-1, &mask, SFD_CLOEXEC);
  changes = change_queue_init();
  const int tun_fd = signals < 0 || changes < 0 ? -1 : open_tun_in_namespace(argv[3], 1073, argv[4]);
  if (tun_fd < 0) return 1;
  const int32_t rc = run_agent(config_path, argv[2], tun_fd);
  if (rc != 0) fprintf(stderr, "valdori-readme-sample: run_agent failed with code %" PRId32 "\n", rc);
  host_change_free(settings.applied);
  change_queue_close();
  close(signals);
  return rc == 0 ? 0 : 1;
}
