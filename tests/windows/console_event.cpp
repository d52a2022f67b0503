// console-event EVENT PROGRAM [ARGUMENTS...]: runs PROGRAM in this console
// and sends it console control event EVENT (a number) at each Ctrl+C that
// reaches this process (Wine turns a SIGINT into one). It sends the event as
// the console does: a thread started in the program at the system's
// CtrlRoutine, which runs the program's handlers. Wine itself sends nothing
// but Ctrl+C: GenerateConsoleCtrlEvent refuses Ctrl+Break, and neither a
// terminal's hang-up nor wineboot's end of session sends an event. Exits with
// the program's exit status.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HANDLE g_program = nullptr;
DWORD g_event = 0;
LPTHREAD_START_ROUTINE g_ctrl_routine = nullptr;

BOOL WINAPI ForwardCtrlC(DWORD event) {
  if (event != CTRL_C_EVENT || g_program == nullptr) return FALSE;
  const HANDLE thread = CreateRemoteThread(g_program, nullptr, 0, g_ctrl_routine,
                                           reinterpret_cast<void*>(static_cast<ULONG_PTR>(g_event)), 0, nullptr);
  if (thread == nullptr) std::fprintf(stderr, "console-event: no thread (error %lu)\n", GetLastError());
  else CloseHandle(thread);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  g_event = std::strtoul(argv[1], nullptr, 0);
  g_ctrl_routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CtrlRoutine")));
  std::string command_line;
  for (int i = 2; i < argc; ++i) command_line += std::string(i > 2 ? " \"" : "\"") + argv[i] + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  SetConsoleCtrlHandler(ForwardCtrlC, TRUE);
  if (g_ctrl_routine == nullptr ||
      !CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &program)) {
    std::fprintf(stderr, "console-event: cannot run %s (error %lu)\n", argv[2], GetLastError());
    return 2;
  }
  g_program = program.hProcess;  // before the program runs, and so before any Ctrl+C meant for it
  ResumeThread(program.hThread);
  WaitForSingleObject(program.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(program.hProcess, &status);
  return static_cast<int>(status);
}
