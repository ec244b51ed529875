/*
 * valdori agent: the C interface.
 *
 * A host application makes its device a member of overlay networks through these functions. The
 * usual order: valdori_agent_init_logging (left out where no syslog daemon listens, so that the
 * events stay on standard error), valdori_agent_runtime, valdori_agent_config_load_or_generate,
 * valdori_agent_tun_device_create, valdori_agent_start; then any number of valdori_agent_status
 * (each text freed with valdori_agent_status_free) and valdori_agent_cancel_udp_bindings; then
 * valdori_agent_shutdown, valdori_agent_free, valdori_agent_tun_device_free,
 * valdori_agent_config_free and valdori_agent_runtime_free last.
 *
 * Conventions:
 * - Functions returning int32_t give 0 on success and a negative code otherwise (below).
 * - String arguments are NUL-terminated, borrowed for the call only, and must be UTF-8 where they
 *   are read as text (else VALDORI_AGENT_ERR_UTF8). String, array and out-pointer arguments are
 *   tested for NULL first. Handles must be live; every free function accepts NULL.
 * - Any host thread may call any function, except that the blocking ones (valdori_agent_start,
 *   _shutdown, _status, _tun_device_create) and valdori_agent_runtime_free must not be called
 *   from one of the runtime's own threads, such as inside the network-change callback: there they
 *   do nothing and report an error instead of deadlocking.
 * - No function lets a failure escape as anything but its result.
 */
#ifndef VALDORI_AGENT_H
#define VALDORI_AGENT_H

#include <stdint.h>

#if defined(__GNUC__)
#define VALDORI_AGENT_API __attribute__((visibility("default")))
#else
#define VALDORI_AGENT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes. */
#define VALDORI_AGENT_OK 0
#define VALDORI_AGENT_ERR_UTF8 (-1)                     /* a string argument is not UTF-8 */
#define VALDORI_AGENT_ERR_GENERIC (-2)                  /* NULL argument, or a failure with no code of its own */
#define VALDORI_AGENT_ERR_URL_PARSE (-3)                /* the network URL does not parse */
#define VALDORI_AGENT_ERR_NETWORK_NOT_FOUND (-4)        /* the network is not in the configuration */
#define VALDORI_AGENT_ERR_NETWORK_EXISTS (-5)           /* the network is already in the configuration */
#define VALDORI_AGENT_ERR_NETWORK_ALREADY_ENABLED (-6)  /* enabling a network that is enabled */
#define VALDORI_AGENT_ERR_NETWORK_ALREADY_DISABLED (-7) /* disabling a network that is disabled */
/* -101 down to -116: an agent error of kind 0 to 15, in this order: HTTP client, HTTP URI, HTTP
 * transport, UTF-8, I/O, TOML, HTTP, URL parsing, network configuration, identity, node, TOML
 * serialization, configuration parse, network already exists, network not found, unsupported
 * TUN creation platform. */
#define VALDORI_AGENT_ERR_AGENT_FIRST (-101)
#define VALDORI_AGENT_ERR_AGENT_LAST (-116)

/* Opaque handles; the host only holds pointers to them. */
typedef struct RuntimePtr RuntimePtr;         /* the runtime the agent's work runs on */
typedef struct AgentConfigPtr AgentConfigPtr; /* a configuration loaded from its file */
typedef struct AgentPtr AgentPtr;             /* a started agent */
typedef struct TunDevicePtr TunDevicePtr;     /* the host's tunnel descriptor, shared with the agent */

/* One joined network as valdori_agent_config_networks lists it; read it with the accessors. */
typedef struct NetworkInfo {
  char* url;        /* the normalised network URL */
  int32_t disabled; /* 1 disabled, 0 enabled */
  char* name;       /* NULL when the network has none */
} NetworkInfo;

/* What the host's interface must look like now; texts valid only during the callback. */
typedef struct NetworkChange {
  const char* ips;        /* overlay addresses "10.1.0.7/24,10.2.0.9/16", or "" */
  const char* routes;     /* route destinations, same form, or "" */
  const char* dns_server; /* the agent's DNS responder "10.1.0.2", or "" */
} NetworkChange;

/* Called on a runtime thread while the agent's state is locked: copy what you need, hand it to
 * a thread of your own and return at once; call no blocking function from here. */
typedef void (*network_change_callback)(const NetworkChange* change);

/* ---- process set-up ---- */

/* "VERSION (COMMIT)", static: never freed. */
VALDORI_AGENT_API const char* valdori_agent_version(void);
/* Sends the library's log events, every level, to the platform log instead of standard error: on
 * Linux syslog (identity "valdori-agent", facility user), so where no syslog daemon listens every
 * event is lost, errors included. 0, or -2 when already set up (the first set-up stays). Before
 * it, events at INFO and above (or VALDORI_LOG_LEVEL's) go to standard error. */
VALDORI_AGENT_API int32_t valdori_agent_init_logging(void);
/* Creates a runtime with one thread per processor. 0; -2 for NULL out or on failure. */
VALDORI_AGENT_API int32_t valdori_agent_runtime(RuntimePtr** out);
/* Stops the runtime's threads (tasks still on it are dropped) and frees it. NULL ignored. */
VALDORI_AGENT_API void valdori_agent_runtime_free(RuntimePtr* runtime);

/* ---- the configuration file ---- */

/* Loads the configuration at path, or generates a new identity into a new file there (this can
 * take a while). 0, -1, -2, or -101 to -116 (I/O -105, TOML -106, identity -110). */
