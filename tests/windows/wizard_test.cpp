// The real wizard: both templates compiled into this program, WizardProc as their procedure,
// clicked through with BM_CLICK and WM_COMMAND from inside the modal loop; texts, enabled and
// visible states, radio states and the page counter are read back after every step. The update
// page is this program's own RunUpdatePage, which ends the step in the way each case asks for.
#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/update_page.h"
#include "app/updater_messages.h"
#include "app/updater_state.h"
#include "res/resource.h"
#include "tests/support/message_box_capture.h"
#include "tests/windows/wizard_script.h"
#include "ui/wizard.h"
#include "ui/wizard_controls.h"

namespace {

// How the update page ends its step.
enum class PageOutcome {
  kComplete,   // Next reads "完了" and is the only button enabled
  kShortfall,  // free space short: Back and Cancel enabled, Next disabled
  kFail,       // ends the dialog with -1
};

std::deque<PageOutcome> g_outcomes;
int g_updatePageCalls = 0;
std::function<void(HWND)> g_whileUpdating;

}  // namespace

void RunUpdatePage(HWND wizard) {
  ++g_updatePageCalls;
  if (g_whileUpdating) g_whileUpdating(wizard);
  const PageOutcome outcome = g_outcomes.empty() ? PageOutcome::kFail : g_outcomes.front();
  if (!g_outcomes.empty()) g_outcomes.pop_front();
  switch (outcome) {
    case PageOutcome::kComplete:
      SetInfoText(wizard, "done %d", g_updatePageCalls);
      SetDlgItemTextA(wizard, IDC_NEXT, "完了");
      EnableItem(wizard, IDC_NEXT, true);
      EnableItem(wizard, IDC_BACK, false);
      EnableItem(wizard, IDC_CANCEL, false);
      break;
    case PageOutcome::kShortfall:
      SetInfoText(wizard, "short %d", g_updatePageCalls);
      EnableItem(wizard, IDC_NEXT, false);
      EnableItem(wizard, IDC_BACK, true);
      EnableItem(wizard, IDC_CANCEL, true);
      break;
    case PageOutcome::kFail:
      EndDialog(wizard, -1);
      break;
  }
}

namespace {

const char kGameTitle[] = "Ｇａｍｅ表";
const char kWelcome[] = "「Ｇａｍｅ表」のアップデートを開始します";
const char kReady[] = "アップデートを実行します";
const char kAgreement[] = "第1条 100% ソフトウェア\r\n第2条 %s は置換されない\r\n";

std::string g_welcomeStorage;
std::string g_agreementStorage;

// Fresh process state as the installation check leaves it before opening the wizard.
void PrepareState(const char* caption, const char* gameTitle, const char* welcome,
                  const char* agreement) {
  ResetUpdaterState();
  lstrcpynA(g_updater.captionText, caption, sizeof g_updater.captionText);
  lstrcpynA(g_updater.manifest.gameTitle, gameTitle, sizeof g_updater.manifest.gameTitle);
  g_welcomeStorage = welcome ? welcome : "";
  g_agreementStorage = agreement ? agreement : "";
  g_updater.welcomeText = welcome ? &g_welcomeStorage[0] : nullptr;
  g_updater.agreementText = agreement ? &g_agreementStorage[0] : nullptr;
  g_outcomes.clear();
  g_updatePageCalls = 0;
  g_whileUpdating = nullptr;
}

INT_PTR RunWizard(int templateId, const WizardScript::Script& script) {
  WizardScript driver(script);
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                         nullptr, WizardProc, 0);
  EXPECT_TRUE(driver.ran()) << "the wizard never came up";
  return result;
}

enum class Action {
  kNone,
  kClickNext,
  kClickBack,
  kClickCancel,
  kClickAgree,
  kClickDisagree,
  kCommandCancel,        // id 2 sent directly, as when the Cancel button itself is disabled
  kCommandNextNotified,  // id 1 with a notification code other than BN_CLICKED
  kPostEscape,           // the Esc key, through the dialog manager
  kPostCloseBox,         // the window's close box
};

enum class Agreement { kAbsent, kHidden, kRefused, kAccepted };

struct PageState {
  const char* info;  // null: the step ends the wizard, nothing is read
  bool next, back, cancel;
  Agreement agreement;
  int page;
};

struct Step {
  Action action;
  PageState after;
};

struct Flow {
  const char* name;
  int templateId;
  std::vector<PageOutcome> outcomes;
  std::vector<Step> steps;
  INT_PTR result;
  int updatePageCalls;
};

