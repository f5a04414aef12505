// Reads the wizard templates back out of the built UPDATE.exe, byte by byte, and checks every
// property of the dialogs and their controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/win32_handles.h"
#include "res/resource.h"
#include "tests/support/test_files.h"

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041
constexpr DWORD kDialogStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                               DS_CENTER | DS_SETFONT;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

struct ExpectedControl {
  DWORD id;
  const char* className;
  const char* text;
  short x, y, cx, cy;
  DWORD style;
};

struct ExpectedTemplate {
  int id;
  short cx, cy;
  std::vector<ExpectedControl> controls;
};

const ExpectedTemplate kTemplates[] = {
    {IDD_WIZARD,
     247,
     93,
     {
         {1, "BUTTON", "次へ", 143, 72, 44, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
         {2, "BUTTON", "中止", 196, 72, 44, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
         {4, "BUTTON", "戻る", 99, 72, 44, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
         {1001, "STATIC", "Info", 16, 16, 214, 26, kChild | SS_LEFT | WS_GROUP},
     }},
    {IDD_WIZARD_AGREEMENT,
     364,
     222,
     {
         {1, "BUTTON", "次へ", 258, 202, 44, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
         {2, "BUTTON", "中止", 311, 202, 44, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
         {4, "BUTTON", "戻る", 214, 202, 44, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
         {1001, "STATIC", "Info", 16, 9, 331, 65, kChild | SS_LEFT | WS_GROUP},
         {1000, "EDIT", "", 6, 81, 351, 92, kChild | ES_MULTILINE | WS_VSCROLL | WS_BORDER},
         {1002, "BUTTON", "同意する", 10, 177, 225, 10, kChild | BS_RADIOBUTTON},
         {1003, "BUTTON", "同意しない", 10, 189, 225, 10, kChild | BS_RADIOBUTTON},
     }},
};

// A cursor over the template bytes that fails instead of reading past the end.
class TemplateReader {
 public:
  TemplateReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  std::size_t offset() const { return at_; }
  bool atEnd() const { return at_ == size_; }

  template <typename T>
  T Read() {
    T value{};
    if (at_ + sizeof value > size_) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_ + at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  // A NUL-terminated UTF-16 string, as code page 932 bytes.
  std::string ReadText() {
    std::wstring wide;
    for (WCHAR c = Read<WCHAR>(); ok_ && c != 0; c = Read<WCHAR>()) wide.push_back(c);
    if (wide.empty()) return {};
    char narrow[1024] = {};
    WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()), narrow,
                        sizeof narrow - 1, nullptr, nullptr);
    return narrow;
  }
  // A name or ordinal: "" for none, "#n" for an ordinal (the predefined control classes by name).
  std::string ReadNameOrOrdinal(bool isClass = false) {
    const WORD first = Read<WORD>();
    if (first == 0x0000) return {};
    if (first == 0xFFFF) {
      const WORD ordinal = Read<WORD>();
      switch (ordinal) {
        case 0x0080: return "BUTTON";
        case 0x0081: return "EDIT";
        case 0x0082: return "STATIC";
        default: return "#" + std::to_string(ordinal);
      }
    }
    at_ -= sizeof first;
    std::string name = ReadText();
    if (isClass) CharUpperA(&name[0]);
    return name;
  }
  void AlignToDword() { at_ = (at_ + 3) & ~std::size_t{3}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

void CheckTemplate(HMODULE module, const ExpectedTemplate& expected) {
  SCOPED_TRACE("template " + std::to_string(expected.id));
  std::vector<WORD> languages;
  EnumResourceLanguagesA(module, reinterpret_cast<LPCSTR>(RT_DIALOG),
                         MAKEINTRESOURCEA(expected.id), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  ASSERT_EQ(std::vector<WORD>{kJapanese}, languages);

  HRSRC resource = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG),
                                   MAKEINTRESOURCEA(expected.id), kJapanese);
  ASSERT_NE(nullptr, resource);
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, resource)));
  ASSERT_NE(nullptr, bytes);
  TemplateReader reader(bytes, SizeofResource(module, resource));

  EXPECT_EQ(1, reader.Read<WORD>()) << "dlgVer";
  EXPECT_EQ(0xFFFF, reader.Read<WORD>()) << "signature";
  EXPECT_EQ(0u, reader.Read<DWORD>()) << "helpID";
  EXPECT_EQ(0u, reader.Read<DWORD>()) << "exStyle";
  EXPECT_EQ(kDialogStyle, reader.Read<DWORD>()) << "style";
  const WORD count = reader.Read<WORD>();
  EXPECT_EQ(expected.controls.size(), count);
  EXPECT_EQ(0, reader.Read<short>()) << "x";
  EXPECT_EQ(0, reader.Read<short>()) << "y";
  EXPECT_EQ(expected.cx, reader.Read<short>()) << "cx";
  EXPECT_EQ(expected.cy, reader.Read<short>()) << "cy";
  EXPECT_EQ("", reader.ReadNameOrOrdinal()) << "menu";
  EXPECT_EQ("", reader.ReadNameOrOrdinal()) << "class";
  EXPECT_EQ("UPDATE", reader.ReadText()) << "caption";
  EXPECT_EQ(10, reader.Read<WORD>()) << "point size";
  EXPECT_EQ(0, reader.Read<WORD>()) << "weight";
  EXPECT_EQ(0, reader.Read<BYTE>()) << "italic";
  EXPECT_EQ(0, reader.Read<BYTE>()) << "character set";
  EXPECT_EQ("ＭＳ Ｐゴシック", reader.ReadText()) << "typeface";
  ASSERT_TRUE(reader.ok());

  for (std::size_t i = 0; i < count && i < expected.controls.size(); ++i) {
    const ExpectedControl& control = expected.controls[i];
    SCOPED_TRACE("control index " + std::to_string(i) + " (id " + std::to_string(control.id) + ")");
    reader.AlignToDword();
    EXPECT_EQ(0u, reader.Read<DWORD>()) << "helpID";
    EXPECT_EQ(0u, reader.Read<DWORD>()) << "exStyle";
    const DWORD style = reader.Read<DWORD>();
    EXPECT_EQ(control.style, style) << std::hex << "style 0x" << style;
    EXPECT_EQ(control.x, reader.Read<short>()) << "x";
    EXPECT_EQ(control.y, reader.Read<short>()) << "y";
    EXPECT_EQ(control.cx, reader.Read<short>()) << "cx";
    EXPECT_EQ(control.cy, reader.Read<short>()) << "cy";
    EXPECT_EQ(control.id, reader.Read<DWORD>()) << "id";
    EXPECT_EQ(control.className, reader.ReadNameOrOrdinal(true)) << "class";
    EXPECT_EQ(control.text, reader.ReadNameOrOrdinal()) << "text";
    EXPECT_EQ(0, reader.Read<WORD>()) << "creation data";
    ASSERT_TRUE(reader.ok());
  }
  EXPECT_TRUE(reader.atEnd()) << "bytes after the last control at " << reader.offset();
}

TEST(DialogTemplates, UpdateExeHoldsBothTemplatesExactly) {
  const std::string path = ToWindowsPath(QW_UPDATE_EXE);
  UniqueLibrary updater(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(updater) << "cannot load " << path << ": " << GetLastError();
  for (const ExpectedTemplate& expected : kTemplates) CheckTemplate(updater.get(), expected);
}

}  // namespace
