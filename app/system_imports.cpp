// The two functions the updater takes from shell32 and ole32, bound on first call to the DLLs
// in the system folder (a full path, so no search is involved). Defining their import slots
// here keeps shell32 and ole32 out of the executable's import table: otherwise the loader
// maps them, and every DLL they import, before WinMain can restrict the DLL search, and a DLL
// planted beside the executable under the name of one of those would be loaded then.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include "app/dll_search.h"
#include "app/text_limits.h"

namespace {

// The DLL search is restricted while the C runtime starts the process: before WinMain, before
// the first use of the slots below, and before anything else of the updater runs. This file is
// part of every updater, since the calls of CoInitialize and SHFileOperationA need its slots.
const struct DllSearchRestriction {
  DllSearchRestriction() { RestrictDllSearchToSystemFolder(); }
} g_dllSearchRestriction;

// The export named procName of the system folder's dllName (such as "ole32.dll"), loaded once
// and kept for the life of the process; null when it cannot be loaded.
FARPROC SystemExport(const char* dllName, const char* procName) {
  char path[kPathCapacity];
  const UINT length = GetSystemDirectoryA(path, sizeof path);
  if (length == 0 || length + 1 + lstrlenA(dllName) >= sizeof path) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, dllName);
  const HMODULE module = LoadLibraryA(path);
  return module ? GetProcAddress(module, procName) : nullptr;
}

template <typename Function>
Function Bound(const char* dllName, const char* procName) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(SystemExport(dllName, procName)));
}

using CoInitializeFn = HRESULT(WINAPI*)(LPVOID);
using SHFileOperationAFn = int(WINAPI*)(LPSHFILEOPSTRUCTA);

HRESULT WINAPI FirstCoInitialize(LPVOID reserved);
int WINAPI FirstSHFileOperationA(LPSHFILEOPSTRUCTA operation);

}  // namespace

// The import slots that calls of CoInitialize and SHFileOperationA go through. Each starts at a
// binder that resolves the real function, stores it in the slot and calls it.
extern "C" {
CoInitializeFn g_coInitializeSlot __asm__("__imp__CoInitialize@4") = FirstCoInitialize;
SHFileOperationAFn g_shFileOperationASlot __asm__("__imp__SHFileOperationA@4") =
    FirstSHFileOperationA;
}

namespace {

HRESULT WINAPI FirstCoInitialize(LPVOID reserved) {
  const auto bound = Bound<CoInitializeFn>("ole32.dll", "CoInitialize");
  if (!bound) return E_FAIL;
  g_coInitializeSlot = bound;
  return bound(reserved);
}

// A shell that cannot be loaded fails the copy as the shell itself would (a non-zero result).
int WINAPI FirstSHFileOperationA(LPSHFILEOPSTRUCTA operation) {
  const auto bound = Bound<SHFileOperationAFn>("shell32.dll", "SHFileOperationA");
  if (!bound) return ERROR_MOD_NOT_FOUND;
  g_shFileOperationASlot = bound;
  return bound(operation);
}

}  // namespace
