/* set_pretimeout DEVICE SECONDS: sets a watchdog's pretimeout as a system
 * would leave it before the programs run (a service manager, a tool), then
 * stops the watchdog again with the magic close. Exit status 0 when set. */
#include <fcntl.h>
#include <linux/watchdog.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: set_pretimeout DEVICE SECONDS\n");
    return 2;
  }
  int seconds = atoi(argv[2]);
  const int fd = open(argv[1], O_WRONLY);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  const int set = ioctl(fd, WDIOC_SETPRETIMEOUT, &seconds);
  if (set != 0) perror("WDIOC_SETPRETIMEOUT");
  const int stopped = write(fd, "V", 1) == 1;
  close(fd);
  return set == 0 && stopped ? 0 : 1;
}
