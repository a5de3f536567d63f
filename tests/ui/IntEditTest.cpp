#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

constexpr qint32 kMin32 = std::numeric_limits<qint32>::min();
constexpr qint32 kMax32 = std::numeric_limits<qint32>::max();

TEST(IntText, ParsesSignsAndPrefixesAndStopsAtTheFirstInvalidCharacter) {
  const struct {
    const char* text;
    qint32 value;
    bool ok;
  } cases[] = {{"$1F", 31, true},
               {"0x10", 16, true},
               {"-x10", -16, true},
               {"  +7", 7, true},
               {"-2147483648", kMin32, true},
               {"12-5", 12, false},
               {"-", 0, false},
               {"", 0, false},
               {"2147483648", 214748364, false},
               {"-2147483648z", 214748364, false}};
  for (const auto& c : cases) {
    const TIntText parsed = ParseIntText(QString::fromLatin1(c.text));
    EXPECT_EQ(parsed.value, c.value) << c.text;
    EXPECT_EQ(parsed.ok, c.ok) << c.text;
  }
  EXPECT_EQ(ClampToRange(qint64{kMax32} * 3, 0, kMax32), kMax32);
  EXPECT_EQ(RangeMessage(QStringLiteral("%2"), -660, 780),
            QStringLiteral("%2 musí být v rozmezí od -660 do 780!"));
}

struct TShownBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  qsizetype buttons = 0;
};

// Answers the next modal message box with OK from a zero-time timer and tells what it showed.
std::shared_ptr<TShownBox> AnswerNextMessageBox() {
  auto shown = std::make_shared<TShownBox>();
  QTimer::singleShot(0, [shown] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    *shown = {box->windowTitle(), box->text(), box->icon(), box->buttons().size()};
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) return ok->click();
    box->reject();
  });
  return shown;
}

qsizetype CountPixels(QWidget& widget, QRect area, const std::function<bool(QRgb)>& test) {
  const QImage image = widget.grab().toImage();
  const qreal scale = image.devicePixelRatio();
  const QRect device(area.topLeft() * scale, area.size() * scale);
  qsizetype count = 0;
  for (int y = device.top(); y <= device.bottom(); ++y) {
    for (int x = device.left(); x <= device.right(); ++x)
      count += test(image.pixel(x, y)) ? 1 : 0;
  }
  return count;
}

// A shown, active dialog with the edit and a default button to move the focus to.
class IntEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    edit_ = new TIntEdit(&dialog_);
    button_ = new QPushButton(QStringLiteral("OK"), &dialog_);
    button_->setDefault(true);
    QObject::connect(button_, &QPushButton::clicked, [this] { ++defaultClicks_; });
    auto* layout = new QVBoxLayout(&dialog_);
    layout->addWidget(edit_);
    layout->addWidget(button_);
    dialog_.show();
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
    edit_->setFocus(Qt::OtherFocusReason);
    QGuiApplication::clipboard()->clear();
  }

  void SetRange(qint32 minValue, qint32 maxValue, qint32 value) {
    edit_->SetMinValue(kMin32);
    edit_->SetMaxValue(maxValue);
    edit_->SetMinValue(minValue);
    edit_->SetValue(value);
  }

  QString AfterKey(qint32 value, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    edit_->SetValue(value);
    QTest::keyClick(edit_, key, modifiers);
    return edit_->text();
  }

  void TypeAndLeave(const QString& typed) {
    edit_->setFocus(Qt::OtherFocusReason);
    edit_->selectAll();
    QTest::keyClicks(edit_, typed);
    QTest::keyClick(edit_, Qt::Key_Tab);
  }

  // Turns the wheel over the edit by `delta` (120 a notch, up positive); whether the edit took
  // the turn.
  bool TurnWheel(int delta, Qt::KeyboardModifiers modifiers = {}) {
    const QPointF inside(4, edit_->height() / 2);
    QWheelEvent wheel(inside, edit_->mapToGlobal(inside), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(edit_, &wheel);
    return wheel.isAccepted();
  }

  QString AfterWheel(int delta, Qt::KeyboardModifiers modifiers = {}) {
    TurnWheel(delta, modifiers);
    return edit_->text();
  }

  QMenu* OpenContextMenu() {
    const QPoint inside(4, edit_->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, inside, edit_->mapToGlobal(inside));
    QApplication::sendEvent(edit_, &event);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  }

  // The text after each enabled action of the context menu, each run on "12" all selected
  // with "34" on the clipboard.
  std::vector<QString> TextAfterEachMenuAction() {
    std::vector<QString> texts;
    for (qsizetype i = 0;; ++i) {
      edit_->setText(QStringLiteral("12"));
      edit_->selectAll();
      QGuiApplication::clipboard()->setText(QStringLiteral("34"));
      QMenu* menu = OpenContextMenu();
      if (!menu) return texts;
      const QList<QAction*> actions = menu->actions();
      if (i < actions.size() && actions[i]->isEnabled()) actions[i]->trigger();
      menu->close();
      if (i >= actions.size()) return texts;
      texts.push_back(edit_->text());
    }
  }

  QDialog dialog_;
  TIntEdit* edit_ = nullptr;
  QPushButton* button_ = nullptr;
  int defaultClicks_ = 0;
};

