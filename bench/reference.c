/* The bare reference for the benchmark: the least that the exerciser's loops
 * must do, and nothing else.
 *   reference keys   read one key code in raw mode (raw once, for the whole
 *                    run), write one line; q or the end of input ends it
 *   reference tick   write one line, sleep 1000 ms, forever
 *   reference hold   the probe's two trace lines on standard error, 2000 ms
 *                    apart
 * The lines are the exerciser's own, so the benchmark reads both alike. */
#define _POSIX_C_SOURCE 200809L
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static const char kPrompt[] =
    "Press key to reset timer to 30 seconds. Press q to close WDT and quit application.\n";
static const char kClosed[] = "WDT closed. Exiting\n";
static const char kTimer[] = "Current timeout: 30\n";

static void Put(int fd, const char* text) {
  if (write(fd, text, strlen(text)) < 0) {
    /* nothing to do about it */
  }
}

static void SleepMs(long ms) {
  struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
  }
}

static int Keys(void) {
  struct termios saved;
  const int terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    struct termios raw = saved;
    raw.c_lflag &= (tcflag_t)~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  unsigned char key = 0;
  do {
    Put(STDOUT_FILENO, kPrompt);
  } while (read(STDIN_FILENO, &key, 1) == 1 && key != 'q');
  if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  Put(STDOUT_FILENO, kClosed);
  return 0;
}

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "keys";
  if (strcmp(mode, "tick") == 0) {
    for (;;) {
      Put(STDOUT_FILENO, kTimer);
      SleepMs(1000);
    }
  }
  if (strcmp(mode, "hold") == 0) {
    Put(STDERR_FILENO, "EnableTimer(5, 0) -> 0\n");
    SleepMs(2000);
    Put(STDERR_FILENO, "DisableTimer() -> 0\n");
    return 0;
  }
  return Keys();
}
