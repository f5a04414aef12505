#include "tests/support/updater_process.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 0x0440;
constexpr DWORD kPollIntervalMs = 15;
constexpr UINT kSendTimeoutMs = 2000;  // a child that does not answer within this is hung

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// SendMessageTimeoutA, so that a hung child cannot hang the test.
LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

std::string TextOf(HWND window) {
  if (!window) return {};
  const LRESULT length = SendBounded(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendBounded(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(copied));
  return text;
}

bool IsMessageBox(HWND window) {
  return ClassOf(window) == "#32770" && GetDlgItem(window, kMessageTextId) != nullptr;
}

struct ChildWindows {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectChildWindow(HWND window, LPARAM context) {
  ChildWindows* found = reinterpret_cast<ChildWindows*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == found->processId) found->windows.push_back(window);
  return TRUE;
}

BOOL CALLBACK DescribeControl(HWND control, LPARAM context) {
  std::string* out = reinterpret_cast<std::string*>(context);
  char line[64];
  wsprintfA(line, "\n    control %d %s%s%s: ", GetDlgCtrlID(control), ClassOf(control).c_str(),
            IsWindowVisible(control) ? "" : " hidden", IsWindowEnabled(control) ? "" : " disabled");
  *out += line + TextOf(control);
  return TRUE;
}

// A new environment block: the test process's own with TEMP and TMP set to folder.
std::vector<char> EnvironmentWithTemp(const std::string& folder) {
  std::vector<char> block;
  LPCH current = GetEnvironmentStringsA();
  for (const char* entry = current; *entry; entry += std::strlen(entry) + 1) {
    if (_strnicmp(entry, "TEMP=", 5) == 0 || _strnicmp(entry, "TMP=", 4) == 0) continue;
    block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
  }
  FreeEnvironmentStringsA(current);
  for (const char* name : {"TEMP=", "TMP="}) {
    const std::string entry = name + folder;
    block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  }
  block.push_back('\0');
  return block;
}

}  // namespace

UpdaterProcess::~UpdaterProcess() {
  if (process_.hProcess && running()) Kill();
  if (debugging_) {
    DebugActiveProcessStop(processId_);
  }
  if (process_.hThread) CloseHandle(process_.hThread);
  if (process_.hProcess) CloseHandle(process_.hProcess);
}

bool UpdaterProcess::Start(const std::string& exePath, const RunOptions& options) {
  options_ = options;
  std::vector<char> environment;
  if (!options.tempFolder.empty()) environment = EnvironmentWithTemp(options.tempFolder);

  std::string folder = exePath;
  const size_t separator = folder.find_last_of("\\/");
  folder = separator == std::string::npos ? std::string() : folder.substr(0, separator);
  std::string commandLine = "\"" + exePath + "\"";

  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  for (const std::string& name : options.pauseAt) {
    FARPROC function = GetProcAddress(kernel32, name.c_str());
    if (!function) {
      ADD_FAILURE() << "pauseAt: kernel32 has no export " << name;
      return false;
    }
    breakpoints_.push_back({name, reinterpret_cast<std::uint8_t*>(function), 0, false});
  }
  debugging_ = !breakpoints_.empty();

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                      debugging_ ? DEBUG_ONLY_THIS_PROCESS : 0,
                      environment.empty() ? nullptr : environment.data(),
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process_)) {
    ADD_FAILURE() << "CreateProcessA(" << exePath << ") failed: error " << GetLastError();
    process_ = {};
    return false;
  }
  processId_ = process_.dwProcessId;
  return true;
}

