/* A host of the installed interface at its smallest: loads a configuration file (generated where
 * missing) twice with the same identity and prints the library's version.
 * Usage: host CONFIG_PATH */
#if defined(TOML_HEADER_ONLY) || defined(TOML_SHARED_LIB)
#error "the interface's flags carry a dependency's compile definitions to the host"
#endif
#include <stdio.h>
#include <string.h>
#include <valdori_agent.h>

static int load_identity(const char* path, uint8_t identity[32]) {
  AgentConfigPtr* config = NULL;
  if (valdori_agent_config_load_or_generate(path, &config) != 0) return -1;
  const int32_t code = valdori_agent_config_id_pk(config, identity);
  valdori_agent_config_free(config);
  return code;
}

int main(int argc, char** argv) {
  uint8_t first[32], second[32];
  if (argc != 2 || load_identity(argv[1], first) != 0 || load_identity(argv[1], second) != 0) {
    fprintf(stderr, "the configuration was not loaded\n");
    return 1;
  }
  if (memcmp(first, second, sizeof first) != 0) {
    fprintf(stderr, "the second load gave another identity\n");
    return 1;
  }
  printf("%s\n", valdori_agent_version());
  return 0;
}
