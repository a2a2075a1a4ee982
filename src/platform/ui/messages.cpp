#include "platform/ui/messages.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QWidget>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace dupsweep::ui {
namespace {

constexpr int kButtonMask = 0xF;
constexpr int kIconMask = 0xF0;
constexpr int kDefaultMask = 0xF00;

// Loaded on first use.
struct ButtonTranslation {
  std::unique_ptr<QTranslator> translator;  // null when no file could be loaded
  bool chosen = false;                      // a file was tried
};

ButtonTranslation& buttonTranslation() {
  static ButtonTranslation translation;
  return translation;
}

const QTranslator* buttonTranslator() {
  if (!buttonTranslation().chosen) setButtonTranslationFile(qtChineseTranslationFile());
  return buttonTranslation().translator.get();
}

class QtMessageService : public MessageService {
 public:
  int show(const Message& message) override {
    QMessageBox box(iconOf(message.style), QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), QMessageBox::NoButton, dialogParent());
    // Texts are shown verbatim: a "<" in a unit name must not switch the box to rich text.
    box.setTextFormat(Qt::PlainText);
    const std::vector<int> ids = buttonsOf(message.style);
    std::vector<QPushButton*> buttons;
    const QTranslator* translator = buttonTranslator();
    for (int id : ids) {
      QPushButton* button = box.addButton(standardButtonOf(id));
      // Qt's source texts; the translation adds mnemonics ("是(&Y)"). The button stays standard,
      // so the answer keeps its id.
      if (translator) {
        const QString text = translator->translate("QPlatformTheme", sourceTextOf(id));
        if (!text.isEmpty()) button->setText(text);
      }
      buttons.push_back(button);
    }
    const auto preselected = static_cast<std::size_t>((message.style & kDefaultMask) >> 8);
    box.setDefaultButton(buttons.at(preselected));
    // Closing the box counts as its Cancel button (OK for an OK-only box); a Yes/No box cannot
    // be closed without an answer.
    const int closeId = closeAnswerOf(message.style);
    for (std::size_t i = 0; i < ids.size(); ++i)
      if (ids[i] == closeId) box.setEscapeButton(buttons[i]);
    box.exec();
    for (std::size_t i = 0; i < ids.size(); ++i)
      if (box.clickedButton() == buttons[i]) return ids[i];
    return closeId;
  }

 private:
  static QWidget* dialogParent() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
  }

  static QMessageBox::Icon iconOf(int style) {
    switch (style & kIconMask) {
      case MB_ICONSTOP:
        return QMessageBox::Critical;
      case MB_ICONQUESTION:
        return QMessageBox::Question;
      case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
      case MB_ICONINFORMATION:
        return QMessageBox::Information;
      default:
        return QMessageBox::NoIcon;
    }
  }

  static const char* sourceTextOf(int id) {
    switch (id) {
      case IDOK:
        return "OK";
      case IDCANCEL:
        return "Cancel";
      case IDYES:
        return "&Yes";
      default:
        return "&No";
    }
  }

  static QMessageBox::StandardButton standardButtonOf(int id) {
    switch (id) {
      case IDOK:
        return QMessageBox::Ok;
      case IDCANCEL:
        return QMessageBox::Cancel;
      case IDYES:
        return QMessageBox::Yes;
      default:
        return QMessageBox::No;
    }
  }
};

QtMessageService& qtService() {
  static QtMessageService service;
  return service;
}

std::unique_ptr<MessageService>& installedService() {
  static std::unique_ptr<MessageService> service;
  return service;
}

}  // namespace

bool isSupportedStyle(int style) noexcept {
  if (style < 0 || (style & ~(kButtonMask | kIconMask | kDefaultMask)) != 0) return false;
  const int buttons = style & kButtonMask;
  if (buttons != MB_OK && buttons != MB_OKCANCEL && buttons != MB_YESNOCANCEL &&
      buttons != MB_YESNO)
    return false;
  const int icon = style & kIconMask;
  if (icon != 0 && icon != MB_ICONSTOP && icon != MB_ICONQUESTION && icon != MB_ICONEXCLAMATION &&
      icon != MB_ICONINFORMATION)
    return false;
  const int preselected = (style & kDefaultMask) >> 8;
  const int count = buttons == MB_OK ? 1 : buttons == MB_YESNOCANCEL ? 3 : 2;
  return preselected < count;
}

std::vector<int> buttonsOf(int style) {
  if (!isSupportedStyle(style))
    throw std::invalid_argument("unsupported message box style " + std::to_string(style));
  switch (style & kButtonMask) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    default:
      return {IDOK};
  }
}

int closeAnswerOf(int style) noexcept {
  switch (style & kButtonMask) {
    case MB_OK:
      return IDOK;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
      return IDCANCEL;
    default:
      return 0;
  }
}

MessageService& messageService() {
  if (auto& installed = installedService()) return *installed;
  return qtService();
}

std::unique_ptr<MessageService> setMessageService(std::unique_ptr<MessageService> service) {
  std::unique_ptr<MessageService> previous = std::move(installedService());
  installedService() = std::move(service);
  return previous;
}

std::string applicationTitle() {
  if (QCoreApplication::instance()) {
    const QString title = QGuiApplication::applicationDisplayName();
    if (!title.isEmpty()) return title.toStdString();
  }
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.filename().string();
}

std::string qtChineseTranslationFile() {
  return (QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm"))
      .toStdString();
}

bool setButtonTranslationFile(const std::string& file) {
  ButtonTranslation& translation = buttonTranslation();
  translation.chosen = true;
  auto translator = std::make_unique<QTranslator>();
  if (translator->load(QString::fromStdString(file)))
    translation.translator = std::move(translator);
  else
    translation.translator.reset();
  return translation.translator != nullptr;
}

int MessageBox(const std::string& text, const std::string& caption, int style) {
  if (!isSupportedStyle(style))
    throw std::invalid_argument("unsupported message box style " + std::to_string(style));
  return messageService().show(Message{text, caption, style});
}

void ShowMessage(const std::string& text) {
  messageService().show(Message{text, applicationTitle(), MB_OK});
}

std::string defaultErrorText(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

void showDefaultError(const std::string& message) {
  messageService().show(
      Message{defaultErrorText(message), applicationTitle(), MB_OK | MB_ICONSTOP});
}

}  // namespace dupsweep::ui