VALDORI_AGENT_API int32_t valdori_agent_config_load_or_generate(const char* path, AgentConfigPtr** out);
/* Copies the node's 32-byte public key into out; a network document lists it as 64 hex digits,
 * two per byte in order. 0; -2 for a NULL handle or buffer. */
VALDORI_AGENT_API int32_t valdori_agent_config_id_pk(const AgentConfigPtr* config, uint8_t out[32]);
/* Frees a configuration handle. NULL ignored. */
VALDORI_AGENT_API void valdori_agent_config_free(AgentConfigPtr* config);

/* Edit the file at path (read, change, write back); no handle changes. add and remove need an
 * existing file; enable and disable create a new one where there is none. The file is written
 * from what the configuration holds: keys it does not know, and comments, are dropped.
 * add: 0, -1, -2, -3, -5; remove: 0, -1, -2, -3, -4; enable: ..., -4, -6; disable: ..., -4, -7.
 * -2 is also every failure to read, parse or write the file, with no log line. */
VALDORI_AGENT_API int32_t valdori_agent_config_network_add(const char* path, const char* network_url);
VALDORI_AGENT_API int32_t valdori_agent_config_network_remove(const char* path, const char* network_url);
VALDORI_AGENT_API int32_t valdori_agent_config_network_enable(const char* path, const char* network_url);
VALDORI_AGENT_API int32_t valdori_agent_config_network_disable(const char* path, const char* network_url);

/* Lists the networks of the file at path, in no defined order: an array of *count records (NULL
 * and 0 when there are none), the library's until valdori_agent_config_networks_free.
 * 0, -1, -2 (also for a file that cannot be read or parsed). */
VALDORI_AGENT_API int32_t valdori_agent_config_networks(const char* path, NetworkInfo** out, int32_t* count);
/* A record's fields; for a NULL array or an index outside it: NULL, -1, NULL. The texts belong
 * to the array. */
VALDORI_AGENT_API const char* valdori_agent_network_url(const NetworkInfo* networks, int32_t index);
VALDORI_AGENT_API int32_t valdori_agent_network_disabled(const NetworkInfo* networks, int32_t index);
VALDORI_AGENT_API const char* valdori_agent_network_name(const NetworkInfo* networks, int32_t index);
/* Frees the array and its texts. A NULL array or a count below 1 does nothing; any other count
 * frees the whole array (it knows its own size). */
VALDORI_AGENT_API void valdori_agent_config_networks_free(NetworkInfo* networks, int32_t count);

/* ---- the agent ---- */

/* The three texts of a change record; NULL for NULL. Valid only during the callback. */
VALDORI_AGENT_API const char* valdori_agent_network_change_ips(const NetworkChange* change);
VALDORI_AGENT_API const char* valdori_agent_network_change_routes(const NetworkChange* change);
VALDORI_AGENT_API const char* valdori_agent_network_change_dns_server(const NetworkChange* change);

/* Wraps the host's open tunnel descriptor; on Linux a TUN opened with IFF_TUN | IFF_NO_PI, which
 * carries bare IPv4 packets. Another descriptor is taken too, and on Linux a WARN at creation
 * names what it is instead: no TUN, a TAP, or a TUN without IFF_NO_PI (through which no packet
 * passes). That last is told only where the kernel can be asked in the interface's own network
 * namespace: not without CAP_NET_ADMIN, nor without CAP_SYS_ADMIN for an interface moved to
 * another namespace, nor on a kernel without TUNGETDEVNETNS. Packets read that are not IPv4 are
 * dropped without a log line. On success the device owns the descriptor and closes it when the
 * last reference goes; on failure it stays the host's. Blocking. 0; -2 for NULL out, a bad
 * descriptor or a runtime thread. */
VALDORI_AGENT_API int32_t valdori_agent_tun_device_create(const RuntimePtr* runtime, int32_t fd, TunDevicePtr** out);
/* Releases the host's reference; a running agent keeps the device. NULL ignored. */
VALDORI_AGENT_API void valdori_agent_tun_device_free(TunDevicePtr* tun_device);

/* Starts an agent on a copy of config (the host still frees its handle), with the device (NULL:
 * none) and the callback (NULL: no notifications). reserved is never read. Blocking.
 * 0, -1, -2, or -101 to -116. */
VALDORI_AGENT_API int32_t valdori_agent_start(const RuntimePtr* runtime, const AgentConfigPtr* config,
                                              const char* config_path, const TunDevicePtr* tun_device,
                                              network_change_callback callback, void* reserved, AgentPtr** out);
/* Stops the agent's work and takes its networks down; the handle must still be freed. Blocking.
 * 0; -2 for NULL handles or a runtime thread. */
VALDORI_AGENT_API int32_t valdori_agent_shutdown(const RuntimePtr* runtime, const AgentPtr* agent);
/* Frees the handle (call valdori_agent_shutdown first). NULL ignored. */
VALDORI_AGENT_API void valdori_agent_free(AgentPtr* agent);
/* Cancels the overlay node's current UDP sockets, for example after the device changed networks.
 * Non-blocking. 0; -2 for NULL. */
VALDORI_AGENT_API int32_t valdori_agent_cancel_udp_bindings(const AgentPtr* agent);

/* The multi-line status report, secrets masked; never NULL. Free it with
 * valdori_agent_status_free. Blocking; on a runtime thread or with NULL handles the text says
 * so instead. */
VALDORI_AGENT_API char* valdori_agent_status(const RuntimePtr* runtime, const AgentPtr* agent);
/* Frees a text from valdori_agent_status. NULL ignored. */
VALDORI_AGENT_API void valdori_agent_status_free(char* status);

#ifdef __cplusplus
}
#endif

#endif /* VALDORI_AGENT_H */
