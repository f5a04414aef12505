#include "app/dll_search.h"

#include <windows.h>

namespace {
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
}  // namespace

void RestrictDllSearchToSystemFolder() {
  // kernel32 is mapped into every process: GetModuleHandleA looks nothing up on disk.
  // SetDefaultDllDirectories is resolved by name, since systems before it lack the export.
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const FARPROC proc = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(proc));
  // Every later LoadLibrary without search flags, and every DLL those load, is looked for in
  // the system folder only: the executable's folder is no longer searched.
  if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Where that export is missing, this at least drops the current folder from the search.
  SetDllDirectoryA("");
}
