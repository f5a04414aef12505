// Plays the player for the demo: runs UPDATE.exe, saves a picture of every message box and every
// wizard page as it comes (a BMP of the window's pixels on the screen), answers each box with OK,
// agrees to the agreement, and presses Next until the wizard ends. Its exit code is the
// updater's.
//
//   demo_clicker.exe UPDATE.exe PICTURE_FOLDER
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/test_files.h"
#include "tests/support/updater_process.h"

namespace {

constexpr DWORD kSettleMs = 400;       // lets a window that just appeared paint itself
constexpr DWORD kWaitMs = 60000;       // bound of every wait for the next page or box
constexpr char kBusyText[] = "アップデートを実行しています";
constexpr char kReadyText[] = "アップデートを実行します";

// Writes the window's area of the screen as a 24-bit bottom-up BMP.
bool SaveWindowPicture(HWND window, const std::string& path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<std::uint8_t> pixels(rowBytes * static_cast<DWORD>(height));
  const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::vector<std::uint8_t> bytes(file.bfSize);
  std::memcpy(bytes.data(), &file, sizeof file);
  std::memcpy(bytes.data() + sizeof file, &info, sizeof info);
  std::memcpy(bytes.data() + file.bfOffBits, pixels.data(), pixels.size());
  return WriteBytes(path, bytes);
}

class Clicker {
 public:
  Clicker(const std::string& exe, const std::string& folder) : exe_(exe), folder_(folder) {}

  int Run() {
    RunOptions options;
    options.timeoutMs = kWaitMs;
    run_.SetAnswerer([](const CapturedBox&, UpdaterProcess&) { return kLeaveBoxOpen; });
    if (!run_.Start(exe_, options)) return -1;
    std::string lastPage;
    for (;;) {
      const bool seen = run_.WaitUntil(
          [&] {
            if (run_.openBox()) return true;
            const std::string page = run_.wizard() ? PageKey() : std::string();
            return !page.empty() && page != lastPage && !Busy();
          },
          "the next box or page");
      if (!seen) break;
      if (HWND box = run_.openBox()) {
        Picture(box, "message");
        run_.AnswerBox(box, IDOK);
        continue;
      }
      lastPage = PageKey();
      if (!StepPage()) break;
    }
    return run_.WaitForExit();
  }

 private:
  // A page is told apart by its Info text and the label of control 1; empty while the wizard is
  // closing.
  std::string PageKey() {
    const std::string next = run_.ControlText(IDC_NEXT);
    return next.empty() ? std::string() : run_.ControlText(IDC_INFO) + "|" + next;
  }
  bool Busy() { return run_.ControlText(IDC_INFO) == kBusyText; }

  const char* PageName() {
    if (++pages_ == 1) return "welcome";
    if (run_.ControlText(IDC_NEXT) == "完了") return "completed";
    if (run_.ControlText(IDC_INFO) == kReadyText) return "ready";
    return run_.IsEnabled(IDC_BACK) ? "shortfall" : "page";
  }

  // Pictures the page, then acts on it like a player; false when nothing is left to press.
  bool StepPage() {
    const bool agreement = run_.IsVisible(IDC_AGREE);
    Picture(run_.wizard(), PageName());
    if (agreement && !run_.IsChecked(IDC_AGREE)) {
      run_.Click(IDC_AGREE);
      if (!run_.WaitUntil([&] { return run_.IsEnabled(IDC_NEXT); }, "Next after agreeing")) {
        return false;
      }
      Picture(run_.wizard(), "agreed");
    }
    if (!run_.IsEnabled(IDC_NEXT)) {
      // Only Back and Cancel left (too little disk space): the demo stops here.
      run_.Click(IDC_CANCEL);
      return false;
    }
    run_.Click(IDC_NEXT);
    return true;
  }

  void Picture(HWND window, const char* kind) {
    Sleep(kSettleMs);
    run_.Poll();
    char name[64];
    wsprintfA(name, "%02d-%s.bmp", ++count_, kind);
    const std::string path = JoinPath(folder_, name);
    if (SaveWindowPicture(window, path)) {
      std::printf("picture %s\n", name);
    } else {
      std::printf("could not picture %s\n", name);
    }
    std::fflush(stdout);
  }

  std::string exe_;
  std::string folder_;
  UpdaterProcess run_;
  int count_ = 0;
  int pages_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: demo_clicker UPDATE.exe PICTURE_FOLDER\n");
    return 2;
  }
  return Clicker(ToWindowsPath(argv[1]), ToWindowsPath(argv[2])).Run();
}
