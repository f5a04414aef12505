// The real UPDATE.exe from the manifest to its exit: an installed game in the test prefix
// (registry values under HKCU\Software\<company of its own>\SOHYOU, SETUP.INI), a package
// built around each case's manifest, the wizard clicked through from this process, every
// message box captured. Also a second updater started while the first shows its wizard, and a
// running game (window_host.exe) answered OK and Cancel.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/win32_handles.h"
#include "res/resource.h"
#include "tests/support/profile_files.h"
#include "tests/support/test_files.h"
#include "tests/support/test_updater.h"
#include "tests/support/updater_process.h"
#include "tests/windows/hosted_window.h"
#include "tools/packer/package_writer.h"

namespace {

constexpr char kGameDir[] = "SOHYOU";
constexpr char kGameClass[] = "SohyouWindow";
constexpr char kTitle[] = "ソ表クエスト";
constexpr char kCaption[] = "ソ表クエスト アップデータ 1.01";
constexpr char kWelcome[] = "「ソ表クエスト」のアップデートを開始します";
constexpr char kReady[] = "アップデートを実行します";
constexpr char kInterrupted[] = "アップデートが中断されました";
constexpr char kAgreement[] = "第1条 同意して下さい\r\n第2条 以上\r\n";
constexpr char kRunning[] =
    "「ソ表クエスト」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
    "を、アップデートを中止する場合は [キャンセル] を押して下さい";

// An installed game: its registry key, install folder and SETUP.INI; removed afterwards.
class InstalledGame {
 public:
  explicit InstalledGame(const std::string& company) : company_(company) {
    EXPECT_TRUE(MakeFolder(install_));
    ProfileSection setup = InstalledSetupSection();
    setup.Set("CompanyName", company_);
    EXPECT_TRUE(WriteInstalledSetupIni(JoinPath(install_, "SETUP.INI"), setup));
    UniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath().c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, key.put(), nullptr));
    RegSetValueExA(key.get(), "InstPath", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(install_.c_str()),
                   static_cast<DWORD>(install_.size() + 1));
    const DWORD mode = 1;
    RegSetValueExA(key.get(), "InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode),
                   sizeof mode);
  }
  ~InstalledGame() {
    RegDeleteKeyA(HKEY_CURRENT_USER, KeyPath().c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + company_).c_str());
  }

  // The package: the manifest naming this game (with extra SETUP keys), README.TXT to write,
  // AGREE.TXT for an agreement.
  std::vector<std::uint8_t> Package(const std::vector<ProfileSection::Key>& setupKeys = {}) {
    ManifestFile manifest;
    manifest.setup.Set("CompanyName", company_);
    for (const auto& key : setupKeys) manifest.setup.Set(key.first, key.second);
    manifest.update.Set("UpdateFile00", "README.TXT");
    std::string text;
    for (const ProfileSection& section : {manifest.setup, manifest.update}) {
      for (const std::string& line : section.Lines()) text += line + "\r\n";
    }
    std::vector<PackageMemberInput> members = {
        {"UPDATE.INI", ToBytes(text), 0, true},
        {"README.TXT", ToBytes("readme 2\r\n"), 0, false},
        {"AGREE.TXT", ToBytes(kAgreement), 0, true},
    };
    std::vector<std::uint8_t> package;
    std::string error;
    EXPECT_TRUE(BuildPackage(members, true, &package, &error)) << error;
    return package;
  }

  std::string Readme() const {
    std::vector<std::uint8_t> bytes;
    if (!ReadBytes(JoinPath(install_, "README.TXT"), &bytes)) return {};
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::string KeyPath() const { return "Software\\" + company_ + "\\" + kGameDir; }
  std::string company_;
  ScratchFolder scratch_{"qwwizard"};
  std::string install_ = scratch_.Join("game");
};

