#include "ui/wizard_controls.h"

#include <cstdarg>

#include "app/cp932.h"
#include "app/text_limits.h"
#include "res/resource.h"

namespace {
// wvsprintfA writes at most kTextCapacity bytes, NUL included. When the output was cut in the
// middle of a double-byte character, its lone lead byte is dropped as well.
void DropCutLeadByte(char* text, int length) {
  if (length < static_cast<int>(kTextCapacity) - 1) return;
  const std::size_t last = LastCp932CharOffset(text, static_cast<std::size_t>(length));
  if (last + 1 == static_cast<std::size_t>(length) &&
      IsCp932LeadByte(static_cast<unsigned char>(text[last]))) {
    text[last] = '\0';
  }
}
}  // namespace

void SetInfoText(HWND wizard, const char* format, ...) {
  char text[kTextCapacity];
  va_list arguments;
  va_start(arguments, format);
  int length = wvsprintfA(text, format, arguments);
  va_end(arguments);
  text[kTextCapacity - 1] = '\0';
  if (length < 0 || length >= static_cast<int>(kTextCapacity)) length = lstrlenA(text);
  DropCutLeadByte(text, length);
  SetDlgItemTextA(wizard, IDC_INFO, text);
}

void EnableItem(HWND wizard, int controlId, bool enable) {
  if (HWND item = GetDlgItem(wizard, controlId)) EnableWindow(item, enable ? TRUE : FALSE);
}

void ShowItem(HWND wizard, int controlId, int showCommand) {
  if (HWND item = GetDlgItem(wizard, controlId)) ShowWindow(item, showCommand);
}
