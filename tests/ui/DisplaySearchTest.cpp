// The search for displays, against the simulator: the table fills as they are found, a stop
// ends the search at once, and a display double-clicked or entered fills the connection dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/Patience.h"
#include "tests/support/SimProcess.h"
#include "transport/Transports.h"
#include "ui/ConnectionDialog.h"
#include "ui/DisplaySearch.h"

namespace zorvid {
namespace {

using test::kPatienceMs;
using test::TSimProcess;

class DisplaySearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterStandardTransports(); }
  static void TearDownTestSuite() { UnregisterStandardTransports(); }
};

std::vector<QString> Column(const QTableWidget& table, int column) {
  std::vector<QString> texts;
  for (int row = 0; row < table.rowCount(); ++row)
    texts.push_back(table.item(row, column)->text());
  return texts;
}

TEST_F(DisplaySearchTest, EveryDisplayOnTheLineAppearsAsItIsFound) {
  TSimProcess sim({"--display", "0x42,second", "--display", "0x44,third"});
  TfDisplaySearch search(sim.Connection(), nullptr, 0x30, 0x45);
  auto* table = search.findChild<QTableWidget*>("tblFound");
  QSignalSpy finished(&search, &TfDisplaySearch::searchFinished);
  int rowsWhileSearching = 0;
  QObject::connect(table->model(), &QAbstractItemModel::rowsInserted, &search, [&] {
    if (search.IsSearching()) ++rowsWhileSearching;
  });
  search.Start();
  ASSERT_TRUE(finished.wait(kPatienceMs));
  EXPECT_EQ(Column(*table, 0), (std::vector<QString>{"'B'  66 0x42", "'D'  68 0x44"}));
  EXPECT_EQ(Column(*table, 2), (std::vector<QString>{"second", "third"}));
  EXPECT_EQ(rowsWhileSearching, 2) << "each row came while the search went on";
}

// The display at 0x31 is found a fifth into the range; a search that went on after "Zastavit"
// would ask every address after it.
TEST_F(DisplaySearchTest, StopEndsTheSearchBeforeTheRestOfTheAddresses) {
  TSimProcess sim;
  TfDisplaySearch search(sim.Connection());
  QSignalSpy finished(&search, &TfDisplaySearch::searchFinished);
  search.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !search.Found().empty(); }, kPatienceMs));
  search.findChild<QPushButton*>("btnStop")->click();
  ASSERT_TRUE(finished.wait(kPatienceMs));
  EXPECT_FALSE(search.IsSearching());
  const auto* progress = search.findChild<QProgressBar*>("pbSearch");
  EXPECT_LT(progress->value(), progress->maximum() / 2) << "the search went on";
  EXPECT_TRUE(search.findChild<QLabel*>("lblSearch")
                  ->text()
                  .startsWith(QString::fromUtf8("Hledání zastaveno")));
}

TEST_F(DisplaySearchTest, ADisplayDoubleClickedOrEnteredIsChosenAndSetsTheConnectionDialog) {
  TSimProcess sim({"--address", "0x42"});
  TfDisplaySearch search(sim.Connection());
  search.setAttribute(Qt::WA_DontShowOnScreen);
  search.show();
  search.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !search.Found().empty(); }, kPatienceMs));
  auto* table = search.findChild<QTableWidget*>("tblFound");
  QCoreApplication::processEvents();  // the table lays out its new row
  const QPoint cell = table->visualItemRect(table->item(0, 0)).center();
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
  ASSERT_TRUE(search.Chosen().has_value());
  EXPECT_EQ(search.result(), QDialog::Accepted);
  EXPECT_EQ(search.Chosen()->address, 0x42);

  // By keyboard: Enter on the display, not on the default button, which would search again.
  TfDisplaySearch byKeys(sim.Connection(), nullptr, 0x40, 0x43);
  byKeys.setAttribute(Qt::WA_DontShowOnScreen);
  byKeys.show();
  QSignalSpy finished(&byKeys, &TfDisplaySearch::searchFinished);
  byKeys.Start();
  ASSERT_TRUE(finished.wait(kPatienceMs));
  auto* found = byKeys.findChild<QTableWidget*>("tblFound");
  found->setFocus();
  QTest::keyClick(found, Qt::Key_Down);
  QTest::keyClick(found, Qt::Key_Return);
  ASSERT_TRUE(byKeys.Chosen().has_value());
  EXPECT_EQ(byKeys.Chosen()->address, 0x42);
  EXPECT_EQ(byKeys.result(), QDialog::Accepted);
  EXPECT_FALSE(byKeys.IsSearching());

  TfConnectionDialog dialog;
  dialog.Load("provider=SERIAL_PORT;comport=1;baudrate=9600", 0x31);
  dialog.ApplyFoundDisplay({0x42, 19200, "ident"});
  EXPECT_EQ(dialog.findChild<QComboBox*>("cbbADR")->currentIndex(), 0x42);
  EXPECT_EQ(dialog.BuildConnectionString(), "provider=SERIAL_PORT;comport=1;baudrate=19200");
}

// The simulator ends in the middle of a search: the search ends saying why, in full, and the
// window keeps its width however long the connection string is.
TEST_F(DisplaySearchTest, ALineThatClosesEndsTheSearchSayingWhyWithoutWideningTheWindow) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const std::string link = directory.filePath("a-long-name-for-the-display-line").toStdString();
  test::TSimPty sim({}, link);
  TfDisplaySearch search(sim.Connection() + ";baudrate=9600");
  search.setAttribute(Qt::WA_DontShowOnScreen);
  search.show();
  const int width = search.width();
  QSignalSpy finished(&search, &TfDisplaySearch::searchFinished);
  search.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !search.Found().empty(); }, kPatienceMs));
  sim.Stop();
  ASSERT_TRUE(finished.wait(kPatienceMs));
  const auto* said = search.findChild<QLabel*>("lblSearch");
  EXPECT_TRUE(said->text().contains(QString::fromStdString(link) + ";baudrate=9600\" at 9600 Bd "
                                                                   "closed"))
      << said->text().toStdString();
  EXPECT_EQ(said->toolTip(), said->text());
  QCoreApplication::processEvents();
  EXPECT_EQ(search.width(), width);
  EXPECT_LE(search.sizeHint().width(), width);
}

// The speeds are numbers, without a key each: the key of their group leads to the first.
TEST(DisplaySearchKeys, TheSpeedsGroupsKeyLeadsToTheFirstSpeed) {
  TfDisplaySearch search("provider=SERIAL_PORT;comport=1");
  search.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&search));
  auto* table = search.findChild<QTableWidget*>("tblFound");
  table->setFocus();
  QTest::keyClick(table, Qt::Key_R, Qt::AltModifier);
  ASSERT_NE(search.focusWidget(), nullptr);
  EXPECT_EQ(search.focusWidget()->objectName().toStdString(), "chbBaud110");
}

}  // namespace
}  // namespace zorvid