TEST_F(IntEditTest, StepsTakeOverTheTextAndAreClampedWithoutOverflow) {
  SetRange(6, 36, 30);
  EXPECT_EQ(AfterKey(30, Qt::Key_PageUp), "36");
  EXPECT_EQ(AfterKey(30, Qt::Key_Up, Qt::ControlModifier), "36");
  EXPECT_EQ(AfterKey(30, Qt::Key_Up), "31");
  EXPECT_EQ(AfterKey(6, Qt::Key_Down), "6");
  edit_->selectAll();
  QTest::keyClicks(edit_, "20");
  QTest::keyClick(edit_, Qt::Key_PageDown);
  EXPECT_EQ(edit_->text(), "10");

  SetRange(kMin32, kMax32, 0);
  edit_->SetIncrement(kMax32);
  EXPECT_EQ(AfterKey(kMax32 - 1, Qt::Key_PageUp, Qt::ControlModifier).toInt(), kMax32);
  EXPECT_EQ(AfterKey(kMin32 + 1, Qt::Key_PageDown, Qt::ControlModifier).toInt(), kMin32);

  SetRange(0, 100, 50);
  edit_->SetMinValue(150);  // never above the upper bound
  EXPECT_EQ(edit_->MinValue(), 100);
  EXPECT_EQ(edit_->text(), "100");
}

// As a spin box, the wheel steps the edit under the pointer whether or not it has the focus.
TEST_F(IntEditTest, TheWheelStepsOncePerNotchAndTenTimesWithCtrlWithinTheRange) {
  SetRange(6, 36, 20);
  button_->setFocus(Qt::OtherFocusReason);
  EXPECT_EQ(AfterWheel(120), "21");
  EXPECT_EQ(AfterWheel(-240), "19");
  EXPECT_EQ(AfterWheel(120, Qt::ControlModifier), "29");
  EXPECT_EQ(AfterWheel(120, Qt::ControlModifier), "36");
  EXPECT_EQ(AfterWheel(120), "36");
  EXPECT_EQ(AfterWheel(-120 * 40), "6");
  edit_->selectAll();
  QTest::keyClicks(edit_, "30");  // typed text is taken over as by the arrow keys
  EXPECT_EQ(AfterWheel(-120), "29");
}

TEST_F(IntEditTest, PartsOfANotchAddUpUntilTheWheelTurnsBack) {
  SetRange(0, 100, 50);
  for (int part = 0; part < 3; ++part)
    EXPECT_EQ(AfterWheel(30), "50");
  EXPECT_EQ(AfterWheel(30), "51");
  EXPECT_EQ(AfterWheel(90), "51");
  EXPECT_EQ(AfterWheel(-90), "51");  // the 90 up are dropped, not set against these
  EXPECT_EQ(AfterWheel(-30), "50");
}

