#define _GNU_SOURCE
#include "tun.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "host_settings.h"

int open_tun_in_namespace(const char* name, unsigned mtu, const char* netns) {
  if (*name == '\0' || strlen(name) >= IFNAMSIZ) {
    fprintf(stderr, "interface name '%s' is empty or too long\n", name);
    return -1;
  }
  const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "cannot open /dev/net/tun: %s\n", strerror(errno));
    return -1;
  }
  struct ifreq request;
  memset(&request, 0, sizeof request);
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  memcpy(request.ifr_name, name, strlen(name));
  if (ioctl(fd, TUNSETIFF, &request) < 0) {
    fprintf(stderr, "cannot create TUN interface %s: %s\n", name, strerror(errno));
    close(fd);
    return -1;
  }
  char mtu_text[16];
  snprintf(mtu_text, sizeof mtu_text, "%u", mtu);
  char* set_mtu[] = {"ip", "link", "set", (char*)name, "mtu", mtu_text, NULL};
  char* move[] = {"ip", "link", "set", (char*)name, "netns", (char*)netns, NULL};
  char* up[] = {"ip", "-n", (char*)netns, "link", "set", (char*)name, "up", NULL};
  if (!run_command(set_mtu) || !run_command(move) || !run_command(up)) {
    fprintf(stderr, "cannot set up TUN interface %s in namespace %s\n", name, netns);
    close(fd);
    return -1;
  }
  return fd;
}
