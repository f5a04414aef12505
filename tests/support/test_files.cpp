#include "tests/support/test_files.h"

#include <algorithm>

#include "app/win32_handles.h"

std::string ToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

std::string ProcessTempFolder() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  return temp;
}

ScratchFolder::ScratchFolder(const char* label) {
  const std::string temp = ProcessTempFolder();
  static unsigned counter = 0;
  for (;;) {
    char name[64];
    wsprintfA(name, "%s-%lu-%u", label, GetCurrentProcessId(), ++counter);
    path_ = JoinPath(temp, name);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;  // reported by the test's first use
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool MakeFolder(const std::string& path) {
  CreateDirectoryA(path.c_str(), nullptr);
  return IsFolder(path);
}

void RemoveTree(const std::string& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA found;
  UniqueFindHandle find(FindFirstFileA(JoinPath(path, "*").c_str(), &found));
  if (find) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") RemoveTree(JoinPath(path, name));
    } while (FindNextFileA(find.get(), &found));
  }
  find.reset();
  RemoveDirectoryA(path.c_str());
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written == bytes.size();
}

bool WriteText(const std::string& path, const std::string& text) {
  return WriteBytes(path, ToBytes(text));
}

bool ReadBytes(const std::string& path, std::vector<std::uint8_t>* bytes) {
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  const DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  std::vector<std::uint8_t> contents(size);
  DWORD read = 0;
  if (size && (!ReadFile(file.get(), contents.data(), size, &read, nullptr) || read != size)) {
    return false;
  }
  *bytes = std::move(contents);
  return true;
}

std::vector<std::uint8_t> ToBytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool IsFolder(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
void ListInto(const std::string& folder, const std::string& prefix,
              std::vector<std::string>* names) {
  WIN32_FIND_DATAA found;
  UniqueFindHandle find(FindFirstFileA(JoinPath(folder, "*").c_str(), &found));
  if (!find) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      names->push_back(prefix + name + "\\");
      ListInto(JoinPath(folder, name), prefix + name + "\\", names);
    } else {
      names->push_back(prefix + name);
    }
  } while (FindNextFileA(find.get(), &found));
}
}  // namespace

std::vector<std::string> ListTree(const std::string& folder) {
  std::vector<std::string> names;
  ListInto(folder, "", &names);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Describe(const std::vector<std::string>& names) {
  std::string all = "{";
  for (size_t i = 0; i < names.size(); ++i) all += (i ? ", " : "") + names[i];
  return all + "}";
}

std::uint64_t LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
         data.ftLastWriteTime.dwLowDateTime;
}

std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return std::int64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

std::vector<std::uint8_t> PseudoRandomBytes(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}
