#pragma once
// Another process that holds a file open without sharing (file_holder.exe), so that nothing
// else can write, replace or delete it while the holder lives.
#include <string>

#include "app/win32_handles.h"

class FileHolder {
 public:
  FileHolder() = default;
  ~FileHolder() { Release(); }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // Starts the holder on path and waits until it holds the file; false after a test failure.
  bool Hold(const std::string& path);
  // Ends the holder: the file is free again.
  void Release();

 private:
  UniqueKernelHandle process_;
};
