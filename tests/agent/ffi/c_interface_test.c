/* The C interface as a host uses it, built against the installed header and shared library:
 * every function with its bad arguments, the configuration file edits, and two agents on
 * socket-pair tunnels joined through a super peer.
 * Usage: c_interface_test SUPER_PEER_PROGRAM */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "valdori_agent.h"

static int passed, failed;
#define CHECK(condition)                                                      \
  do {                                                                        \
    if (condition) {                                                          \
      ++passed;                                                               \
    } else {                                                                  \
      ++failed;                                                               \
      fprintf(stderr, "%s:%d: FAILED: %s\n", __FILE__, __LINE__, #condition); \
    }                                                                         \
  } while (0)
#define CHECK_CODE(expected, call) CHECK((call) == (expected))

static char dir[64];
static char* path_in(const char* name) {
  static char paths[8][256];
  static int next;
  char* path = paths[next++ % 8];
  snprintf(path, 256, "%s/%s", dir, name);
  return path;
}
static int exists(const char* path) { return access(path, F_OK) == 0; }
static char* read_file(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == NULL) return NULL;
  static char text[16384];
  const size_t length = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[length] = '\0';
  return text;
}
static void append_file(const char* path, const char* text) {
  FILE* file = fopen(path, "a");
  fputs(text, file);
  fclose(file);
}
static void write_file(const char* path, const char* text) {
  FILE* file = fopen(path, "w");
  fputs(text, file);
  fclose(file);
}

static const char* const bad_utf8 = "\xff\xfe";

static void check_conventions(void) {
  CHECK(valdori_agent_version() != NULL && valdori_agent_version() == valdori_agent_version());
  CHECK_CODE(0, valdori_agent_init_logging());
  CHECK_CODE(-2, valdori_agent_init_logging());
  CHECK_CODE(-2, valdori_agent_runtime(NULL));
  CHECK(valdori_agent_network_change_ips(NULL) == NULL && valdori_agent_network_change_routes(NULL) == NULL &&
        valdori_agent_network_change_dns_server(NULL) == NULL);
  valdori_agent_runtime_free(NULL);
  valdori_agent_config_free(NULL);
  valdori_agent_free(NULL);
  valdori_agent_tun_device_free(NULL);
  valdori_agent_status_free(NULL);
  valdori_agent_config_networks_free(NULL, 3);
  CHECK_CODE(-2, valdori_agent_cancel_udp_bindings(NULL));
  CHECK_CODE(-2, valdori_agent_shutdown(NULL, NULL));
  char* status = valdori_agent_status(NULL, NULL);
  CHECK(status != NULL && strstr(status, "not available") != NULL);
  valdori_agent_status_free(status);
}

typedef int32_t (*edit_fn)(const char*, const char*);
static const edit_fn edits[4] = {valdori_agent_config_network_add, valdori_agent_config_network_remove,
                                 valdori_agent_config_network_enable, valdori_agent_config_network_disable};

static void check_config_handle(const char* config) {
  AgentConfigPtr* handle = NULL;
  uint8_t key[32] = {0};
  CHECK_CODE(-2, valdori_agent_config_load_or_generate(NULL, &handle));
  CHECK_CODE(-2, valdori_agent_config_load_or_generate(config, NULL));
  CHECK_CODE(-1, valdori_agent_config_load_or_generate(bad_utf8, &handle));
  CHECK(handle == NULL);
  CHECK_CODE(0, valdori_agent_config_load_or_generate(config, &handle));
  CHECK_CODE(-2, valdori_agent_config_id_pk(handle, NULL));
  CHECK_CODE(-2, valdori_agent_config_id_pk(NULL, key));
  CHECK_CODE(0, valdori_agent_config_id_pk(handle, key));
  uint8_t zero[32] = {0};
  CHECK(memcmp(key, zero, sizeof key) != 0);
  valdori_agent_config_free(handle);
}

