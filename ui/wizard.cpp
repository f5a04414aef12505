#include "ui/wizard.h"

#include "app/update_page.h"
#include "app/updater_state.h"
#include "res/resource.h"
#include "ui/wizard_controls.h"

namespace {

constexpr int kAgreementControls[] = {IDC_AGREEMENT_TEXT, IDC_AGREE, IDC_DISAGREE};

void ShowAgreementControls(HWND wizard, int showCommand) {
  for (int id : kAgreementControls) ShowItem(wizard, id, showCommand);
}

// While a page step runs (its message boxes and the shell's copy spin nested loops), the wait
// cursor is kept over the whole window.
INT_PTR OnSetCursor(HWND wizard) {
  if (g_updater.wizardBusy == 0) return FALSE;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  SetWindowLongPtrA(wizard, DWLP_MSGRESULT, TRUE);
  return TRUE;
}

// Next and Back: wizardPage counts the pages done; Back first steps it back over two.
void StepPage(HWND wizard, int buttonId) {
  if (g_updater.wizardBusy != 0) return;
  g_updater.wizardBusy = 1;
  SetInfoText(wizard, "");
  if (buttonId == IDC_BACK) g_updater.wizardPage -= 2;
  switch (g_updater.wizardPage) {
    case 0:
      ShowReadyPage(wizard);
      break;
    case 1:
      RunUpdatePage(wizard);
      break;
    case 2:
      EndDialog(wizard, 0);
      break;
    default:
      break;
  }
  g_updater.wizardPage += 1;
  g_updater.wizardBusy -= 1;
}

void CancelWizard(HWND wizard) {
  if (g_updater.wizardBusy == 0) EndDialog(wizard, -1);
}

// The radio buttons do not select themselves: the pair is set here, and Next follows it.
void SelectAgreement(HWND wizard, int radioId) {
  EnableItem(wizard, IDC_NEXT, radioId == IDC_AGREE);
  CheckRadioButton(wizard, IDC_AGREE, IDC_DISAGREE, radioId);
}

void OnCommand(HWND wizard, int controlId) {
  switch (controlId) {
    case IDC_NEXT:
    case IDC_BACK:
      StepPage(wizard, controlId);
      break;
    case IDC_CANCEL:
      CancelWizard(wizard);
      break;
    case IDC_AGREE:
    case IDC_DISAGREE:
      SelectAgreement(wizard, controlId);
      break;
    default:
      break;
  }
}

}  // namespace

INT_PTR CALLBACK WizardProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ShowWelcomePage(window);
      return FALSE;  // the dialog manager leaves the keyboard focus alone
    case WM_SETCURSOR:
      return OnSetCursor(window);
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(window, LOWORD(wParam));
      return FALSE;
    default:
      return FALSE;
  }
}

void ShowWelcomePage(HWND wizard) {
  g_updater.mainWindow = wizard;
  g_updater.wizardBusy = 0;
  g_updater.wizardPage = 0;
  SetWindowTextA(wizard, g_updater.captionText);
  if (g_updater.welcomeText) {
    SetInfoText(wizard, "%s", g_updater.welcomeText);
  } else {
    SetInfoText(wizard, "「%s」のアップデートを開始します", g_updater.manifest.gameTitle);
  }
  EnableItem(wizard, IDC_BACK, false);
  EnableItem(wizard, IDC_CANCEL, true);
  if (g_updater.agreementText) {
    EnableItem(wizard, IDC_NEXT, false);
    SetDlgItemTextA(wizard, IDC_AGREEMENT_TEXT, g_updater.agreementText);
    for (int id : kAgreementControls) EnableItem(wizard, id, true);
    CheckRadioButton(wizard, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE);
    ShowAgreementControls(wizard, SW_SHOW);
  } else {
    EnableItem(wizard, IDC_NEXT, true);
    ShowAgreementControls(wizard, SW_HIDE);
  }
}

void ShowReadyPage(HWND wizard) {
  SetInfoText(wizard, "アップデートを実行します");
  EnableItem(wizard, IDC_BACK, false);
  EnableItem(wizard, IDC_NEXT, true);
  EnableItem(wizard, IDC_CANCEL, true);
  ShowAgreementControls(wizard, SW_HIDE);
}
