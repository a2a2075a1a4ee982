// Message boxes, the plain message, the default error display and the handler wrapper.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <stdexcept>

#include "dialog/qt_environment.h"
#include "platform/errors.h"
#include "platform/ui/handler.h"
#include "platform/ui/messages.h"
#include "support/scripted_messages.h"

namespace dupsweep::ui {
namespace {

using dupsweep::testing::whenModal;

// Sets the application's display name for one test.
class DisplayName {
 public:
  explicit DisplayName(const QString& name) : old_(QGuiApplication::applicationDisplayName()) {
    QGuiApplication::setApplicationDisplayName(name);
  }
  ~DisplayName() { QGuiApplication::setApplicationDisplayName(old_); }

 private:
  QString old_;
};

TEST(DefaultErrorText, AppendsAFullStopOnlyAfterALastByteThatSortsAfterIt) {
  EXPECT_EQ(defaultErrorText("abc"), "abc.");
  EXPECT_EQ(defaultErrorText("abc."), "abc.");
  EXPECT_EQ(defaultErrorText("abc!"), "abc!");  // '!' sorts before '.'
  EXPECT_EQ(defaultErrorText("abc-"), "abc-");
  EXPECT_EQ(defaultErrorText("abc/"), "abc/.");  // '/' sorts right after '.'
  EXPECT_EQ(defaultErrorText("12"), "12.");
  EXPECT_EQ(defaultErrorText("line\n"), "line\n");
  // The last byte of a Chinese character is above 0x7F.
  EXPECT_EQ(defaultErrorText("无法删除数据"), "无法删除数据.");
  EXPECT_EQ(defaultErrorText("无法删除数据。"), "无法删除数据。.");
  EXPECT_EQ(defaultErrorText(""), "");
}

TEST(ApplicationTitle, IsTheDisplayNameAndDefaultsToTheExecutableName) {
  EXPECT_EQ(applicationTitle(), "test_dialog");
  DisplayName name("报表系统");
  EXPECT_EQ(applicationTitle(), "报表系统");
}

TEST(MessageStyles, SupportedStylesAndTheirButtons) {
  EXPECT_EQ(buttonsOf(0), (std::vector<int>{IDOK}));
  EXPECT_EQ(buttonsOf(64), (std::vector<int>{IDOK}));
  EXPECT_EQ(buttonsOf(579), (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(579, MB_YESNOCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON3);
  EXPECT_EQ(closeAnswerOf(579), IDCANCEL);
  EXPECT_EQ(closeAnswerOf(64), IDOK);
  EXPECT_EQ(closeAnswerOf(MB_YESNO), 0);
  EXPECT_FALSE(isSupportedStyle(MB_OK | MB_DEFBUTTON2));  // an OK box has no second button
  EXPECT_FALSE(isSupportedStyle(0x2));                    // abort/retry/ignore
  EXPECT_FALSE(isSupportedStyle(0x1000));
  EXPECT_FALSE(isSupportedStyle(-1));
}

TEST(ScriptedMessages, RecordMessagesAndAnswerFromTheQueue) {
  ScopedScriptedMessages messages;
  DisplayName name("主程序");
  messages->answers = {IDNO};
  EXPECT_EQ(MessageBox("保存吗？", "系统提示", 579), IDNO);
  EXPECT_EQ(MessageBox("再问一次", "系统提示", 579), IDCANCEL);  // no answer: closed
  ShowMessage("必须选择两个单位");
  showDefaultError("表不存在");
  ASSERT_EQ(messages->shown.size(), 4u);
  EXPECT_EQ(messages->shown[0], (Message{"保存吗？", "系统提示", 579}));
  EXPECT_EQ(messages->shown[2], (Message{"必须选择两个单位", "主程序", MB_OK}));
  EXPECT_EQ(messages->shown[3], (Message{"表不存在.", "主程序", MB_OK | MB_ICONSTOP}));
}

TEST(ScriptedMessages, RefuseAnAnswerThatIsNoButtonOfTheBox) {
  ScopedScriptedMessages messages;
  messages->answers = {IDYES};
  EXPECT_THROW(MessageBox("完成", "系统提示", 64), std::logic_error);
  EXPECT_THROW(MessageBox("是否？", "系统提示", MB_YESNO), std::logic_error);  // cannot be closed
}

TEST(MessageBoxes, AnUnsupportedStyleIsRefusedBeforeAnythingIsShown) {
  ScopedScriptedMessages messages;
  EXPECT_THROW(MessageBox("x", "y", 0x2), std::invalid_argument);
  EXPECT_TRUE(messages->shown.empty());
}

// ---- The Qt message boxes ----------------------------------------------------------------------

struct SeenBox {
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton preselected = QMessageBox::NoButton;
  Qt::TextFormat format = Qt::AutoText;
};

// Records the box once it is up, then presses `press` or, with NoButton, closes the box.
void answerBox(SeenBox& seen, QMessageBox::StandardButton press) {
  whenModal<QMessageBox>([&seen, press](QMessageBox* box) {
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    if (auto* def = box->defaultButton()) seen.preselected = box->standardButton(def);
    seen.format = box->textFormat();
    if (press == QMessageBox::NoButton)
      box->close();
    else
      box->button(press)->click();
  });
}

TEST(QtMessageBoxes, YesNoCancelWithInformationIconPreselectsCancelAndClosingIsCancel) {
  SeenBox seen;
  answerBox(seen, QMessageBox::NoButton);
  EXPECT_EQ(MessageBox("是否保存 <b>方案</b>？", "系统提示", 579), IDCANCEL);
  EXPECT_EQ(seen.caption, "系统提示");
  EXPECT_EQ(seen.text, "是否保存 <b>方案</b>？");
  EXPECT_EQ(seen.format, Qt::PlainText);
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(seen.preselected, QMessageBox::Cancel);

  answerBox(seen, QMessageBox::Yes);
  EXPECT_EQ(MessageBox("是否保存？", "系统提示", 579), IDYES);
  answerBox(seen, QMessageBox::No);
  EXPECT_EQ(MessageBox("是否保存？", "系统提示", 579), IDNO);
}

TEST(QtMessageBoxes, OkBoxesWithAndWithoutIcon) {
  SeenBox seen;
  answerBox(seen, QMessageBox::NoButton);
  EXPECT_EQ(MessageBox("删除完成", "系统提示", 64), IDOK);
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);

  answerBox(seen, QMessageBox::Ok);
  EXPECT_EQ(MessageBox("没有选择期间", "系统提示", 0), IDOK);
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);
}

TEST(QtMessageBoxes, PlainMessageAndDefaultErrorDisplayCarryTheApplicationTitle) {
  DisplayName name("报表系统");
  SeenBox seen;
  answerBox(seen, QMessageBox::Ok);
  ShowMessage("必须选择两个单位");
  EXPECT_EQ(seen.caption, "报表系统");
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);

