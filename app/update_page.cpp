#include "app/update_page.h"

#include "res/resource.h"
#include "ui/wizard_controls.h"

namespace {

// The completed page: control 1 becomes "完了" and ends the wizard with 0 on its next press.
void ShowCompletion(HWND wizard) {
  SetInfoText(wizard, "アップデートは完了しました");
  SetDlgItemTextA(wizard, IDC_NEXT, "完了");
  EnableItem(wizard, IDC_NEXT, true);
  SetFocus(GetDlgItem(wizard, IDC_NEXT));
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

}  // namespace

void RunUpdatePage(HWND wizard) { ShowCompletion(wizard); }
