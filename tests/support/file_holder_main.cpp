// file_holder PATH EVENT: opens PATH for reading and writing with no sharing, as a game or a
// virus scanner may hold a file, sets the named event EVENT once it holds it, and keeps it
// until it is ended (FileHolder terminates it). Exit code 2: PATH could not be opened.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (!ready || !SetEvent(ready)) return 3;
  Sleep(INFINITE);
  return 0;
}