  answerBox(seen, QMessageBox::Ok);
  showDefaultError("无法删除数据");
  EXPECT_EQ(seen.caption, "报表系统");
  EXPECT_EQ(seen.text, "无法删除数据.");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);
}

// The texts of a box's standard buttons as it shows them, and which one is preselected.
struct ButtonTexts {
  QString yes, no, cancel, ok, preselected;
};

void readButtonsAndPress(ButtonTexts& seen, QMessageBox::StandardButton press) {
  whenModal<QMessageBox>([&seen, press](QMessageBox* box) {
    auto textOf = [box](QMessageBox::StandardButton which) {
      QAbstractButton* button = box->button(which);
      return button ? button->text() : QString();
    };
    seen = {textOf(QMessageBox::Yes), textOf(QMessageBox::No), textOf(QMessageBox::Cancel),
            textOf(QMessageBox::Ok), box->defaultButton() ? box->defaultButton()->text() : ""};
    if (press == QMessageBox::NoButton)
      box->close();
    else
      box->button(press)->click();
  });
}

// Restores the button texts of Qt's Chinese translation after a test that replaced them.
class ButtonTranslationFile {
 public:
  explicit ButtonTranslationFile(const std::string& file)
      : loaded(setButtonTranslationFile(file)) {}
  ~ButtonTranslationFile() { setButtonTranslationFile(qtChineseTranslationFile()); }
  const bool loaded;
};

