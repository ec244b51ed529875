#define _GNU_SOURCE
#include "host_settings.h"

#include <arpa/inet.h>
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

extern char** environ;

bool run_command(char* const argv[]) {
  pid_t pid;
  const int spawned = posix_spawnp(&pid, argv[0], NULL, NULL, argv, environ);
  if (spawned != 0) {
    fprintf(stderr, "cannot run %s: %s\n", argv[0], strerror(spawned));
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  fprintf(stderr, "'%s", argv[0]);
  for (int i = 1; argv[i] != NULL; ++i) fprintf(stderr, " %s", argv[i]);
  fprintf(stderr, "' failed (wait status %d)\n", status);
  return false;
}

/* A list of CIDR texts ("10.1.0.7/24"), split from the record's comma-separated form. */
struct cidr_list {
  char** items;
  size_t count;
};

static void cidr_list_free(struct cidr_list* list) {
  for (size_t i = 0; i < list->count; ++i) free(list->items[i]);
  free(list->items);
  list->items = NULL;
  list->count = 0;
}

static bool cidr_list_contains(const struct cidr_list* list, const char* cidr) {
  for (size_t i = 0; i < list->count; ++i) {
    if (strcmp(list->items[i], cidr) == 0) return true;
  }
  return false;
}

static bool cidr_list_add(struct cidr_list* list, const char* cidr, size_t length) {
  char** items = realloc(list->items, (list->count + 1) * sizeof *items);
  if (items == NULL) return false;
  list->items = items;
  list->items[list->count] = strndup(cidr, length);
  if (list->items[list->count] == NULL) return false;
  ++list->count;
  return true;
}

static bool cidr_list_split(struct cidr_list* list, const char* text) {
  while (text != NULL && *text != '\0') {
    const char* comma = strchr(text, ',');
    const size_t length = comma != NULL ? (size_t)(comma - text) : strlen(text);
    if (length > 0 && !cidr_list_add(list, text, length)) return false;
    text = comma != NULL ? comma + 1 : NULL;
  }
  return true;
}

/* "10.1.0.7/24" as its network "10.1.0.0/24" into network (at least 19 bytes) and its address
 * "10.1.0.7" into address (at least 16 bytes); false when the text is not a CIDR. */
static bool network_of(const char* cidr, char network[19], char address[16]) {
  const char* slash = strchr(cidr, '/');
  if (slash == NULL || (size_t)(slash - cidr) >= 16) return false;
  memcpy(address, cidr, (size_t)(slash - cidr));
  address[slash - cidr] = '\0';
  char* end;
  const long prefix = strtol(slash + 1, &end, 10);
  struct in_addr addr;
  if (*end != '\0' || prefix < 0 || prefix > 32 || inet_pton(AF_INET, address, &addr) != 1) return false;
  const uint32_t mask = prefix == 0 ? 0 : ~(uint32_t)0 << (32 - prefix);
  addr.s_addr = htonl(ntohl(addr.s_addr) & mask);
  char first[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &addr, first, sizeof first);
  snprintf(network, 19, "%s/%ld", first, prefix);
  return true;
}

/* The routes the interface needs: one to each overlay network, from the host's own address on
 * it (with several networks the kernel would otherwise send from the first address, which the
 * other networks' peers refuse), and the agent's routes, from the kernel's choice. sources holds
 * the source address of each route, "" for the kernel's choice. */
static bool routes_of(const struct host_change* change, struct cidr_list* routes, struct cidr_list* sources) {
  struct cidr_list ips = {0}, extra = {0};
  bool ok = change == NULL || (cidr_list_split(&extra, change->routes) && cidr_list_split(&ips, change->ips));
  for (size_t i = 0; ok && i < ips.count; ++i) {
    char network[19], address[16];
    if (network_of(ips.items[i], network, address) && !cidr_list_contains(routes, network)) {
      ok = cidr_list_add(routes, network, strlen(network)) && cidr_list_add(sources, address, strlen(address));
    }
  }
  for (size_t i = 0; ok && i < extra.count; ++i) {
    if (!cidr_list_contains(routes, extra.items[i])) {
      ok = cidr_list_add(routes, extra.items[i], strlen(extra.items[i])) && cidr_list_add(sources, "", 0);
    }
  }
  cidr_list_free(&ips);
  cidr_list_free(&extra);
  return ok;
}

static bool ip_dev(const struct host_settings* settings, const char* object, const char* verb, const char* cidr) {
  char* argv[] = {"ip",        "-n",  (char*)settings->netns,     (char*)object, (char*)verb,
                  (char*)cidr, "dev", (char*)settings->interface, NULL};
  return run_command(argv);
}

static bool ip_route_replace(const struct host_settings* settings, const char* cidr, const char* source) {
  char* argv[] = {"ip",        "-n",  (char*)settings->netns,     "route", "replace",
                  (char*)cidr, "dev", (char*)settings->interface, "src",   (char*)source,
                  NULL};
  if (*source == '\0') argv[8] = NULL;
  return run_command(argv);
}

static bool write_dns_file(const struct host_settings* settings, const char* dns_server) {
  if (*dns_server == '\0') return remove(settings->dns_file) == 0 || errno == ENOENT;
  /* Written beside and renamed, so that a reader never sees half an address. */
  char partial[4096];
  if (snprintf(partial, sizeof partial, "%s.partial", settings->dns_file) >= (int)sizeof partial) return false;
  FILE* file = fopen(partial, "w");
  if (file == NULL) return false;
  const bool written = fprintf(file, "%s\n", dns_server) > 0;
  if (fclose(file) != 0 || !written) return false;
  return rename(partial, settings->dns_file) == 0;
}

void host_settings_apply(struct host_settings* settings, struct host_change* change) {
  struct cidr_list routes = {0}, sources = {0}, old_routes = {0}, old_sources = {0}, ips = {0}, old_ips = {0};
  bool ok = routes_of(change, &routes, &sources) && routes_of(settings->applied, &old_routes, &old_sources) &&
            cidr_list_split(&ips, change->ips) &&
            (settings->applied == NULL || cidr_list_split(&old_ips, settings->applied->ips));
  for (size_t i = 0; ok && i < old_routes.count; ++i) {
    /* Failure ignored: the kernel may have removed the route with its address. */
    if (!cidr_list_contains(&routes, old_routes.items[i])) ip_dev(settings, "route", "del", old_routes.items[i]);
  }
  for (size_t i = 0; ok && i < old_ips.count; ++i) {
    if (!cidr_list_contains(&ips, old_ips.items[i])) ok &= ip_dev(settings, "addr", "del", old_ips.items[i]);
  }
  for (size_t i = 0; ok && i < ips.count; ++i) ok &= ip_dev(settings, "addr", "replace", ips.items[i]);
  for (size_t i = 0; ok && i < routes.count; ++i) ok &= ip_route_replace(settings, routes.items[i], sources.items[i]);
  ok = ok && write_dns_file(settings, change->dns_server);
  cidr_list_free(&routes);
  cidr_list_free(&sources);
  cidr_list_free(&old_routes);
  cidr_list_free(&old_sources);
  cidr_list_free(&ips);
  cidr_list_free(&old_ips);

  printf(ok ? "applied ips=%s routes=%s dns=%s\n" : "could not apply ips=%s routes=%s dns=%s\n", change->ips,
         change->routes, change->dns_server);
  fflush(stdout);
  host_change_free(settings->applied);
  settings->applied = change;
}
