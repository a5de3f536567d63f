// The application shell: the general error report, the message hook and EnableControls.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <stdexcept>
#include <thread>

#include "core/MessageHook.h"
#include "tests/support/ModalWindows.h"
#include "ui/Application.h"
#include "ui/EnDis.h"

namespace zorvid {
namespace {

using test::WaitForTopLevel;

QMessageBox* OpenBox() {
  return WaitForTopLevel<QMessageBox>(std::chrono::milliseconds(0));
}

void CloseAllBoxes() {
  while (QMessageBox* box = OpenBox()) {
    box->close();
    QCoreApplication::processEvents();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class ApplicationShell : public ::testing::Test {
 protected:
  void TearDown() override { CloseAllBoxes(); }
};

TEST_F(ApplicationShell, AnErrorInAHandlerIsReportedAndTheProgramGoesOn) {
  QWidget window;
  auto* failing = new QPushButton("Načíst", &window);
  auto* working = new QPushButton("Uložit", &window);
  working->move(0, 40);
  int failures = 0;
  int clicks = 0;
  QObject::connect(failing, &QPushButton::clicked, GuardedSlot([&failures] {
                     ++failures;
                     throw std::runtime_error("Zařízení 0x31 neodpovídá");
                   }));
  QObject::connect(working, &QPushButton::clicked, GuardedSlot([&clicks](bool checked) {
                     EXPECT_FALSE(checked);
                     ++clicks;
                   }));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  QTest::mouseClick(failing, Qt::LeftButton);
  QMessageBox* box = WaitForTopLevel<QMessageBox>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QString::fromUtf8("Zařízení 0x31 neodpovídá"));
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Zorvid-L"))
      << "the program's name, as its menu entry";
  EXPECT_EQ(failures, 1);

  // A second error while the first report is open is written out, not stacked; this one
  // escapes a timer and is caught where Qt delivers the event.
  testing::internal::CaptureStderr();
  QTimer::singleShot(0, [] { throw std::runtime_error("Časovač: zařízení neodpovídá"); });
  test::ProcessEventsFor(std::chrono::milliseconds(20));
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_NE(written.find("neodpovídá"), std::string::npos);
  EXPECT_EQ(QApplication::topLevelWidgets().count(box), 1);
  CloseAllBoxes();

  QTest::mouseClick(working, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  QTest::mouseClick(failing, Qt::LeftButton);
  EXPECT_NE(WaitForTopLevel<QMessageBox>(), nullptr) << "the report must work again once closed";
}

TEST_F(ApplicationShell, AMessageFromAWorkerThreadIsShownOnTheUserInterfaceThreadWithoutWaiting) {
  std::thread worker([] { ShowMessage("SIG stack overload"); });
  worker.join();  // returned before the user-interface thread even looked
  EXPECT_EQ(OpenBox(), nullptr);

  QMessageBox* box = WaitForTopLevel<QMessageBox>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "SIG stack overload");
  EXPECT_EQ(box->thread(), QApplication::instance()->thread());
}

TEST_F(ApplicationShell, AMessageOnTheUserInterfaceThreadOpensWithoutANestedEventLoop) {
  bool timerRan = false;
  QTimer::singleShot(0, [&timerRan] { timerRan = true; });
  ShowMessage("TKorvelStackDevice.DoPacketReceive e1");
  EXPECT_FALSE(timerRan) << "a nested event loop ran while the caller holds its locks";
  QMessageBox* box = OpenBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "TKorvelStackDevice.DoPacketReceive e1");
}

// Records the order in which widgets learn that their enabled state changed.
class TEnabledChanges : public QObject {
 public:
  void Watch(QWidget* widget) { widget->installEventFilter(this); }
  QStringList order;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange && !order.contains(watched->objectName()))
      order << watched->objectName();
    return false;
  }
};

QWidget* NewNamed(const char* name, QWidget* parent) {
  auto* widget = new QWidget(parent);
  widget->setObjectName(name);
  return widget;
}

TEST(EnableControls, RecursiveSetsChildrenBeforeTheirParentAndSkipsMissingItems) {
  QWidget page;
  page.setObjectName("page");
  QWidget* group = NewNamed("group", &page);
  QWidget* edit = NewNamed("edit", group);
  QWidget* button = NewNamed("button", &page);
  QWidget other;
  other.setObjectName("other");
  TEnabledChanges changes;
  for (QWidget* widget : {&page, group, edit, button, &other})
    changes.Watch(widget);

  EnableControls({&page, nullptr, &other}, false, true);
  EXPECT_EQ(changes.order, QStringList({"edit", "group", "button", "page", "other"}));
  for (QWidget* widget : {group, edit, button})
    EXPECT_TRUE(widget->testAttribute(Qt::WA_ForceDisabled)) << widget->objectName().toStdString();

  EnableControls({&page}, true, true);
  EXPECT_TRUE(edit->isEnabled());
}

TEST(EnableControls, NotRecursiveLeavesTheChildrenTheirOwnState) {
  QWidget page;
  QWidget* edit = NewNamed("edit", &page);
  EnableControls({&page}, false, false);
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_FALSE(edit->testAttribute(Qt::WA_ForceDisabled));
  EnableControls({&page}, true, false);
  EXPECT_TRUE(edit->isEnabled());
}

}  // namespace
}  // namespace zorvid
