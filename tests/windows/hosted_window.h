#pragma once
// A window of another process (window_host.exe), started and stopped by a test.
#include <windows.h>

#include <string>

#include "app/win32_handles.h"

class HostedWindow {
 public:
  HostedWindow() = default;
  ~HostedWindow() { Close(); }
  HostedWindow(const HostedWindow&) = delete;
  HostedWindow& operator=(const HostedWindow&) = delete;

  // Starts the host and waits until its window can be found; false after a test failure.
  // className "#32770": the dialog box class.
  bool Open(const std::string& className, const std::string& title, bool hidden = false);
  // Posts WM_CLOSE and waits for the host to end (it is killed when it does not).
  void Close();

  HWND window() const { return window_; }

 private:
  UniqueKernelHandle process_;
  HWND window_ = nullptr;
};
