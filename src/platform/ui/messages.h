#pragma once
// Message boxes of the desktop window system, reached through one replaceable service so that
// tests can answer them. Three kinds of message go through it:
//   - MessageBox: a caption, a text and the platform's style number (buttons, icon, preselected
//     button), returning the platform's id of the pressed button;
//   - ShowMessage, the plain message: one OK button, no icon, captioned with the application's
//     title;
//   - showDefaultError, the default error display of the window framework: the stop icon, one OK
//     button, the application's title as caption, and "." appended to the text when its last
//     byte sorts after ".".
// All text is UTF-8.
//
// The product speaks Chinese, so its message boxes always label their buttons with Qt's own
// Chinese texts (是(&Y), 否(&N), 取消, 确定), taken from Qt's translation file without installing
// it on the application; whether the rest of Qt reads in Chinese is the application's choice
// (see entry/qt_application.h).

#include <memory>
#include <string>
#include <vector>

namespace dupsweep::ui {

// Ids of the buttons a message box returns (the platform's values).
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Style bits of a message box (the platform's values). A style is one button set, plus at most
// one icon, plus at most one preselected-button choice (first button when none is given).
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

// One message as the operator sees it.
struct Message {
  std::string text;
  std::string caption;
  int style = MB_OK;

  bool operator==(const Message&) const = default;
};

// True when `style` is made of the bits above: a known button set, icon and preselected button
// that exists in the set.
bool isSupportedStyle(int style) noexcept;

// The ids of the buttons of a style, in the order they are shown. Requires a supported style.
std::vector<int> buttonsOf(int style);

// The id that closing the box (close box or Escape) answers: IDCANCEL when the box has a Cancel
// button, IDOK for an OK-only box, 0 when the box cannot be closed that way (Yes/No).
int closeAnswerOf(int style) noexcept;

// Shows messages to the operator. Implementations show the message modally and return the id of
// the pressed button; they receive only supported styles.
class MessageService {
 public:
  virtual ~MessageService() = default;
  virtual int show(const Message& message) = 0;
};

// The service every message goes through: the Qt message boxes (which need a QApplication)
// until replaced.
MessageService& messageService();

// Installs `service` (the Qt message boxes when null) and returns the one it replaces (null when
// that was the built-in Qt service).
std::unique_ptr<MessageService> setMessageService(std::unique_ptr<MessageService> service);

// The application's title, which captions plain messages and the default error display: the host
// application's display name (QGuiApplication::applicationDisplayName(), which defaults to the
// executable's name), or the executable's file name when there is no application object.
std::string applicationTitle();

// Path of Qt's own Chinese translation: qtbase_zh_CN.qm in Qt's translations directory
// (QLibraryInfo::TranslationsPath).
std::string qtChineseTranslationFile();

// Makes the Qt message boxes take their button texts from the Qt translation file `file` from now
// on and returns true; when the file cannot be loaded (missing, not a translation), returns false
// and the boxes show Qt's untranslated texts. Until it is called the boxes load
// qtChineseTranslationFile() when the first box is shown.
bool setButtonTranslationFile(const std::string& file);

// Shows `text` under `caption` with a style number and returns the pressed button's id. Throws
// std::invalid_argument (nothing shown) for an unsupported style.
int MessageBox(const std::string& text, const std::string& caption, int style);

// The plain message: `text` with one OK button and no icon, captioned with applicationTitle().
void ShowMessage(const std::string& text);

// The text the default error display shows for a failure message: the message with "." appended
// when its last byte sorts after "." in byte order (unsigned); the empty text stays empty.
std::string defaultErrorText(std::string message);

// The default error display: defaultErrorText(message) with the stop icon and one OK button,
// captioned with applicationTitle().
void showDefaultError(const std::string& message);

}  // namespace dupsweep::ui
