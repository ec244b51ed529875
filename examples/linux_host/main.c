/*
 * valdori-linux-host: an example host application on Linux, written against valdori_agent.h
 * alone. The end-to-end test, the demo and the tunnel benchmark use it.
 *
 *   valdori-linux-host [--log-level LEVEL] prepare CONFIG SUPER_PEER_URL NETWORK_URL [MTU]
 *     Loads the agent configuration CONFIG, or generates a new identity into it, sets the super
 *     peer and, when given, the MTU, joins the network and prints the node's public key. With
 *     VALDORI_E2E_CONTROLLER_URL and VALDORI_E2E_CONTROLLER_SECRET set, the configuration also gets
 *     a controller section with that URL and shared secret (on a configuration without one).
 *
 *   valdori-linux-host [--log-level LEVEL] run CONFIG TUN_NAME NETNS DNS_FILE
 *     Creates the TUN interface TUN_NAME with the agent's MTU, moves it into the network
 *     namespace NETNS, runs the agent on it and applies each network change inside NETNS until
 *     SIGINT or SIGTERM, then shuts the agent down. SIGUSR1 prints the agent's status report
 *     between the lines "status report:" and "end of status report".
 *
 * --log-level sets which of the library's events reach standard error (trace, debug, info, warn,
 * error, off; default info): the host does not call valdori_agent_init_logging, which would send
 * every event to the system log instead.
 */
#define _GNU_SOURCE
#include <ctype.h>
#include <errno.h>
#include <inttypes.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "change_queue.h"
#include "host_settings.h"
#include "tun.h"
#include "valdori_agent.h"

static int fail(const char* message, int32_t code) {
  if (code != 0) {
    fprintf(stderr, "valdori-linux-host: %s (code %" PRId32 ")\n", message, code);
  } else {
    fprintf(stderr, "valdori-linux-host: %s\n", message);
  }
  return 1;
}

/* ---- prepare ---- */

/* The agent's settings that the C interface has no function for (the super peers and the MTU)
 * are top-level keys of the configuration file: written above its first table, replacing
 * earlier ones. The library reads the file back (and rewrites it in its own form) when the
 * network is added, so a bad value is refused there. */
static int set_top_level_keys(const char* path, const char* super_peer_url, const char* mtu) {
  if (strpbrk(super_peer_url, "\"\\\n") != NULL)
    return fail("the super peer URL holds a quote, backslash or line feed", 0);
  FILE* in = fopen(path, "r");
  if (in == NULL) return fail("cannot read the configuration file", 0);
  char* rest = NULL;
  size_t rest_size = 0;
  FILE* kept = open_memstream(&rest, &rest_size);
  char* line = NULL;
  size_t capacity = 0;
  int in_table = 0;
  while (kept != NULL && getline(&line, &capacity, in) >= 0) {
    in_table |= line[0] == '[';
    const int replaced =
        !in_table && (strncmp(line, "super_peers", 11) == 0 || (mtu != NULL && strncmp(line, "mtu", 3) == 0));
    if (!replaced) fputs(line, kept);
  }
  free(line);
  fclose(in);
  if (kept == NULL || fclose(kept) != 0) return fail("out of memory", 0);

  char partial[4096];
  snprintf(partial, sizeof partial, "%s.partial", path);
  FILE* out = fopen(partial, "w");
  int ok = out != NULL;
  if (ok && mtu != NULL) ok = fprintf(out, "mtu = %s\n", mtu) > 0;
  if (ok) ok = fprintf(out, "super_peers = [\"%s\"]\n", super_peer_url) > 0 && fputs(rest, out) >= 0;
  if (out != NULL && fclose(out) != 0) ok = 0;
  free(rest);
  if (!ok || rename(partial, path) != 0) return fail("cannot write the configuration file", 0);
  return 0;
}

/* The controller section, from the environment when both variables are set: a table appended to
 * the file, which the library reads back when the network is added. */
static int add_controller(const char* path) {
  const char* url = getenv("VALDORI_E2E_CONTROLLER_URL");
  const char* secret = getenv("VALDORI_E2E_CONTROLLER_SECRET");
  if (url == NULL || secret == NULL) return 0;
  if (strpbrk(url, "\"\\\n") != NULL || strpbrk(secret, "\"\\\n") != NULL)
    return fail("the controller URL or secret holds a quote, backslash or line feed", 0);
  FILE* out = fopen(path, "a");
  int ok = out != NULL && fprintf(out, "\n[controller]\nurl = \"%s\"\nshared_secret = \"%s\"\n", url, secret) > 0;
  if (out != NULL && fclose(out) != 0) ok = 0;
  return ok ? 0 : fail("cannot write the configuration file", 0);
}

