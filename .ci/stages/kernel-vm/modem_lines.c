/* modem_lines PORT COMMAND...: holds the serial port PORT open with DTR and
 * RTS dropped, runs COMMAND, and prints the port's DTR and RTS before and
 * after it. Exit status 0 when COMMAND left them as they were, 1 when it
 * changed them, 2 when the port could not be held. Opening the port again
 * (even without blocking) raises both lines: a program that opens a serial
 * port named by mistake shows up here. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static int lines(int fd) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return -1;
  return bits & (TIOCM_DTR | TIOCM_RTS);
}

static void show(const char* when, int bits) {
  printf("%s: DTR %d RTS %d\n", when, (bits & TIOCM_DTR) != 0, (bits & TIOCM_RTS) != 0);
  fflush(stdout);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: modem_lines PORT COMMAND...\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
  int drop = TIOCM_DTR | TIOCM_RTS;
  if (fd < 0 || ioctl(fd, TIOCMBIC, &drop) != 0) {
    perror(argv[1]);
    return 2;
  }
  const int before = lines(fd);
  show("before", before);
  const pid_t child = fork();
  if (child == 0) {
    close(fd);
    execv(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const int after = lines(fd);
  show("after", after);
  return before >= 0 && after == before ? 0 : 1;
}
