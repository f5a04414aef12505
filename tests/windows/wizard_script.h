#pragma once
// Drives a modal wizard from inside its own message loop: once a dialog of this thread that has
// the Info control is up, a thread timer runs the script on it. A script may end the dialog
// (a click that reaches EndDialog) or post input and return; a dialog still open
// kWatchdogMilliseconds after the script is ended with kWizardTimedOut, so no test hangs.
#include <windows.h>

#include <functional>

constexpr INT_PTR kWizardTimedOut = -77;
constexpr UINT kWatchdogMilliseconds = 5000;

class WizardScript {
 public:
  using Script = std::function<void(HWND wizard)>;
  explicit WizardScript(Script script);
  ~WizardScript();
  WizardScript(const WizardScript&) = delete;
  WizardScript& operator=(const WizardScript&) = delete;

  bool ran() const { return ran_; }

 private:
  static void CALLBACK OnStartTimer(HWND, UINT, UINT_PTR, DWORD);
  static void CALLBACK OnWatchdog(HWND, UINT, UINT_PTR, DWORD);

  Script script_;
  UINT_PTR startTimer_ = 0;
  UINT_PTR watchdog_ = 0;
  HWND wizard_ = nullptr;
  bool ran_ = false;
  static WizardScript* active_;
};

// The wizard window of this thread (a dialog with control 1001), or null.
HWND FindThreadWizard();

// Control states as the user sees them.
bool ItemEnabled(HWND wizard, int id);
bool ItemVisible(HWND wizard, int id);  // the control's own WS_VISIBLE bit
bool ItemChecked(HWND wizard, int id);
void ClickItem(HWND wizard, int id);    // BM_CLICK: the button notifies the wizard