static void check_network_edits(const char* config) {
  NetworkInfo* list = (NetworkInfo*)1;
  int32_t count = -1;
  CHECK_CODE(0, valdori_agent_config_networks(config, &list, &count));
  CHECK(list == NULL && count == 0);
  for (int i = 0; i < 4; ++i) {
    CHECK_CODE(-2, edits[i](NULL, "file:///tmp/x.toml"));
    CHECK_CODE(-2, edits[i](config, NULL));
    CHECK_CODE(-1, edits[i](bad_utf8, "file:///tmp/x.toml"));
    CHECK_CODE(-1, edits[i](path_in("never.toml"), bad_utf8));
    CHECK(!exists(path_in("never.toml")));
    CHECK_CODE(-3, edits[i](config, "net.toml"));
  }
  CHECK_CODE(-2, valdori_agent_config_networks(config, NULL, &count));
  CHECK_CODE(-1, valdori_agent_config_networks(bad_utf8, &list, &count));
  CHECK_CODE(-2, valdori_agent_config_networks(path_in("missing.toml"), &list, &count));

  /* Two texts of one URL are one network; the file keeps the text as given. */
  CHECK_CODE(0, valdori_agent_config_network_add(config, "FILE:///tmp/a/../net.toml"));
  CHECK_CODE(-5, valdori_agent_config_network_add(config, "file:///tmp/net.toml"));
  CHECK_CODE(-5, valdori_agent_config_network_add(config, " file:///tmp/%2e/net.toml\n"));
  CHECK(strstr(read_file(config), "FILE:///tmp/a/../net.toml") != NULL);
  CHECK_CODE(-6, valdori_agent_config_network_enable(config, "file:///tmp/net.toml"));
  CHECK_CODE(0, valdori_agent_config_network_disable(config, "file:///tmp/net.toml"));
  CHECK_CODE(-7, valdori_agent_config_network_disable(config, "FILE:///tmp/net.toml"));
  CHECK_CODE(0, valdori_agent_config_networks(config, &list, &count));
  CHECK(count == 1 && strcmp(valdori_agent_network_url(list, 0), "file:///tmp/net.toml") == 0 &&
        valdori_agent_network_disabled(list, 0) == 1 && valdori_agent_network_name(list, 0) == NULL);
  for (int32_t index = -1; index <= 1; index += 2) {
    CHECK(valdori_agent_network_url(list, index) == NULL && valdori_agent_network_disabled(list, index) == -1 &&
          valdori_agent_network_name(list, index) == NULL);
  }
  CHECK(valdori_agent_network_url(NULL, 0) == NULL && valdori_agent_network_disabled(NULL, 0) == -1);
  /* A count below 1 frees nothing: the array still reads and is freed once, by its own count
   * whatever other count is given (a double or short free would end the test under ASan). */
  valdori_agent_config_networks_free(list, 0);
  valdori_agent_config_networks_free(list, -1);
  CHECK(strcmp(valdori_agent_network_url(list, 0), "file:///tmp/net.toml") == 0 &&
        valdori_agent_network_disabled(list, 0) == 1);
  valdori_agent_config_networks_free(list, 7);
  CHECK_CODE(0, valdori_agent_config_network_enable(config, "file:///tmp/net.toml"));
  CHECK_CODE(0, valdori_agent_config_network_remove(config, "file:///tmp/net.toml"));
  CHECK_CODE(-4, valdori_agent_config_network_remove(config, "FILE:///tmp/a/../net.toml"));

  /* A missing file: add and remove create nothing; enable and disable write a new one first. */
  for (int i = 0; i < 4; ++i) {
    char name[32];
    snprintf(name, sizeof name, "new-%d.toml", i);
    const char* path = path_in(name);
    CHECK_CODE(i < 2 ? -2 : -3, edits[i](path, "net.toml"));
    CHECK(exists(path) == (i >= 2));
  }
  CHECK_CODE(-4, valdori_agent_config_network_enable(path_in("new-4.toml"), "file:///tmp/net.toml"));
  CHECK(exists(path_in("new-4.toml")));
}

/* A copy of `from` with a name holding a NUL character for its network `url`. */
static void write_with_nul_name(const char* from, const char* to, const char* url) {
  char* text = strdup(read_file(from));
  char key[300];
  snprintf(key, sizeof key, "config_url = \"%s\"", url);
  char* line_end = strchr(strstr(text, key), '\n');
  char rewritten[16384];
  snprintf(rewritten, sizeof rewritten, "%.*s\nname = \"a\\u0000b\"%s", (int)(line_end - text), text, line_end);
  write_file(to, rewritten);
  free(text);
}

static void check_odd_files(const char* config) {
  /* A name holding a NUL character: listed without the name. */
  CHECK_CODE(0, valdori_agent_config_network_add(config, "file:///tmp/named.toml"));
  char* named = path_in("named.toml");
  write_with_nul_name(config, named, "file:///tmp/named.toml");
  NetworkInfo* list = NULL;
  int32_t count = 0;
  CHECK_CODE(0, valdori_agent_config_networks(named, &list, &count));
  CHECK(count == 1 && valdori_agent_network_name(list, 0) == NULL && valdori_agent_network_disabled(list, 0) == 0 &&
        strcmp(valdori_agent_network_url(list, 0), "file:///tmp/named.toml") == 0);
  valdori_agent_config_networks_free(list, 99);

  /* Two entries of one URL: the file does not load. */
  char* twice = path_in("twice.toml");
  write_file(twice, read_file(config));
  append_file(twice, "\n[[network]]\nconfig_url = \"FILE:///tmp/named.toml\"\ndisabled = false\n");
  CHECK_CODE(-2, valdori_agent_config_networks(twice, &list, &count));
  for (int i = 0; i < 4; ++i) CHECK_CODE(-2, edits[i](twice, "file:///tmp/other.toml"));
  AgentConfigPtr* handle = NULL;
  CHECK_CODE(-106, valdori_agent_config_load_or_generate(twice, &handle));
  CHECK(handle == NULL);
}

