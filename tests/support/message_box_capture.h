#pragma once
// Captures the real message boxes that code on this thread shows: a CBT hook sees each dialog of
// class #32770 that has the message-box text control (id 0xFFFF) as it is activated, records its
// caption, text, owner and buttons, and answers it by clicking a button.
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

struct CapturedBox {
  std::string caption;  // code page 932 bytes, as the box shows them
  std::string text;
  HWND owner;
  bool hasCancel;  // an OK/Cancel box
  bool hasIcon;    // an icon is shown
};

class MessageBoxCapture {
 public:
  MessageBoxCapture();
  ~MessageBoxCapture();
  MessageBoxCapture(const MessageBoxCapture&) = delete;
  MessageBoxCapture& operator=(const MessageBoxCapture&) = delete;

  // Answers for the next boxes, in order (IDOK, IDCANCEL); once they run out, boxes get IDOK.
  void QueueAnswer(int buttonId) { answers_.push_back(buttonId); }
  const std::vector<CapturedBox>& boxes() const { return boxes_; }
  void Clear() { boxes_.clear(); }

 private:
  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
  void OnActivate(HWND window);

  HHOOK hook_ = nullptr;
  std::deque<int> answers_;
  std::vector<CapturedBox> boxes_;
  static MessageBoxCapture* active_;
};

// Reads a window's text through WM_GETTEXT (works across processes), as code page 932 bytes.
std::string WindowText(HWND window);

// A captured box for assertion messages.
std::string Describe(const CapturedBox& box);
std::string Describe(const std::vector<CapturedBox>& boxes);
