#include "tests/windows/hosted_window.h"

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace {
constexpr DWORD kStartMilliseconds = 15000;

struct Search {
  DWORD processId;
  const char* className;
  HWND found;
};

BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId) return TRUE;
  char className[256] = {};
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpiA(className, search->className) != 0) return TRUE;
  search->found = window;
  return FALSE;
}
}  // namespace

bool HostedWindow::Open(const std::string& className, const std::string& title, bool hidden) {
  Close();
  std::string command = "\"" + ToWindowsPath(QW_WINDOW_HOST_EXE) + "\" \"" + className + "\" \"" +
                        title + "\"" + (hidden ? " hidden" : "");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "cannot start " << command << ": " << GetLastError();
    return false;
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  for (DWORD waited = 0; waited < kStartMilliseconds; waited += 20) {
    Search search = {info.dwProcessId, className.c_str(), nullptr};
    EnumWindows(MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      window_ = search.found;
      return true;
    }
    if (WaitForSingleObject(process_.get(), 20) == WAIT_OBJECT_0) break;
  }
  ADD_FAILURE() << "no window from " << command;
  Close();
  return false;
}

void HostedWindow::Close() {
  if (!process_) return;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
  process_.reset();
  window_ = nullptr;
}
