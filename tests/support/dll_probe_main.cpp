// dll_probe NAME...: loads each named DLL with LoadLibraryA and the platform's default search
// order, as a program without a restricted search does. Shows that Wine takes a planted DLL
// of that name from the program's own folder.
#include <windows.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) LoadLibraryA(argv[i]);
  return 0;
}
