#include "tests/support/message_box_capture.h"

#include <cstdio>

namespace {
constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 0x0440;

bool IsMessageBox(HWND window) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  return lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, kMessageTextId) != nullptr;
}
}  // namespace

MessageBoxCapture* MessageBoxCapture::active_ = nullptr;

MessageBoxCapture::MessageBoxCapture() {
  active_ = this;
  hook_ = SetWindowsHookExA(WH_CBT, &MessageBoxCapture::HookProc, nullptr, GetCurrentThreadId());
}

MessageBoxCapture::~MessageBoxCapture() {
  if (hook_) UnhookWindowsHookEx(hook_);
  if (active_ == this) active_ = nullptr;
}

LRESULT CALLBACK MessageBoxCapture::HookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && active_) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (IsMessageBox(window)) active_->OnActivate(window);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageBoxCapture::OnActivate(HWND window) {
  CapturedBox box;
  box.caption = WindowText(window);
  box.text = WindowText(GetDlgItem(window, kMessageTextId));
  box.owner = GetWindow(window, GW_OWNER);
  box.hasCancel = GetDlgItem(window, IDCANCEL) != nullptr;
  HWND icon = GetDlgItem(window, kMessageIconId);
  // The box is not visible yet while it is activated: look at the control's own style bit.
  box.hasIcon = icon != nullptr && (GetWindowLongA(icon, GWL_STYLE) & WS_VISIBLE) != 0 &&
                SendMessageA(icon, STM_GETICON, 0, 0) != 0;
  boxes_.push_back(box);

  int answer = IDOK;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, answer)));
}

std::string WindowText(HWND window) {
  if (!window) return {};
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::string Describe(const CapturedBox& box) {
  return "[" + box.caption + "] " + box.text + (box.hasCancel ? " (OK/Cancel)" : " (OK)");
}

std::string Describe(const std::vector<CapturedBox>& boxes) {
  std::string all = std::to_string(boxes.size()) + " box(es)";
  for (const CapturedBox& box : boxes) all += "\n  " + Describe(box);
  return all;
}
