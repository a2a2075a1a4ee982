#pragma once
// Message boxes through one replaceable service, so that tests can answer them: MessageBox,
// ShowMessage and showDefaultError. Text is UTF-8; the buttons always carry Qt's own Chinese texts
// (是(&Y), 否(&N), 取消, 确定), whatever language the rest of Qt speaks.

#include <memory>
#include <string>
#include <vector>

namespace dupsweep::ui {

// The platform's values.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// The platform's values: one button set, at most one icon and one preselected button.
inline constexpr int MB_OK = 0x0;
inline constexpr int MB_OKCANCEL = 0x1;
inline constexpr int MB_YESNOCANCEL = 0x3;
inline constexpr int MB_YESNO = 0x4;
inline constexpr int MB_ICONSTOP = 0x10;
inline constexpr int MB_ICONQUESTION = 0x20;
inline constexpr int MB_ICONEXCLAMATION = 0x30;
inline constexpr int MB_ICONINFORMATION = 0x40;
inline constexpr int MB_DEFBUTTON2 = 0x100;
inline constexpr int MB_DEFBUTTON3 = 0x200;

struct Message {
  std::string text;
  std::string caption;
  int style = MB_OK;

  bool operator==(const Message&) const = default;
};

// A known button set and icon, and a preselected button that exists in the set.
bool isSupportedStyle(int style) noexcept;

// In the order shown. Requires a supported style.
std::vector<int> buttonsOf(int style);

// What closing the box answers: IDCANCEL with a Cancel button, IDOK for OK only, 0 for Yes/No.
int closeAnswerOf(int style) noexcept;

// Shows a message modally and returns the pressed button's id; receives only supported styles.
class MessageService {
 public:
  virtual ~MessageService() = default;
  virtual int show(const Message& message) = 0;
};

// The Qt message boxes (which need a QApplication) until replaced.
MessageService& messageService();

// Null installs the Qt boxes; returns the service replaced (null for the built-in one).
std::unique_ptr<MessageService> setMessageService(std::unique_ptr<MessageService> service);

// QGuiApplication::applicationDisplayName(), or the executable's file name without an application.
std::string applicationTitle();

// qtbase_zh_CN.qm in QLibraryInfo::TranslationsPath.
std::string qtChineseTranslationFile();

// The boxes take their button texts from `file` from now on; false when it cannot be loaded (Qt's
// untranslated texts then). Until called, qtChineseTranslationFile() is loaded with the first box.
bool setButtonTranslationFile(const std::string& file);

// Returns the pressed button's id. Throws std::invalid_argument (nothing shown) for an
// unsupported style.
int MessageBox(const std::string& text, const std::string& caption, int style);

// One OK button, no icon, captioned with applicationTitle().
void ShowMessage(const std::string& text);

// "." appended when the last byte sorts after "." (unsigned); the empty text stays empty.
std::string defaultErrorText(std::string message);

// defaultErrorText(message), the stop icon, one OK button, captioned with applicationTitle().
void showDefaultError(const std::string& message);

}  // namespace dupsweep::ui
