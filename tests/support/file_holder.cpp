#include "tests/support/file_holder.h"

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

#ifndef QW_FILE_HOLDER_EXE
#error "QW_FILE_HOLDER_EXE names the built file_holder.exe"
#endif

namespace {
constexpr DWORD kStartTimeoutMs = 20000;
}

bool FileHolder::Hold(const std::string& path) {
  Release();
  static unsigned counter = 0;
  const std::string eventName = "qw-file-holder-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(++counter);
  UniqueKernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
  if (!ready) {
    ADD_FAILURE() << "CreateEventA " << GetLastError();
    return false;
  }
  std::string commandLine =
      "\"" + ToWindowsPath(QW_FILE_HOLDER_EXE) + "\" \"" + path + "\" " + eventName;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
    return false;
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  const HANDLE waits[] = {ready.get(), process_.get()};
  const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kStartTimeoutMs);
  if (woke != WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    GetExitCodeProcess(process_.get(), &exitCode);
    ADD_FAILURE() << "file_holder did not take " << path << " (wait " << woke << ", exit code "
                  << exitCode << ")";
    Release();
    return false;
  }
  return true;
}

void FileHolder::Release() {
  if (!process_) return;
  TerminateProcess(process_.get(), 0);
  WaitForSingleObject(process_.get(), INFINITE);
  process_.reset();
}
