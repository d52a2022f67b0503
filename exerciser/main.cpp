// wdt-exerciser: exercises a hardware watchdog through its driver's library.
// Takes no arguments and reads no environment.
#include "platform.h"
#include "sequence.h"

int main() {
  platform::Prepare();
  return exerciser::RunExercise();
}