TEST_F(IntEditTest, AReadOnlyOrDisabledEditLeavesTheWheelToWhatLiesBeneath) {
  SetRange(0, 100, 50);
  edit_->setReadOnly(true);
  EXPECT_FALSE(TurnWheel(120));
  EXPECT_EQ(edit_->text(), "50");
  edit_->setReadOnly(false);
  edit_->setEnabled(false);  // Qt passes the turn on to the parent by itself
  TurnWheel(120);
  EXPECT_EQ(edit_->text(), "50");
}

TEST_F(IntEditTest, SelectAllUndoAndRedoKeysWorkAsInAnyLineEdit) {
  SetRange(0, 100, 20);
  edit_->end(false);
  QTest::keyClick(edit_, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(edit_->selectedText(), "20");
  QTest::keyClicks(edit_, "57");
  QTest::keyClick(edit_, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "20");
  QTest::keyClick(edit_, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit_->text(), "57");
}

TEST_F(IntEditTest, LeavingByKeyboardCorrectsTheEntryAndComingBackSelectsIt) {
  const struct {
    qint32 minValue, maxValue;
    const char *typed, *shown;
  } cases[] = {
      {0, 65535, "70000", "65535"}, {-660, 780, "-", "0"}, {-660, 780, "12-5", "12"},
      {-660, 780, "-700", "-660"},  {6, 36, "", "6"},
  };
  for (const auto& c : cases) {
    SetRange(c.minValue, c.maxValue, c.minValue);
    TypeAndLeave(QString::fromLatin1(c.typed));
    EXPECT_EQ(edit_->text(), c.shown) << c.typed;
    ASSERT_TRUE(button_->hasFocus()) << c.typed;
    QTest::keyClick(button_, Qt::Key_Backtab);
    EXPECT_EQ(edit_->selectedText(), c.shown) << c.typed;
  }
}

TEST_F(IntEditTest, PastedTextIsTakenAsItIsAndCorrectedOnLeaving) {
  SetRange(6, 36, 20);
  QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
  edit_->selectAll();
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit_->Value(), 0);
  QMenu* menu = OpenContextMenu();  // a popup taking the focus is no leaving
  ASSERT_TRUE(menu);
  menu->close();
  EXPECT_EQ(edit_->text(), "abc");
  QTest::keyClick(edit_, Qt::Key_Tab);
  EXPECT_EQ(edit_->text(), "6");
}

TEST_F(IntEditTest, OnlyDigitsAndMinusAreTyped) {
  edit_->clear();
  QTest::keyClicks(edit_, "1a2B+-3 .");
  QTest::keyClick(edit_, Qt::Key_A, Qt::AltModifier);
  QTest::keyClick(edit_, Qt::Key_Home);
  QTest::keyClick(edit_, Qt::Key_Delete);
  QTest::keyClick(edit_, Qt::Key_End);
  QTest::keyClick(edit_, Qt::Key_Backspace);
  QInputMethodEvent composed;
  composed.setCommitString(QStringLiteral("é"));
  QApplication::sendEvent(edit_, &composed);
  EXPECT_EQ(edit_->text(), "2-");

  edit_->selectAll();
  QTest::keyClick(edit_, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "2-");
  EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
  QTest::keyClick(edit_, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "2-");
}