void Perform(HWND wizard, Action action) {
  switch (action) {
    case Action::kNone: break;
    case Action::kClickNext: ClickItem(wizard, IDC_NEXT); break;
    case Action::kClickBack: ClickItem(wizard, IDC_BACK); break;
    case Action::kClickCancel: ClickItem(wizard, IDC_CANCEL); break;
    case Action::kClickAgree: ClickItem(wizard, IDC_AGREE); break;
    case Action::kClickDisagree: ClickItem(wizard, IDC_DISAGREE); break;
    case Action::kCommandCancel:
      SendMessageA(wizard, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      break;
    case Action::kCommandNextNotified:
      SendMessageA(wizard, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
      break;
    case Action::kPostEscape:
      PostMessageA(GetDlgItem(wizard, IDC_NEXT), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      break;
    case Action::kPostCloseBox:
      PostMessageA(wizard, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

void ExpectState(HWND wizard, const PageState& expected) {
  EXPECT_EQ(expected.info, WindowText(GetDlgItem(wizard, IDC_INFO)));
  EXPECT_EQ(expected.next, ItemEnabled(wizard, IDC_NEXT)) << "Next enabled";
  EXPECT_EQ(expected.back, ItemEnabled(wizard, IDC_BACK)) << "Back enabled";
  EXPECT_EQ(expected.cancel, ItemEnabled(wizard, IDC_CANCEL)) << "Cancel enabled";
  EXPECT_EQ(expected.page, g_updater.wizardPage) << "wizardPage";
  EXPECT_EQ(0, g_updater.wizardBusy) << "wizardBusy";
  const int agreementIds[] = {IDC_AGREEMENT_TEXT, IDC_AGREE, IDC_DISAGREE};
  for (int id : agreementIds) {
    const bool shown = expected.agreement == Agreement::kRefused ||
                       expected.agreement == Agreement::kAccepted;
    if (expected.agreement == Agreement::kAbsent) {
      EXPECT_EQ(nullptr, GetDlgItem(wizard, id)) << "control " << id;
      continue;
    }
    EXPECT_EQ(shown, ItemVisible(wizard, id)) << "control " << id << " visible";
    if (shown) {
      EXPECT_TRUE(ItemEnabled(wizard, id)) << "control " << id << " enabled";
    }
  }
  if (expected.agreement == Agreement::kRefused || expected.agreement == Agreement::kAccepted) {
    const bool accepted = expected.agreement == Agreement::kAccepted;
    EXPECT_EQ(accepted, ItemChecked(wizard, IDC_AGREE)) << "同意する checked";
    EXPECT_EQ(!accepted, ItemChecked(wizard, IDC_DISAGREE)) << "同意しない checked";
  }
}

constexpr Agreement kAbsent = Agreement::kAbsent;
constexpr Agreement kHidden = Agreement::kHidden;
constexpr Agreement kRefused = Agreement::kRefused;
constexpr Agreement kAccepted = Agreement::kAccepted;
constexpr PageState kEnded = {nullptr, false, false, false, kAbsent, 0};

const Flow kFlows[] = {
    {"plain wizard to its end", IDD_WIZARD, {PageOutcome::kComplete},
     {{Action::kNone, {kWelcome, true, false, true, kAbsent, 0}},
      {Action::kCommandNextNotified, {kWelcome, true, false, true, kAbsent, 0}},
      {Action::kClickNext, {kReady, true, false, true, kAbsent, 1}},
      {Action::kClickNext, {"done 1", true, false, false, kAbsent, 2}},
      {Action::kClickNext, kEnded}},
     0, 1},
    {"agreement accepted, refused, accepted, then cancelled on the ready page",
     IDD_WIZARD_AGREEMENT, {},
     {{Action::kNone, {kWelcome, false, false, true, kRefused, 0}},
      {Action::kClickAgree, {kWelcome, true, false, true, kAccepted, 0}},
      {Action::kClickDisagree, {kWelcome, false, false, true, kRefused, 0}},
      {Action::kClickAgree, {kWelcome, true, false, true, kAccepted, 0}},
      {Action::kClickNext, {kReady, true, false, true, kHidden, 1}},
      {Action::kClickCancel, kEnded}},
     -1, 0},
    {"agreement wizard to its end", IDD_WIZARD_AGREEMENT, {PageOutcome::kComplete},
     {{Action::kClickAgree, {kWelcome, true, false, true, kAccepted, 0}},
      {Action::kClickNext, {kReady, true, false, true, kHidden, 1}},
      {Action::kClickNext, {"done 1", true, false, false, kHidden, 2}},
      {Action::kClickNext, kEnded}},
     0, 1},
    {"cancel on the welcome page", IDD_WIZARD, {}, {{Action::kClickCancel, kEnded}}, -1, 0},
    {"cancel on the agreement page", IDD_WIZARD_AGREEMENT, {},
     {{Action::kClickCancel, kEnded}}, -1, 0},
    {"Esc on the welcome page", IDD_WIZARD, {}, {{Action::kPostEscape, kEnded}}, -1, 0},
    {"close box on the ready page", IDD_WIZARD, {},
     {{Action::kClickNext, {kReady, true, false, true, kAbsent, 1}},
      {Action::kPostCloseBox, kEnded}},
     -1, 0},
    {"Esc on the agreement's ready page", IDD_WIZARD_AGREEMENT, {},
     {{Action::kClickAgree, {kWelcome, true, false, true, kAccepted, 0}},
      {Action::kClickNext, {kReady, true, false, true, kHidden, 1}},
      {Action::kPostEscape, kEnded}},
     -1, 0},
    {"shortfall, Back to the ready page, update anew, then id 2 on the completed page",
     IDD_WIZARD, {PageOutcome::kShortfall, PageOutcome::kComplete},
     {{Action::kClickNext, {kReady, true, false, true, kAbsent, 1}},
      {Action::kClickNext, {"short 1", false, true, true, kAbsent, 2}},
      {Action::kClickBack, {kReady, true, false, true, kAbsent, 1}},
      {Action::kClickNext, {"done 2", true, false, false, kAbsent, 2}},
      {Action::kCommandCancel, kEnded}},
     -1, 2},
    {"shortfall, then cancel", IDD_WIZARD_AGREEMENT, {PageOutcome::kShortfall},
     {{Action::kClickAgree, {kWelcome, true, false, true, kAccepted, 0}},
      {Action::kClickNext, {kReady, true, false, true, kHidden, 1}},
      {Action::kClickNext, {"short 1", false, true, true, kHidden, 2}},
      {Action::kClickCancel, kEnded}},
     -1, 1},
    {"update page ends the dialog itself", IDD_WIZARD, {PageOutcome::kFail},
     {{Action::kClickNext, {kReady, true, false, true, kAbsent, 1}},
      {Action::kClickNext, kEnded}},
     -1, 1},
};

TEST(Wizard, PageFlows) {
  for (std::size_t i = 0; i < sizeof kFlows / sizeof kFlows[0]; ++i) {
    const Flow& flow = kFlows[i];
    SCOPED_TRACE("flow " + std::to_string(i) + ": " + flow.name);
    PrepareState("Ｇａｍｅ表 アップデータ 1.01", kGameTitle, nullptr,
                 flow.templateId == IDD_WIZARD_AGREEMENT ? kAgreement : nullptr);
    g_outcomes.assign(flow.outcomes.begin(), flow.outcomes.end());
    HWND seen = nullptr;
    const INT_PTR result = RunWizard(flow.templateId, [&](HWND wizard) {
      seen = wizard;
      EXPECT_EQ(wizard, g_updater.mainWindow);
      EXPECT_EQ("Ｇａｍｅ表 アップデータ 1.01", WindowText(wizard));
      if (g_updater.agreementText) {
        EXPECT_EQ(kAgreement, WindowText(GetDlgItem(wizard, IDC_AGREEMENT_TEXT)));
      }
      for (std::size_t s = 0; s < flow.steps.size(); ++s) {
        SCOPED_TRACE("step " + std::to_string(s));
        Perform(wizard, flow.steps[s].action);
        if (flow.steps[s].after.info) ExpectState(wizard, flow.steps[s].after);
      }
    });
    EXPECT_EQ(flow.result, result);
    EXPECT_EQ(flow.updatePageCalls, g_updatePageCalls);
    EXPECT_FALSE(IsWindow(seen)) << "the wizard window is gone";
  }
}

struct WelcomeCase {
  const char* caption;
  const char* gameTitle;
  std::string welcome;  // empty: no welcome text
  std::string info;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

const WelcomeCase kWelcomeCases[] = {
    {"UPDATE", "Game", "", "「Game」のアップデートを開始します"},
    {"100% %s %d", "完全版 100% %s %d", "", "「完全版 100% %s %d」のアップデートを開始します"},
    {"C", "Game", "ようこそ %s %d%%\r\n二行目", "ようこそ %s %d%%\r\n二行目"},
    {"C", "Game", Repeat('x', 1023), Repeat('x', 1023)},
    {"C", "Game", Repeat('x', 1500), Repeat('x', 1023)},
    // Cut inside 表 (0x95 0x5C): its lone lead byte goes as well.
    {"C", "Game", Repeat('x', 1022) + "表", Repeat('x', 1022)},
    {"C", "Game", Repeat('x', 1021) + "表", Repeat('x', 1021) + "表"},
};

TEST(Wizard, WelcomeTextsAreShownLiterallyAndCutToTheirBuffer) {
  for (std::size_t i = 0; i < sizeof kWelcomeCases / sizeof kWelcomeCases[0]; ++i) {
    const WelcomeCase& c = kWelcomeCases[i];
    SCOPED_TRACE("welcome case " + std::to_string(i));
    PrepareState(c.caption, c.gameTitle, c.welcome.empty() ? nullptr : c.welcome.c_str(),
                 nullptr);
    const INT_PTR result = RunWizard(IDD_WIZARD, [&](HWND wizard) {
      EXPECT_EQ(c.caption, WindowText(wizard));
      EXPECT_EQ(c.info, WindowText(GetDlgItem(wizard, IDC_INFO)));
      ClickItem(wizard, IDC_CANCEL);
    });
    EXPECT_EQ(-1, result);
  }
}

// While the update page works, Next, Back, Cancel and Esc (all id 1, 4 or 2 commands, also
// those dispatched by a nested message box's loop) do nothing, and the cursor is the wait cursor.
TEST(Wizard, BusyUpdatePageIgnoresButtonsAndShowsTheWaitCursor) {
  PrepareState("C", kGameTitle, nullptr, nullptr);
  g_outcomes = {PageOutcome::kComplete};
  const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  const LPARAM overClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
  std::vector<CapturedBox> boxes;
  g_whileUpdating = [&](HWND wizard) {
    EXPECT_EQ(1, g_updater.wizardBusy);
    EXPECT_EQ("", WindowText(GetDlgItem(wizard, IDC_INFO))) << "Info cleared before the step";
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(TRUE, SendMessageA(wizard, WM_SETCURSOR, reinterpret_cast<WPARAM>(wizard),
                                 overClient));
    EXPECT_EQ(wait, GetCursor());
    const int ids[] = {IDOK, IDC_BACK, IDCANCEL};
    for (int id : ids) SendMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    for (int id : ids) PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    MessageBoxCapture capture;
    ShowUpdaterError("途中");  // its loop dispatches the posted commands
    boxes = capture.boxes();
    EXPECT_EQ(1, g_updater.wizardPage);
  };
  const INT_PTR result = RunWizard(IDD_WIZARD, [&](HWND wizard) {
    ClickItem(wizard, IDC_NEXT);
    ClickItem(wizard, IDC_NEXT);
    ExpectState(wizard, {"done 1", true, false, false, kAbsent, 2});
    EXPECT_EQ(FALSE, SendMessageA(wizard, WM_SETCURSOR, reinterpret_cast<WPARAM>(wizard),
                                  overClient));
    ClickItem(wizard, IDC_NEXT);
  });
  EXPECT_EQ(0, result);
  EXPECT_EQ(1, g_updatePageCalls);
  ASSERT_EQ(1u, boxes.size()) << Describe(boxes);
  EXPECT_EQ("途中", boxes[0].text);
  EXPECT_EQ("C", boxes[0].caption);
  EXPECT_NE(nullptr, boxes[0].owner) << "owned by the wizard";
}

struct ControlCase {
  int templateId;
  int id;
  bool present;
};

// EnableItem and ShowItem act on the controls a template has and pass over the others.
TEST(WizardControls, ActOnPresentControlsAndPassOverMissingOnes) {
  const ControlCase cases[] = {
      {IDD_WIZARD, IDC_NEXT, true},           {IDD_WIZARD, IDC_INFO, true},
      {IDD_WIZARD, IDC_AGREEMENT_TEXT, false}, {IDD_WIZARD, IDC_AGREE, false},
      {IDD_WIZARD_AGREEMENT, IDC_AGREE, true}, {IDD_WIZARD_AGREEMENT, IDC_AGREEMENT_TEXT, true},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const ControlCase& c = cases[i];
    SCOPED_TRACE("control case " + std::to_string(i));
    PrepareState("C", "G", nullptr, nullptr);
    RunWizard(c.templateId, [&](HWND wizard) {
      EXPECT_EQ(c.present, GetDlgItem(wizard, c.id) != nullptr);
      EnableItem(wizard, c.id, false);
      ShowItem(wizard, c.id, SW_HIDE);
      if (c.present) {
        EXPECT_FALSE(ItemEnabled(wizard, c.id));
        EXPECT_FALSE(ItemVisible(wizard, c.id));
      }
      EnableItem(wizard, c.id, true);
      ShowItem(wizard, c.id, SW_SHOW);
      if (c.present) {
        EXPECT_TRUE(ItemEnabled(wizard, c.id));
        EXPECT_TRUE(ItemVisible(wizard, c.id));
      }
      EndDialog(wizard, 5);
    });
  }
}

}  // namespace