class WizardE2E : public ::testing::Test {
 protected:
  // Starts a copy of the updater with its own folder; the temp folder is shared by all copies.
  bool Start(UpdaterProcess* run, const std::vector<std::uint8_t>& package,
             const std::string& name) {
    const std::string folder = work_.Join(name);
    if (!MakeFolder(folder)) return false;
    const std::string exe = MakeTestUpdater(folder, package);
    if (exe.empty()) return false;
    RunOptions options;
    options.tempFolder = temp_;
    return run->Start(exe, options);
  }
  bool WaitForInfo(UpdaterProcess& run, const std::string& text) {
    return run.WaitUntil([&] { return run.ControlText(IDC_INFO) == text; }, text.c_str());
  }
  // Ready page, update page, 完了: the run's exit code.
  int FinishFromWelcome(UpdaterProcess& run) {
    run.Click(IDC_NEXT);
    if (!WaitForInfo(run, kReady)) return -2;
    EXPECT_TRUE(run.IsEnabled(IDC_NEXT));
    EXPECT_FALSE(run.IsEnabled(IDC_BACK));
    EXPECT_TRUE(run.IsEnabled(IDC_CANCEL));
    run.Click(IDC_NEXT);
    if (!run.WaitUntil([&] { return run.ControlText(IDC_NEXT) == "完了"; }, "完了")) return -2;
    run.Click(IDC_NEXT);
    return run.WaitForExit();
  }

  ScratchFolder work_{"qwwizrun"};
  std::string temp_ = work_.Join("temp");
  void SetUp() override { ASSERT_TRUE(MakeFolder(temp_)); }
};

TEST_F(WizardE2E, WithoutAgreementThroughEveryPageEndsWithOne) {
  InstalledGame game("QwWizardE2E-Plain");
  UpdaterProcess run;
  ASSERT_TRUE(Start(&run, game.Package(), "plain"));
  ASSERT_TRUE(run.WaitForWizard()) << run.Describe();
  EXPECT_EQ(kCaption, WindowText(run.wizard()));
  EXPECT_EQ(kWelcome, run.ControlText(IDC_INFO));
  EXPECT_TRUE(run.IsEnabled(IDC_NEXT));
  EXPECT_FALSE(run.IsEnabled(IDC_BACK));
  EXPECT_TRUE(run.IsEnabled(IDC_CANCEL));
  EXPECT_EQ(nullptr, GetDlgItem(run.wizard(), IDC_AGREE)) << "template 100";
  EXPECT_EQ(1, FinishFromWelcome(run)) << run.Describe();
  EXPECT_TRUE(run.boxes().empty()) << run.Describe();
  EXPECT_EQ("readme 2\r\n", game.Readme());
}

TEST_F(WizardE2E, AgreementMustBeAcceptedBeforeNext) {
  InstalledGame game("QwWizardE2E-Agreement");
  UpdaterProcess run;
  ASSERT_TRUE(Start(&run, game.Package({{"AgreementText", "AGREE.TXT"}}), "agreement"));
  ASSERT_TRUE(run.WaitForWizard()) << run.Describe();
  EXPECT_EQ(kWelcome, run.ControlText(IDC_INFO));
  EXPECT_EQ(kAgreement, run.ControlText(IDC_AGREEMENT_TEXT));
  EXPECT_TRUE(run.IsVisible(IDC_AGREEMENT_TEXT));
  EXPECT_FALSE(run.IsEnabled(IDC_NEXT));
  EXPECT_TRUE(run.IsChecked(IDC_DISAGREE));
  EXPECT_FALSE(run.IsChecked(IDC_AGREE));
  run.Click(IDC_AGREE);
  ASSERT_TRUE(run.WaitUntil([&] { return run.IsEnabled(IDC_NEXT); }, "Next enabled"));
  EXPECT_TRUE(run.IsChecked(IDC_AGREE));
  EXPECT_FALSE(run.IsChecked(IDC_DISAGREE));
  run.Click(IDC_DISAGREE);
  ASSERT_TRUE(run.WaitUntil([&] { return !run.IsEnabled(IDC_NEXT); }, "Next disabled"));
  run.Click(IDC_AGREE);
  ASSERT_TRUE(run.WaitUntil([&] { return run.IsEnabled(IDC_NEXT); }, "Next enabled again"));
  EXPECT_EQ(1, FinishFromWelcome(run)) << run.Describe();
  EXPECT_TRUE(run.boxes().empty()) << run.Describe();
}