TEST_F(IntEditTest, EnterValidatesAndEscapeStillReachesTheDialog) {
  SetRange(0, 65535, 0);
  edit_->selectAll();
  QTest::keyClicks(edit_, "70000");
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(edit_->text(), "65535");
  edit_->selectAll();
  QTest::keyClicks(edit_, "-");
  QTest::keyClick(edit_, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(edit_->text(), "0");
  EXPECT_EQ(defaultClicks_, 0);
  EXPECT_TRUE(edit_->hasFocus());
  QTest::keyClick(edit_, Qt::Key_Escape);
  EXPECT_FALSE(dialog_.isVisible());
}

TEST_F(IntEditTest, RefusedEntryShowsTheRangeMessageAndKeepsTheFocus) {
  edit_->SetAutoCorrect(false);
  edit_->SetShowName(QStringLiteral("Jas"));
  SetRange(6, 36, 20);
  const std::shared_ptr<TShownBox> shown = AnswerNextMessageBox();
  TypeAndLeave(QStringLiteral("50"));
  EXPECT_EQ(shown->text, QStringLiteral("Jas musí být v rozmezí od 6 do 36!"));
  EXPECT_EQ(shown->icon, QMessageBox::Question);
  EXPECT_EQ(shown->buttons, 1);
  EXPECT_EQ(shown->title, QGuiApplication::applicationDisplayName());
  EXPECT_EQ(dialog_.focusWidget(), edit_);
  dialog_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  EXPECT_TRUE(edit_->hasFocus());
  EXPECT_EQ(edit_->selectedText(), "50");
}

TEST_F(IntEditTest, PasteAndCutAreRefusedUnlessEditingIsAllowed) {
  const std::vector<QString> allowed = TextAfterEachMenuAction();
  EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(), [](auto& text) { return text != "12"; }));
  const std::function<void(bool)> refusals[] = {
      [this](bool on) { edit_->SetEditorEnabled(!on); },
      [this](bool on) { edit_->setReadOnly(on); },
  };
  for (const auto& refuse : refusals) {
    refuse(true);
    for (const QString& text : TextAfterEachMenuAction())
      EXPECT_EQ(text, "12");
    QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit_, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(edit_, Qt::Key_Delete, Qt::ShiftModifier);
    QMimeData dropped;
    dropped.setText(QStringLiteral("56"));
    QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit_, &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit_, &drop);
    EXPECT_EQ(edit_->text(), "12");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "34");
    refuse(false);
  }
}

TEST_F(IntEditTest, ArrowsStepOnceAndHandTheFocusToTheEditUnlessReadOnly) {
  auto* up = edit_->findChild<QToolButton*>("up");
  auto* down = edit_->findChild<QToolButton*>("down");
  ASSERT_TRUE(up && down);
  button_->setFocus(Qt::OtherFocusReason);
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(edit_->text(), "1");
  EXPECT_TRUE(edit_->hasFocus());
  EXPECT_FALSE(edit_->hasSelectedText());
  QTest::mouseClick(down, Qt::LeftButton);
  QTest::mouseClick(up, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "10");

  edit_->setReadOnly(true);
  EXPECT_FALSE(up->isEnabled());
  QTest::keyClick(edit_, Qt::Key_Up);
  EXPECT_EQ(edit_->text(), "10");
  edit_->setReadOnly(false);
  EXPECT_TRUE(up->isEnabled());
  edit_->setEnabled(false);
  EXPECT_FALSE(up->isEnabled());
}

TEST_F(IntEditTest, TextStopsShortOfTheArrowsAtAnyHeight) {
  edit_->setText(QStringLiteral("-8888888888888888"));
  QPalette red = edit_->palette();
  red.setColor(QPalette::Text, Qt::red);
  edit_->setPalette(red);
  edit_->setFixedWidth(60);
  auto isRed = [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100; };
  for (int height : {22, 40}) {
    edit_->setFixedHeight(height);
    QApplication::processEvents();
    const QWidget* arrows = edit_->findChild<QToolButton*>("up")->parentWidget();
    EXPECT_TRUE(edit_->rect().contains(arrows->geometry())) << height;
    EXPECT_EQ(arrows->height(), height - 2);
    EXPECT_GE(arrows->width(), (height - 2) / 2);
    edit_->home(false);
    const int gapLeft = arrows->x() - 2;
    EXPECT_GT(CountPixels(*edit_, QRect(0, 0, gapLeft, height), isRed), 0) << height;
    EXPECT_EQ(CountPixels(*edit_, QRect(gapLeft, 0, 60 - gapLeft, height), isRed), 0) << height;
  }
}

// Made without a parent (a default size of 640 x 480), the edit still asks for the room of one
// row: its arrows are sized for the height it will get, not for its first default size.
TEST(IntEditSize, AParentlessEditAsksForTheWidthOfAnEditWithArrows) {
  TIntEdit edit;
  const QLineEdit plain;
  EXPECT_LT(edit.sizeHint().width(), plain.sizeHint().width() + plain.sizeHint().height());
}

}  // namespace
}  // namespace zorvid