bool UpdaterProcess::running() {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool UpdaterProcess::Poll() {
  if (debugging_) HandleDebugEvents();
  const bool alive = running();
  if (paused_) return alive;  // a stopped child answers no messages
  ChildWindows found{processId_, {}};
  if (processId_) EnumWindows(&CollectChildWindow, reinterpret_cast<LPARAM>(&found));

  for (auto it = handledBoxes_.begin(); it != handledBoxes_.end();) {
    it = IsWindow(*it) ? std::next(it) : handledBoxes_.erase(it);
  }
  if (openBox_ && !IsWindow(openBox_)) openBox_ = nullptr;
  if (wizard_ && !IsWindow(wizard_)) wizard_ = nullptr;

  for (HWND window : found.windows) {
    if (!IsWindowVisible(window)) continue;
    SeenWindow seen{ClassOf(window), TextOf(window)};
    bool known = false;
    for (const SeenWindow& w : windows_) {
      known = known || (w.className == seen.className && w.title == seen.title);
    }
    if (!known) windows_.push_back(seen);

    if (IsMessageBox(window)) {
      if (handledBoxes_.insert(window).second) OnMessageBox(window);
    } else if (seen.className == "#32770") {
      wizard_ = window;
    }
  }
  return alive;
}

void UpdaterProcess::OnMessageBox(HWND window) {
  CapturedBox box;
  box.caption = TextOf(window);
  box.text = TextOf(GetDlgItem(window, kMessageTextId));
  box.owner = GetWindow(window, GW_OWNER);
  box.hasCancel = GetDlgItem(window, IDCANCEL) != nullptr;
  HWND icon = GetDlgItem(window, kMessageIconId);
  box.hasIcon = icon != nullptr && IsWindowVisible(icon) &&
                SendBounded(icon, STM_GETICON, 0, 0) != 0;
  boxes_.push_back(box);

  int answer = IDOK;
  if (answerer_) {
    answer = answerer_(boxes_.back(), *this);
  } else if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  if (answer == kLeaveBoxOpen) {
    openBox_ = window;
  } else {
    AnswerBox(window, answer);
  }
}

void UpdaterProcess::AnswerBox(HWND box, int buttonId) {
  if (box == openBox_) openBox_ = nullptr;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

bool UpdaterProcess::WaitUntil(const std::function<bool()>& condition, const char* what,
                               DWORD timeoutMs) {
  const DWORD bound = timeoutMs ? timeoutMs : options_.timeoutMs;
  const DWORD start = GetTickCount();
  for (;;) {
    const bool alive = Poll();
    if (condition()) return true;
    if (!alive) return false;
    if (GetTickCount() - start > bound) {
      Fail(std::string("timed out waiting for ") + what);
      return false;
    }
    Sleep(kPollIntervalMs);
  }
}

HWND UpdaterProcess::WaitForWizard(DWORD timeoutMs) {
  WaitUntil([this] { return wizard_ != nullptr; }, "the wizard", timeoutMs);
  return wizard_;
}

HWND UpdaterProcess::WaitForOpenBox(DWORD timeoutMs) {
  WaitUntil([this] { return openBox_ != nullptr; }, "a message box left open", timeoutMs);
  return openBox_;
}

int UpdaterProcess::WaitForExit(DWORD timeoutMs) {
  if (!process_.hProcess) return -1;
  const DWORD bound = timeoutMs ? timeoutMs : options_.timeoutMs;
  const DWORD start = GetTickCount();
  while (Poll()) {
    if (GetTickCount() - start > bound) {
      Fail("timed out waiting for the exit");
      return -1;
    }
    Sleep(kPollIntervalMs);
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<int>(code);
}

// Runs the child between debug events; stops at the first armed breakpoint it reaches.
void UpdaterProcess::HandleDebugEvents() {
  DEBUG_EVENT event;
  while (!paused_ && WaitForDebugEvent(&event, 0)) {
    DWORD status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        ArmBreakpoints();
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        ArmBreakpoints();
        break;
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
          status = DBG_EXCEPTION_NOT_HANDLED;
          break;
        }
        for (const Breakpoint& point : breakpoints_) {
          if (point.armed && record.ExceptionAddress == point.address) {
            paused_ = true;
            pausedAt_ = point.name;
            pauseEvent_ = event;
          }
        }
        if (paused_) return;  // continued by Resume
        ArmBreakpoints();     // the loader's own breakpoint: the system DLLs are in place
        break;
      }
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
}

// Puts an int3 at each function's entry once the child has mapped the same code there.
void UpdaterProcess::ArmBreakpoints() {
  for (Breakpoint& point : breakpoints_) {
    if (point.armed) continue;
    std::uint8_t theirs[8] = {};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process_.hProcess, point.address, theirs, sizeof theirs, &read) ||
        read != sizeof theirs || std::memcmp(theirs, point.address, sizeof theirs) != 0) {
      continue;
    }
    const std::uint8_t int3 = 0xCC;
    SIZE_T written = 0;
    point.original = theirs[0];
    if (WriteProcessMemory(process_.hProcess, point.address, &int3, 1, &written) && written == 1) {
      FlushInstructionCache(process_.hProcess, point.address, 1);
      point.armed = true;
    }
  }
}

void UpdaterProcess::DisarmBreakpoints() {
  for (Breakpoint& point : breakpoints_) {
    if (!point.armed) continue;
    SIZE_T written = 0;
    WriteProcessMemory(process_.hProcess, point.address, &point.original, 1, &written);
    FlushInstructionCache(process_.hProcess, point.address, 1);
    point.armed = false;
  }
  breakpoints_.clear();
}