TEST(QtMessageBoxes, ButtonsReadInChineseWithMnemonicsAndKeepTheirAnswers) {
  ButtonTranslationFile chinese(qtChineseTranslationFile());
  ASSERT_TRUE(chinese.loaded) << "Qt's Chinese translation is missing: "
                              << qtChineseTranslationFile();
  ButtonTexts seen;
  readButtonsAndPress(seen, QMessageBox::NoButton);
  EXPECT_EQ(MessageBox("数据删除后将无法恢复，你确认继续操作吗？", "系统提示", 579), IDCANCEL);
  EXPECT_EQ(seen.yes, "是(&Y)");
  EXPECT_EQ(seen.no, "否(&N)");
  EXPECT_EQ(seen.cancel, "取消");
  EXPECT_EQ(seen.preselected, "取消");
  EXPECT_TRUE(seen.ok.isEmpty());

  readButtonsAndPress(seen, QMessageBox::Yes);
  EXPECT_EQ(MessageBox("点是删除甲的数据", "系统提示", 579), IDYES);
  readButtonsAndPress(seen, QMessageBox::No);
  EXPECT_EQ(MessageBox("点否删除乙数据", "系统提示", 579), IDNO);
  readButtonsAndPress(seen, QMessageBox::Cancel);
  EXPECT_EQ(MessageBox("取消", "系统提示", 579), IDCANCEL);

  for (int style : {0, 64}) {
    readButtonsAndPress(seen, QMessageBox::Ok);
    EXPECT_EQ(MessageBox("重复记录已经删除", "系统提示", style), IDOK) << style;
    EXPECT_EQ(seen.ok, "确定") << style;
    EXPECT_EQ(seen.preselected, "确定") << style;
    EXPECT_TRUE(seen.yes.isEmpty() && seen.no.isEmpty() && seen.cancel.isEmpty()) << style;
  }
  readButtonsAndPress(seen, QMessageBox::Ok);
  showDefaultError("表不存在");
  EXPECT_EQ(seen.ok, "确定");
}

TEST(QtMessageBoxes, WithoutATranslationFileTheBoxesKeepQtsTextsAndWork) {
  ButtonTranslationFile missing("/nonexistent/qtbase_zh_CN.qm");
  EXPECT_FALSE(missing.loaded);
  ButtonTexts seen;
  readButtonsAndPress(seen, QMessageBox::No);
  EXPECT_EQ(MessageBox("是否？", "系统提示", 579), IDNO);
  EXPECT_EQ(seen.yes, QMessageBox().addButton(QMessageBox::Yes)->text());  // Qt's own text
  EXPECT_NE(seen.cancel, "取消");
  EXPECT_EQ(seen.preselected, seen.cancel);

  // A file that is no translation is refused the same way.
  const std::string notTranslation = std::string(DUPSWEEP_SOURCE_DIR) + "/README.md";
  EXPECT_FALSE(setButtonTranslationFile(notTranslation));
  readButtonsAndPress(seen, QMessageBox::Ok);
  EXPECT_EQ(MessageBox("完成", "系统提示", 64), IDOK);
  EXPECT_NE(seen.ok, "确定");
}

// ---- The handler wrapper -----------------------------------------------------------------------

class Window : public QObject {
 public:
  int calls = 0;
  void cmdOkClick() {
    ++calls;
    throw DatabaseError("DELETE 语句被拒绝");
  }
  void indexChanged(int index) { calls += index; }
};

TEST(HandlerWrapper, ShowsAFailureByTheDefaultErrorDisplayAndLetsNothingEscape) {
  ScopedScriptedMessages messages;
  DisplayName name("报表系统");
  Window window;
  QPushButton button;
  QObject::connect(&button, &QPushButton::clicked, &window, guarded(&window, &Window::cmdOkClick));
  EXPECT_NO_THROW(button.click());
  EXPECT_NO_THROW(button.click());
  EXPECT_EQ(window.calls, 2);
  ASSERT_EQ(messages->shown.size(), 2u);
  EXPECT_EQ(messages->shown[0], (Message{"DELETE 语句被拒绝.", "报表系统", MB_OK | MB_ICONSTOP}));
}

TEST(HandlerWrapper, PassesSignalArgumentsAndShowsNothingWhenAllGoesWell) {
  ScopedScriptedMessages messages;
  Window window;
  auto slot = guarded(&window, &Window::indexChanged);
  slot(5);
  EXPECT_EQ(window.calls, 5);
  EXPECT_TRUE(messages->shown.empty());
}

TEST(HandlerWrapper, ShowsAnExceptionOfAnyOtherKindWithAFixedText) {
  ScopedScriptedMessages messages;
  runHandler([] { throw 42; });
  runHandler([] { throw std::runtime_error("failed."); });
  ASSERT_EQ(messages->shown.size(), 2u);
  EXPECT_EQ(messages->shown[0].text, "An unknown error occurred.");
  EXPECT_EQ(messages->shown[1].text, "failed.");
}

}  // namespace
}  // namespace dupsweep::ui