/* ---- two agents ---- */

struct seen {
  _Atomic int changes;
  char ips[64];
  char dns[32];
};
static struct seen seen_a, seen_b;
static RuntimePtr* runtime;
static AgentConfigPtr* config_a;
static atomic_int refused_on_runtime_thread;

static void record(struct seen* seen, const NetworkChange* change) {
  if (atomic_load(&seen->changes) == 0) {
    snprintf(seen->ips, sizeof seen->ips, "%s", valdori_agent_network_change_ips(change));
    snprintf(seen->dns, sizeof seen->dns, "%s", valdori_agent_network_change_dns_server(change));
  }
  atomic_fetch_add(&seen->changes, 1);
}

static void on_change_a(const NetworkChange* change) {
  /* On a runtime thread: blocking calls are refused, and the runtime is not freed. */
  AgentPtr* agent = NULL;
  if (valdori_agent_start(runtime, config_a, "/nowhere", NULL, NULL, NULL, &agent) == -2 && agent == NULL) {
    atomic_store(&refused_on_runtime_thread, 1);
  }
  valdori_agent_runtime_free(runtime);
  record(&seen_a, change);
}
static void on_change_b(const NetworkChange* change) { record(&seen_b, change); }

static int wait_for(_Atomic int* counter) {
  for (int i = 0; i < 300 && atomic_load(counter) == 0; ++i) usleep(50000);
  return atomic_load(counter) > 0;
}