static int prepare(int argc, char** argv) {
  if (argc != 3 && argc != 4) return fail("prepare takes CONFIG SUPER_PEER_URL NETWORK_URL [MTU]", 0);
  const char* path = argv[0];
  const char* mtu = argc == 4 ? argv[3] : NULL;
  if (mtu != NULL && (strlen(mtu) == 0 || strspn(mtu, "0123456789") != strlen(mtu)))
    return fail("MTU is not a number", 0);

  AgentConfigPtr* config = NULL;
  int32_t code = valdori_agent_config_load_or_generate(path, &config);
  if (code != 0) return fail("cannot load or generate the configuration", code);
  uint8_t key[32];
  code = valdori_agent_config_id_pk(config, key);
  valdori_agent_config_free(config);
  if (code != 0) return fail("cannot read the public key", code);

  if (set_top_level_keys(path, argv[1], mtu) != 0 || add_controller(path) != 0) return 1;
  code = valdori_agent_config_network_add(path, argv[2]);
  if (code != 0 && code != VALDORI_AGENT_ERR_NETWORK_EXISTS) return fail("cannot add the network", code);
  for (size_t i = 0; i < sizeof key; ++i) printf("%02x", key[i]);
  printf("\n");
  return 0;
}

/* ---- run ---- */

/* The integer TOML reads at `p` when it lies from 0 to 65535, followed by nothing but blanks and
 * a comment: decimal with an optional sign and no leading zero, or 0x, 0o, 0b digits; `_` only
 * between two digits. -1 for anything else. */
static long toml_integer(const char* p) {
  const int sign = *p == '+' || *p == '-';
  const int negative = *p == '-';
  p += sign;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
    if (sign) return -1;
    base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
    p += 2;
  } else if (p[0] == '0' && (isdigit((unsigned char)p[1]) || p[1] == '_')) {
    return -1;
  }
  static const char digits[] = "0123456789abcdef";
  long value = 0;
  int count = 0;
  for (;; ++p) {
    const char* digit = *p != '\0' ? strchr(digits, tolower((unsigned char)*p)) : NULL;
    if (digit != NULL && digit - digits < base) {
      value = value * base + (digit - digits);
      if (value > 65535) return -1;
      ++count;
    } else if (!(*p == '_' && count > 0 && p[-1] != '_')) {
      break;
    }
  }
  if (count == 0 || p[-1] == '_' || (negative && value != 0)) return -1;
  p += strspn(p, " \t");
  return *p == '\0' || *p == '#' || *p == '\n' || (p[0] == '\r' && p[1] == '\n') ? value : -1;
}

/* The MTU the agent uses: the configuration file's top-level `mtu` where it lies between the IPv4
 * minimum and the library's default, the most one overlay message carries; else that default.
 * The value is read as TOML reads it, so that the interface and the agent agree; an `mtu` line
 * whose value this cannot read is refused (1) with a message. */
static int configured_mtu(const char* path, unsigned* mtu) {
  const char* arm = getenv("VALDORI_ARM_MESSAGES");
  const unsigned most = arm != NULL && strcmp(arm, "false") == 0 ? 1121 : 1073;
  *mtu = most;
  FILE* file = fopen(path, "r");
  if (file == NULL) return 0;
  static const char* const keys[] = {"mtu", "\"mtu\"", "'mtu'"};
  char* line = NULL;
  size_t capacity = 0;
  unsigned number = 0;
  int refused = 0;
  while (!refused && getline(&line, &capacity, file) >= 0) {
    ++number;
    const char* p = line + strspn(line, " \t");
    if (*p == '[') break;
    size_t length = 0;
    for (size_t i = 0; i < sizeof keys / sizeof keys[0] && length == 0; ++i) {
      if (strncmp(p, keys[i], strlen(keys[i])) == 0) length = strlen(keys[i]);
    }
    p += length + strspn(p + length, " \t");
    if (length == 0 || *p != '=') continue;
    const long value = toml_integer(p + 1 + strspn(p + 1, " \t"));
    if (value < 0) {
      fprintf(stderr, "valdori-linux-host: %s, line %u: mtu is not an integer from 0 to 65535\n", path, number);
      refused = 1;
    } else if (value >= 68 && value <= most) {
      *mtu = (unsigned)value;
    }
  }
  free(line);
  fclose(file);
  return refused;
}