std::string UpdaterProcess::WaitForPause(DWORD timeoutMs) {
  if (!debugging_) {
    ADD_FAILURE() << "WaitForPause without RunOptions::pauseAt";
    return {};
  }
  WaitUntil([this] { return paused_; }, "the pause", timeoutMs);
  return paused_ ? pausedAt_ : std::string();
}

std::string UpdaterProcess::PausedStringArgument(int index) {
  if (!paused_) return {};
  HANDLE thread = OpenThread(THREAD_GET_CONTEXT, FALSE, pauseEvent_.dwThreadId);
  if (!thread) return {};
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  const bool haveContext = GetThreadContext(thread, &context);
  CloseHandle(thread);
  if (!haveContext) return {};
  // At a stdcall function's entry: [esp] is the return address, the arguments follow.
  DWORD address = 0;
  SIZE_T read = 0;
  const auto slot = reinterpret_cast<const void*>(context.Esp + 4 + 4 * index);
  if (!ReadProcessMemory(process_.hProcess, slot, &address, sizeof address, &read) || !address) {
    return {};
  }
  std::string text;
  for (DWORD at = address; text.size() < MAX_PATH; ++at) {
    char c = 0;
    if (!ReadProcessMemory(process_.hProcess, reinterpret_cast<const void*>(at), &c, 1, &read) ||
        c == '\0') {
      break;
    }
    text.push_back(c);
  }
  return text;
}

void UpdaterProcess::Resume(bool keepOtherPauses) {
  if (!paused_) return;
  void* address = pauseEvent_.u.Exception.ExceptionRecord.ExceptionAddress;
  for (auto it = breakpoints_.begin(); it != breakpoints_.end(); ++it) {
    if (it->address != address) continue;
    SIZE_T written = 0;
    WriteProcessMemory(process_.hProcess, it->address, &it->original, 1, &written);
    FlushInstructionCache(process_.hProcess, it->address, 1);
    breakpoints_.erase(it);
    break;
  }
  if (!keepOtherPauses) DisarmBreakpoints();
  HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE,
                             pauseEvent_.dwThreadId);
  if (thread) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(thread, &context)) {
      context.Eip = reinterpret_cast<DWORD>(address);  // run the restored instruction
      SetThreadContext(thread, &context);
    }
    CloseHandle(thread);
  }
  paused_ = false;
  ContinueDebugEvent(pauseEvent_.dwProcessId, pauseEvent_.dwThreadId, DBG_CONTINUE);
}

void UpdaterProcess::Kill() {
  TerminateProcess(process_.hProcess, 0xDEAD);
  if (debugging_) {  // a stopped child must not wait for this thread any more
    DebugActiveProcessStop(processId_);
    debugging_ = false;
    paused_ = false;
  }
  WaitForSingleObject(process_.hProcess, 5000);
}

void UpdaterProcess::Fail(const std::string& what) {
  const std::string seen = Describe();
  Kill();
  ADD_FAILURE() << what << " (the child was killed); seen: " << seen;
}

std::string UpdaterProcess::Describe() {
  std::string all = ::Describe(boxes_);
  all += "\n  windows:";
  for (const SeenWindow& w : windows_) all += " [" + w.className + " \"" + w.title + "\"]";
  if (paused_) all += "\n  paused at " + pausedAt_;
  if (wizard_ && IsWindow(wizard_) && !paused_) {
    all += "\n  wizard \"" + TextOf(wizard_) + "\":";
    EnumChildWindows(wizard_, &DescribeControl, reinterpret_cast<LPARAM>(&all));
  }
  return all;
}

std::string UpdaterProcess::ControlText(int controlId) {
  return wizard_ ? TextOf(GetDlgItem(wizard_, controlId)) : std::string();
}

bool UpdaterProcess::IsEnabled(int controlId) {
  HWND control = wizard_ ? GetDlgItem(wizard_, controlId) : nullptr;
  return control && IsWindowEnabled(control);
}

bool UpdaterProcess::IsVisible(int controlId) {
  HWND control = wizard_ ? GetDlgItem(wizard_, controlId) : nullptr;
  return control && IsWindowVisible(control);
}

bool UpdaterProcess::IsChecked(int controlId) {
  HWND control = wizard_ ? GetDlgItem(wizard_, controlId) : nullptr;
  return control && SendBounded(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void UpdaterProcess::Click(int controlId) {
  HWND control = wizard_ ? GetDlgItem(wizard_, controlId) : nullptr;
  if (control) PostMessageA(control, BM_CLICK, 0, 0);
}

void UpdaterProcess::Command(int controlId) {
  if (!wizard_) return;
  PostMessageA(wizard_, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(wizard_, controlId)));
}