static pid_t start_super_peer(const char* program, char* url, size_t size) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  char* argv[] = {(char*)program,
                  "--network-id",
                  "1",
                  "--listen",
                  "127.0.0.1",
                  "--difficulty",
                  "4",
                  "--min-pow-difficulty",
                  "4",
                  NULL};
  pid_t pid = -1;
  extern char** environ;
  if (posix_spawn(&pid, program, &actions, NULL, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  FILE* lines = fdopen(out[0], "r");
  if (pid < 0 || fgets(url, (int)size, lines) == NULL) pid = -1;
  fclose(lines);
  url[strcspn(url, "\n")] = '\0';
  return pid;
}

/* A configuration with the super peer and the network document, and its node's key as hex. */
static AgentConfigPtr* agent_config(const char* path, const char* super_peer, const char* document, char hex[65]) {
  AgentConfigPtr* handle = NULL;
  if (valdori_agent_config_load_or_generate(path, &handle) != 0) return NULL;
  valdori_agent_config_free(handle);
  char text[16384];
  snprintf(text, sizeof text, "super_peers = [\"%s\"]\n%s", super_peer, read_file(path));
  write_file(path, text);
  char url[300];
  snprintf(url, sizeof url, "file://%s", document);
  if (valdori_agent_config_network_add(path, url) != 0 || valdori_agent_config_load_or_generate(path, &handle) != 0) {
    return NULL;
  }
  uint8_t key[32];
  valdori_agent_config_id_pk(handle, key);
  for (int i = 0; i < 32; ++i) snprintf(hex + 2 * i, 3, "%02x", key[i]);
  return handle;
}

static void check_two_agents(const char* super_peer_program) {
  char super_peer[512];
  const pid_t super_peer_pid = start_super_peer(super_peer_program, super_peer, sizeof super_peer);
  CHECK(super_peer_pid > 0);
  if (super_peer_pid <= 0) return;
  CHECK_CODE(0, valdori_agent_runtime(&runtime));

  const char* document = path_in("network.toml");
  char pk_a[65], pk_b[65];
  config_a = agent_config(path_in("a.toml"), super_peer, document, pk_a);
  AgentConfigPtr* config_b = agent_config(path_in("b.toml"), super_peer, document, pk_b);
  CHECK(config_a != NULL && config_b != NULL);
  char network[2048];
  snprintf(network, sizeof network,
           "network = \"10.78.0.0/24\"\nname = \"c\"\n\n[[node]]\npk = \"%s\"\nip = \"10.78.0.1\"\nhostname = "
           "\"alpha\"\ngroups = [\"g\"]\n\n[[node]]\npk = \"%s\"\nip = \"10.78.0.2\"\nhostname = \"beta\"\ngroups = "
           "[\"g\"]\n\n[[policy]]\nsource_groups = [\"g\"]\ndestination_groups = [\"g\"]\n",
           pk_a, pk_b);
  write_file(document, network);

  int pair_a[2], pair_b[2];
  CHECK(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair_a) == 0 &&
        socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair_b) == 0);
  TunDevicePtr *tun_a = NULL, *tun_b = NULL;
  CHECK_CODE(-2, valdori_agent_tun_device_create(runtime, pair_a[1], NULL));
  CHECK_CODE(-2, valdori_agent_tun_device_create(runtime, -1, &tun_a));
  CHECK_CODE(0, valdori_agent_tun_device_create(runtime, pair_a[1], &tun_a));
  CHECK_CODE(0, valdori_agent_tun_device_create(runtime, pair_b[1], &tun_b));

  AgentPtr *agent_a = NULL, *agent_b = NULL, *bare = NULL;
  CHECK_CODE(-2, valdori_agent_start(runtime, config_a, NULL, tun_a, on_change_a, NULL, &agent_a));
  CHECK_CODE(-1, valdori_agent_start(runtime, config_a, bad_utf8, tun_a, on_change_a, NULL, &agent_a));
  CHECK(agent_a == NULL);
  CHECK_CODE(0, valdori_agent_start(runtime, config_a, path_in("a.toml"), tun_a, on_change_a, NULL, &agent_a));
  CHECK_CODE(0, valdori_agent_start(runtime, config_b, path_in("b.toml"), tun_b, on_change_b, NULL, &agent_b));
  valdori_agent_tun_device_free(tun_b); /* the running agent keeps its own reference */
  /* No device, no callback: an agent all the same, whose report shows its network's name with
   * the NUL escaped. */
  AgentConfigPtr* config_named = NULL;
  CHECK_CODE(0, valdori_agent_config_load_or_generate(path_in("named.toml"), &config_named));
  CHECK_CODE(0, valdori_agent_start(runtime, config_named, path_in("named.toml"), NULL, NULL, NULL, &bare));
  valdori_agent_config_free(config_named);
  char* named_status = valdori_agent_status(runtime, bare);
  CHECK(strstr(named_status, "Name: a\\x00b\n") != NULL);
  valdori_agent_status_free(named_status);

  CHECK(wait_for(&seen_a.changes) && wait_for(&seen_b.changes));
  CHECK(strcmp(seen_a.ips, "10.78.0.1/24") == 0 && strcmp(seen_b.ips, "10.78.0.2/24") == 0);
  CHECK(seen_a.dns[0] != '\0');
  CHECK(atomic_load(&refused_on_runtime_thread) == 1);

  /* Packets between the agents: the end-to-end tests, whose host drives this interface. */
  char* status = valdori_agent_status(runtime, agent_a);
  CHECK(strstr(status, "  Agent Status: CONNECTED\n") != NULL && strstr(status, "10.78.0.1/24") != NULL &&
        strstr(status, "Secret Key: ****\n") != NULL);
  valdori_agent_status_free(status);
  CHECK_CODE(0, valdori_agent_cancel_udp_bindings(agent_a));

  CHECK_CODE(0, valdori_agent_shutdown(runtime, bare));
  CHECK_CODE(0, valdori_agent_shutdown(runtime, agent_b));
  CHECK_CODE(0, valdori_agent_shutdown(runtime, agent_a));
  CHECK_CODE(0, valdori_agent_shutdown(runtime, agent_a));
  valdori_agent_free(bare);
  valdori_agent_free(agent_b);
  valdori_agent_free(agent_a);
  valdori_agent_tun_device_free(tun_a);
  valdori_agent_config_free(config_b);
  valdori_agent_config_free(config_a);
  valdori_agent_runtime_free(runtime);
  close(pair_a[0]);
  close(pair_b[0]);
  kill(super_peer_pid, SIGTERM);
  waitpid(super_peer_pid, NULL, 0);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: c_interface_test SUPER_PEER_PROGRAM\n");
    return 2;
  }
  setenv("VALDORI_MIN_POW_DIFFICULTY", "4", 1);
  setenv("VALDORI_UDP_ADDRS", "127.0.0.1", 1);
  setenv("VALDORI_UDP_PORT", "0", 1);
  snprintf(dir, sizeof dir, "/tmp/valdori-c-interface-XXXXXX");
  if (mkdtemp(dir) == NULL) return 2;

  check_conventions();
  check_config_handle(path_in("config.toml"));
  check_network_edits(path_in("config.toml"));
  check_odd_files(path_in("config.toml"));
  check_two_agents(argv[1]);

  char command[128];
  snprintf(command, sizeof command, "rm -rf %s", dir);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", dir);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