/* Writes the status report to stdout in one piece, so that log lines cannot land inside it. */
static void print_status(const RuntimePtr* runtime, const AgentPtr* agent) {
  char* report = valdori_agent_status(runtime, agent);
  char* block = NULL;
  if (asprintf(&block, "status report:\n%send of status report\n", report) >= 0) {
    fflush(stdout);
    size_t length = strlen(block), done = 0;
    while (done < length) {
      const ssize_t written = write(STDOUT_FILENO, block + done, length - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      done += (size_t)written;
    }
    free(block);
  }
  valdori_agent_status_free(report);
}

/* Applies changes and answers signals until SIGINT or SIGTERM. */
static void serve(const RuntimePtr* runtime, const AgentPtr* agent, struct host_settings* settings, int signals,
                  int changes) {
  for (;;) {
    struct pollfd fds[2] = {{signals, POLLIN, 0}, {changes, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "valdori-linux-host: poll: %s\n", strerror(errno));
      return;
    }
    struct host_change* change;
    while ((change = change_queue_pop()) != NULL) host_settings_apply(settings, change);
    struct signalfd_siginfo info;
    if ((fds[0].revents & POLLIN) && read(signals, &info, sizeof info) == (ssize_t)sizeof info) {
      if (info.ssi_signo == SIGUSR1) {
        print_status(runtime, agent);
      } else {
        return;
      }
    }
  }
}

static int run(int argc, char** argv) {
  if (argc != 4) return fail("run takes CONFIG TUN_NAME NETNS DNS_FILE", 0);
  const char* path = argv[0];
  /* Blocked before the library starts threads, so that they inherit the mask and the signals
   * reach the descriptor; installed first, as whoever waits for the first line may signal. */
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &mask, NULL);
  const int signals = signalfd(-1, &mask, SFD_CLOEXEC);
  const int changes = change_queue_init();
  if (signals < 0 || changes < 0) return fail("cannot set up signal and change descriptors", 0);

  AgentConfigPtr* config = NULL;
  RuntimePtr* runtime = NULL;
  TunDevicePtr* tun = NULL;
  AgentPtr* agent = NULL;
  int status = 1;
  unsigned mtu = 0;
  int32_t code = 0;
  int fd = -1;
  if (configured_mtu(path, &mtu) != 0) {
    /* configured_mtu said why */
  } else if ((code = valdori_agent_config_load_or_generate(path, &config)) != 0) {
    fail("cannot load the configuration", code);
  } else if ((fd = open_tun_in_namespace(argv[1], mtu, argv[2])) < 0) {
    fail("cannot open the TUN interface", 0);
  } else if ((code = valdori_agent_runtime(&runtime)) != 0) {
    close(fd);
    fail("cannot create the runtime", code);
  } else if ((code = valdori_agent_tun_device_create(runtime, fd, &tun)) != 0) {
    close(fd); /* still ours when the library did not take it */
    fail("cannot use the TUN descriptor", code);
  } else if ((code = valdori_agent_start(runtime, config, path, tun, change_queue_callback, NULL, &agent)) != 0) {
    fail("cannot start the agent", code);
  } else {
    struct host_settings settings = {argv[2], argv[1], argv[3], NULL};
    serve(runtime, agent, &settings, signals, changes);
    valdori_agent_shutdown(runtime, agent);
    host_change_free(settings.applied);
    status = 0;
  }
  valdori_agent_free(agent);
  valdori_agent_tun_device_free(tun);
  valdori_agent_config_free(config);
  valdori_agent_runtime_free(runtime);
  change_queue_close();
  close(signals);
  return status;
}

int main(int argc, char** argv) {
  ++argv;
  --argc;
  if (argc >= 2 && strcmp(argv[0], "--log-level") == 0) {
    setenv("VALDORI_LOG_LEVEL", argv[1], 1);
    argv += 2;
    argc -= 2;
  }
  if (argc < 1) return fail("usage: valdori-linux-host [--log-level LEVEL] prepare|run ...", 0);
  if (strcmp(argv[0], "prepare") == 0) return prepare(argc - 1, argv + 1);
  if (strcmp(argv[0], "run") == 0) return run(argc - 1, argv + 1);
  fprintf(stderr, "valdori-linux-host: unknown mode '%s'\n", argv[0]);
  return 1;
}