TEST_F(WizardE2E, CancelledWizardShowsTheInterruptionAndEndsWithZero) {
  InstalledGame game("QwWizardE2E-Cancel");
  UpdaterProcess run;
  ASSERT_TRUE(Start(&run, game.Package(), "cancel"));
  ASSERT_TRUE(run.WaitForWizard()) << run.Describe();
  run.Click(IDC_CANCEL);
  EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
  ASSERT_EQ(1u, run.boxes().size()) << run.Describe();
  EXPECT_EQ(kInterrupted, run.boxes()[0].text);
  EXPECT_EQ(kCaption, run.boxes()[0].caption);
  EXPECT_EQ(nullptr, run.boxes()[0].owner);
  EXPECT_EQ("", game.Readme());
}

// The second updater brings the first one's wizard to the front and ends without a word; the
// first one's temporary manifest is untouched, so its update still completes.
TEST_F(WizardE2E, SecondUpdaterWhileTheFirstShowsItsWizard) {
  InstalledGame game("QwWizardE2E-Twice");
  const std::vector<std::uint8_t> package = game.Package();
  UpdaterProcess first;
  ASSERT_TRUE(Start(&first, package, "first"));
  ASSERT_TRUE(first.WaitForWizard()) << first.Describe();
  ShowWindow(first.wizard(), SW_HIDE);

  UpdaterProcess second;
  ASSERT_TRUE(Start(&second, package, "second"));
  EXPECT_EQ(0, second.WaitForExit()) << second.Describe();
  EXPECT_TRUE(second.boxes().empty()) << second.Describe();
  EXPECT_EQ(nullptr, second.wizard()) << "no wizard of its own";

  EXPECT_TRUE(IsWindowVisible(first.wizard()));
  EXPECT_EQ(kWelcome, first.ControlText(IDC_INFO));
  EXPECT_EQ(1, FinishFromWelcome(first)) << first.Describe();
  EXPECT_TRUE(first.boxes().empty()) << first.Describe();
  EXPECT_EQ("readme 2\r\n", game.Readme());
}

// OK while the game runs asks again; OK once it is closed goes on to the wizard.
TEST_F(WizardE2E, RunningGameAnsweredOkUntilItIsClosed) {
  InstalledGame game("QwWizardE2E-GameOk");
  HostedWindow gameWindow;
  ASSERT_TRUE(gameWindow.Open(kGameClass, kTitle));
  UpdaterProcess run;
  int runningBoxes = 0;
  run.SetAnswerer([&](const CapturedBox& box, UpdaterProcess&) {
    if (box.text == kRunning && ++runningBoxes == 2) gameWindow.Close();
    return IDOK;
  });
  ASSERT_TRUE(Start(&run, game.Package(), "gameok"));
  ASSERT_TRUE(run.WaitForWizard()) << run.Describe();
  ASSERT_EQ(2u, run.boxes().size()) << run.Describe();
  for (const CapturedBox& box : run.boxes()) {
    EXPECT_EQ(kRunning, box.text);
    EXPECT_EQ(kCaption, box.caption);
    EXPECT_TRUE(box.hasCancel);
    EXPECT_FALSE(box.hasIcon);
  }
  EXPECT_EQ(1, FinishFromWelcome(run)) << run.Describe();
}

// Cancel brings the game's window to the front and ends with 0, without the interruption box.
TEST_F(WizardE2E, RunningGameAnsweredCancel) {
  InstalledGame game("QwWizardE2E-GameCancel");
  HostedWindow gameWindow;
  ASSERT_TRUE(gameWindow.Open(kGameClass, kTitle, true));
  UpdaterProcess run;
  run.QueueAnswer(IDCANCEL);
  ASSERT_TRUE(Start(&run, game.Package(), "gamecancel"));
  EXPECT_EQ(0, run.WaitForExit()) << run.Describe();
  ASSERT_EQ(1u, run.boxes().size()) << run.Describe();
  EXPECT_EQ(kRunning, run.boxes()[0].text);
  EXPECT_TRUE(IsWindowVisible(gameWindow.window())) << "the game's window is shown";
}

}  // namespace
