// Renders the wizard's pages as the player sees them and saves each as a 24-bit BMP:
//   wizard_screenshots.exe FOLDER
// welcome.bmp (template 100), welcome-agreement.bmp (template 101) and ready.bmp. Not a test:
// scripts/screenshots turns the pictures into the README's PNGs.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "res/resource.h"
#include "tests/windows/wizard_script.h"
#include "ui/wizard.h"

namespace {

const char kAgreement[] =
    "使用許諾契約書\r\n"
    "\r\n"
    "第1条 本アップデートは「ソ表クエスト」を正規にお持ちのお客様のみご利用いただけます。\r\n"
    "第2条 アップデートの実行前に、セーブデータのバックアップをお取り下さい。\r\n"
    "第3条 本ソフトウェアの複製、改変、再配布を禁止します。\r\n";

// Lets the dialog and its controls paint themselves completely.
void Settle(HWND wizard) {
  RedrawWindow(wizard, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN |
                                             RDW_UPDATENOW);
  for (int i = 0; i < 20; ++i) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(25);
  }
}

// The face that renders the dialog's font: the prefix replaces the template's face by a
// Japanese font that is installed.
std::string RenderedFace(HWND wizard) {
  HDC dc = GetDC(wizard);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(wizard, WM_GETFONT, 0, 0)));
  std::string face = "(no outline font)";
  std::vector<char> metrics(GetOutlineTextMetricsA(dc, 0, nullptr));
  if (!metrics.empty()) {
    auto* outline = reinterpret_cast<OUTLINETEXTMETRICA*>(metrics.data());
    GetOutlineTextMetricsA(dc, static_cast<UINT>(metrics.size()), outline);
    face = metrics.data() + reinterpret_cast<std::uintptr_t>(outline->otmpFullName);
  }
  SelectObject(dc, old);
  ReleaseDC(wizard, dc);
  return face;
}

// The window as it is on the screen, frame and caption included, as a bottom-up 24-bit BMP.
bool SaveWindow(HWND window, const std::string& path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD pixelBytes = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + pixelBytes;
  info.bmiHeader.biSizeImage = pixelBytes;
  FILE* out = std::fopen(path.c_str(), "wb");
  bool written = out != nullptr;
  if (out) {
    written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
              std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
              std::fwrite(bits, pixelBytes, 1, out) == 1;
    written = std::fclose(out) == 0 && written;
  }
  DeleteObject(bitmap);
  return written;
}

bool Shoot(int templateId, bool readyPage, const std::string& path) {
  ResetUpdaterState();
  lstrcpyA(g_updater.captionText, "ソ表クエスト アップデータ 1.01");
  lstrcpyA(g_updater.manifest.gameTitle, "ソ表クエスト");
  std::string agreement = kAgreement;
  g_updater.agreementText = templateId == IDD_WIZARD_AGREEMENT ? &agreement[0] : nullptr;
  bool saved = false;
  WizardScript script([&](HWND wizard) {
    if (readyPage) SendDlgItemMessageA(wizard, IDC_NEXT, BM_CLICK, 0, 0);
    Settle(wizard);
    std::printf("font face: %s\n", RenderedFace(wizard).c_str());
    saved = SaveWindow(wizard, path);
    EndDialog(wizard, 0);
  });
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, WizardProc,
                  0);
  std::printf("%s %s\n", saved ? "saved" : "FAILED", path.c_str());
  return saved;
}

}  // namespace

// The update page is not shown here: the ready page's Next is never pressed.
void RunUpdatePage(HWND) {}

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  bool ok = Shoot(IDD_WIZARD, false, folder + "\\welcome.bmp");
  ok = Shoot(IDD_WIZARD_AGREEMENT, false, folder + "\\welcome-agreement.bmp") && ok;
  ok = Shoot(IDD_WIZARD, true, folder + "\\ready.bmp") && ok;
  return ok ? 0 : 1;
}
