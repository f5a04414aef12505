#pragma once
// Runs a real UPDATE.exe as a child process and drives it from outside, the way a player would.
//
//   ScratchFolder work;
//   const std::string exe = MakeTestUpdater(work.path(), package);   // tests/support/test_updater.h
//   UpdaterProcess run;
//   ASSERT_TRUE(run.Start(exe, {work.Join("temp")}));
//   run.QueueAnswer(IDOK);                  // or run.SetAnswerer(...)
//   ASSERT_TRUE(run.WaitForWizard());       // message boxes are answered meanwhile
//   EXPECT_EQ("...", run.ControlText(IDC_INFO));
//   run.Click(IDC_NEXT);
//   EXPECT_EQ(1, run.WaitForExit());
//   EXPECT_EQ(1u, run.boxes().size()) << run.Describe();
//
// Every wait polls the child's top-level windows (EnumWindows + GetWindowThreadProcessId) about
// every 15 ms. A visible dialog of class #32770 with the static control 0xFFFF is a message box:
// it is recorded once (caption, text, owner, OK/Cancel, icon) and answered by the answerer, else
// by the next queued answer, else with IDOK. Any other visible #32770 dialog of the child is the
// wizard. Every wait is bounded: on timeout the child is killed and the test fails with what was
// seen (boxes, windows, the wizard's state). The destructor kills a child still running.
//
// Pausing: with RunOptions::pauseAt naming KERNEL32 exports, the child runs under this thread as
// its debugger and stops at its first call of any of them (a breakpoint at the function's entry;
// system DLLs sit at the same address in every process). WaitForPause waits for that stop, the
// test looks at the child's files while it stands still, and Resume lets it go on. While it
// stands still it answers nothing: any other wait runs into its timeout. A child with pauses
// only runs while this thread polls (every wait does), and at most one such child per test
// thread may exist at a time. Example: pauseAt {"GetPrivateProfileStringA"} stops the updater
// where the installation check first reads the extracted manifest, whose path is then
// PausedStringArgument(5).
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/message_box_capture.h"

struct RunOptions {
  // The child's TEMP and TMP (its GetTempPathA); empty: inherited from the test process.
  std::string tempFolder;
  // The bound of every wait that is not given one of its own.
  DWORD timeoutMs = 30000;
  // KERNEL32 exports (such as "DeleteFileA") at whose first call the child stops; empty: none.
  std::vector<std::string> pauseAt;
};

struct SeenWindow {
  std::string className;
  std::string title;
};

class UpdaterProcess;

// Sees each new message box and the run (its wizard, its controls) and returns the button to
// press (IDOK, IDCANCEL), or kLeaveBoxOpen to leave the box waiting (answer it with AnswerBox).
using BoxAnswerer = std::function<int(const CapturedBox& box, UpdaterProcess& run)>;
constexpr int kLeaveBoxOpen = 0;

class UpdaterProcess {
 public:
  UpdaterProcess() = default;
  ~UpdaterProcess();
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  // Starts exePath (its folder is the current folder); false after a test failure.
  bool Start(const std::string& exePath, const RunOptions& options = {});

  // Answers for the next message boxes, in order; used while no answerer is set.
  void QueueAnswer(int buttonId) { answers_.push_back(buttonId); }
  void SetAnswerer(BoxAnswerer answerer) { answerer_ = std::move(answerer); }

  // One look at the child's windows: records and answers new message boxes, finds the wizard.
  // False once the child has exited.
  bool Poll();
  // Polls until condition holds (true), or the child exits or time runs out (false; a timeout
  // kills the child and fails the test naming what). timeoutMs 0: the run's default bound.
  bool WaitUntil(const std::function<bool()>& condition, const char* what, DWORD timeoutMs = 0);
  // Until the wizard window exists; null when the child ended first or time ran out.
  HWND WaitForWizard(DWORD timeoutMs = 0);
  // Until a message box is left open by the answerer; null likewise.
  HWND WaitForOpenBox(DWORD timeoutMs = 0);
  // Until the child exits: its exit code, or -1 after a timeout (child killed, test failed).
  int WaitForExit(DWORD timeoutMs = 0);

  // Presses a button of a box that was left open.
  void AnswerBox(HWND box, int buttonId);

  // Until the child stops at one of RunOptions::pauseAt: the export's name, or empty when the
  // child ended first or time ran out.
  std::string WaitForPause(DWORD timeoutMs = 0);
  bool paused() const { return paused_; }
  // While paused at a function's entry: its argument number index (0 = first) read as a
  // NUL-terminated string of at most 260 bytes from the child (for A functions' LPCSTR).
  std::string PausedStringArgument(int index);
  // Lets a paused child go on. The function it stopped at never stops it again; the others of
  // RunOptions::pauseAt are dropped too unless keepOtherPauses (then WaitForPause again).
  void Resume(bool keepOtherPauses = false);

  bool running();
  DWORD processId() const { return processId_; }
  HWND wizard() const { return wizard_; }
  HWND openBox() const { return openBox_; }
  const std::vector<CapturedBox>& boxes() const { return boxes_; }
  const std::vector<SeenWindow>& windows() const { return windows_; }  // visible, distinct
  // The boxes, windows and wizard state seen so far, for assertion messages.
  std::string Describe();

  // The wizard's controls (cross-process; empty or false without a wizard).
  std::string ControlText(int controlId);
  bool IsEnabled(int controlId);
  bool IsVisible(int controlId);
  bool IsChecked(int controlId);
  // Posts BM_CLICK to the control, as a mouse click would.
  void Click(int controlId);
  // Posts WM_COMMAND (BN_CLICKED) for the control to the wizard, whatever the control's state.
  void Command(int controlId);

 private:
  struct Breakpoint {
    std::string name;
    std::uint8_t* address;
    std::uint8_t original;
    bool armed;
  };

  void Kill();
  void OnMessageBox(HWND box);
  void Fail(const std::string& what);
  void HandleDebugEvents();
  void ArmBreakpoints();
  void DisarmBreakpoints();

  PROCESS_INFORMATION process_{};
  DWORD processId_ = 0;
  RunOptions options_;
  std::deque<int> answers_;
  BoxAnswerer answerer_;
  std::vector<CapturedBox> boxes_;
  std::vector<SeenWindow> windows_;
  std::set<HWND> handledBoxes_;  // boxes of the child already recorded, while they exist
  HWND wizard_ = nullptr;
  HWND openBox_ = nullptr;

  bool debugging_ = false;
  std::vector<Breakpoint> breakpoints_;
  bool paused_ = false;
  std::string pausedAt_;
  DEBUG_EVENT pauseEvent_{};
};
