#include <stdio.h>
#include <unistd.h>
#include <valdori_agent.h>

void on_network_change(const NetworkChange* change); /* hands the change to the host's loop */
void host_loop(void);                                /* applies the changes until the host stops */

/* Runs the agent as a member of the network at network_url on tun_fd, an open TUN descriptor that
 * it takes over, until the host stops; 0 or the code of the call that failed. */
int32_t run_agent(const char* config_path, const char* network_url, int tun_fd) {
  /* The networks are kept in the file: load it (a missing one is made, with a new identity), then
   * add the network to the file. */
  AgentConfigPtr* cfg = NULL;
  int32_t rc = valdori_agent_config_load_or_generate(config_path, &cfg);
  valdori_agent_config_free(cfg);
  cfg = NULL;
  if (rc == 0) rc = valdori_agent_config_network_add(config_path, network_url);
  if (rc == VALDORI_AGENT_ERR_NETWORK_EXISTS) rc = 0; /* added on an earlier run */
  /* A handle is a snapshot of the file: the agent starts from one loaded after the edit. */
  if (rc == 0) rc = valdori_agent_config_load_or_generate(config_path, &cfg);

  RuntimePtr* rt = NULL;
  TunDevicePtr* tun = NULL;
  AgentPtr* agent = NULL;
  if (rc == 0) rc = valdori_agent_runtime(&rt);
  if (rc == 0) rc = valdori_agent_tun_device_create(rt, tun_fd, &tun);
  if (tun == NULL) close(tun_fd); /* else the device owns it */
  if (rc == 0) rc = valdori_agent_start(rt, cfg, config_path, tun, on_network_change, NULL, &agent);
  valdori_agent_config_free(cfg); /* the agent has a copy */
  if (rc == 0) {
    host_loop();
    char* report = valdori_agent_status(rt, agent);
    puts(report);
    valdori_agent_status_free(report);
    valdori_agent_shutdown(rt, agent);
  }
  valdori_agent_free(agent);
  valdori_agent_tun_device_free(tun);
  valdori_agent_runtime_free(rt);
  return rc;
}
