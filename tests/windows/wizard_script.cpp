#include "tests/windows/wizard_script.h"

#include "res/resource.h"

WizardScript* WizardScript::active_ = nullptr;

namespace {
BOOL CALLBACK MatchWizard(HWND window, LPARAM found) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, IDC_INFO) != nullptr) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND FindThreadWizard() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), MatchWizard, reinterpret_cast<LPARAM>(&found));
  return found;
}

WizardScript::WizardScript(Script script) : script_(std::move(script)) {
  active_ = this;
  startTimer_ = SetTimer(nullptr, 0, 10, &WizardScript::OnStartTimer);
}

WizardScript::~WizardScript() {
  if (startTimer_) KillTimer(nullptr, startTimer_);
  if (watchdog_) KillTimer(nullptr, watchdog_);
  if (active_ == this) active_ = nullptr;
}

void CALLBACK WizardScript::OnStartTimer(HWND, UINT, UINT_PTR, DWORD) {
  WizardScript* self = active_;
  if (!self || self->ran_) return;
  HWND wizard = FindThreadWizard();
  if (!wizard) return;  // not up yet (an earlier message box runs this loop)
  KillTimer(nullptr, self->startTimer_);
  self->startTimer_ = 0;
  self->ran_ = true;
  self->wizard_ = wizard;
  self->script_(wizard);
  self->watchdog_ = SetTimer(nullptr, 0, kWatchdogMilliseconds, &WizardScript::OnWatchdog);
}

void CALLBACK WizardScript::OnWatchdog(HWND, UINT, UINT_PTR, DWORD) {
  WizardScript* self = active_;
  if (!self) return;
  KillTimer(nullptr, self->watchdog_);
  self->watchdog_ = 0;
  if (IsWindow(self->wizard_)) EndDialog(self->wizard_, kWizardTimedOut);
}

bool ItemEnabled(HWND wizard, int id) { return IsWindowEnabled(GetDlgItem(wizard, id)) != FALSE; }

bool ItemVisible(HWND wizard, int id) {
  return (GetWindowLongA(GetDlgItem(wizard, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool ItemChecked(HWND wizard, int id) {
  return SendDlgItemMessageA(wizard, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void ClickItem(HWND wizard, int id) { SendDlgItemMessageA(wizard, id, BM_CLICK, 0, 0); }
