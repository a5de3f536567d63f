// The communication log window, fed through the sink it installs as the data spy feeds it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "core/HexText.h"
#include "protocol/Korvel97.h"
#include "tests/support/ModalWindows.h"
#include "tests/support/Patience.h"
#include "transport/TCPClientInterface.h"
#include "ui/CiLog.h"

namespace zorvid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// A request for instruction F3 to the device at address 0x31.
const TByteString kRequestF3("\x2A\x61\x00\x05\x31\x01\xF3\x4A\x0D", 9);

TByteString Request(TByte instruction, TByte sig = 0x01) {
  return BuildPacket97(0x31, sig, instruction, "");
}
TByteString Answer(TByte acknowledge, TByte sig = 0x01) {
  return BuildPacket97(0x31, sig, acknowledge, "\x07");
}
std::string Hex(const TByteString& packet) {
  return FormatHexSpaced(packet);
}

std::string ColourName(const QColor& colour) {
  static const std::map<QRgb, std::string> names = {
      {qRgb(0, 128, 0), "green"},    {qRgb(0, 0, 255), "blue"},      {qRgb(255, 0, 0), "red"},
      {qRgb(255, 128, 0), "orange"}, {qRgb(255, 0, 255), "fuchsia"}, {qRgb(0, 0, 0), "black"}};
  const auto found = names.find(colour.rgb());
  return found == names.end() ? colour.name().toStdString() : found->second;
}

// Each line of the log as its colour and the text after the time prefix.
std::vector<std::string> Lines(const TLogModel& model) {
  std::vector<std::string> lines;
  for (int row = 0; row < model.rowCount(); ++row) {
    const QModelIndex index = model.index(row);
    lines.push_back(ColourName(model.data(index, Qt::ForegroundRole).value<QColor>()) + " " +
                    model.data(index, TLogModel::kTextRole).toString().toStdString());
  }
  return lines;
}

std::vector<std::string> Green(std::initializer_list<TByteString> packets) {
  std::vector<std::string> lines;
  for (const TByteString& packet : packets)
    lines.push_back("green " + Hex(packet));
  return lines;
}

class CiLog : public ::testing::Test {
 protected:
  void SetUp() override {
    // Shown without a window on the screen: painting a window of this size makes Qt fill it on
    // its own pool threads, which the thread sanitizer cannot see synchronised.
    window->setAttribute(Qt::WA_DontShowOnScreen);
    window->ShowLog(QString());
    ASSERT_NE(log, nullptr);
  }
  template <class TChild>
  TChild* Child(const char* name) {
    return window->findChild<TChild*>(name);
  }
  void Send(const TByteString& bytes, const TCiRef& from) { SpyTraffic(from, bytes, kSpySent); }
  void Send(const TByteString& bytes) { Send(bytes, line); }
  void Receive(const TByteString& bytes) { SpyTraffic(line, bytes, kSpyReceived); }
  void Tick() { window->Timer1Timer(); }
  void Click(const char* button) { Child<QPushButton>(button)->click(); }
  // Feeds `count` numbered requests (the number in the SIG and the data) and ticks.
  void Feed(int from, int count) {
    for (int i = from; i < from + count; ++i)
      Send(BuildPacket97(0x31, static_cast<TByte>(i), 0x31,
                         TByteString{static_cast<char>(i >> 16), static_cast<char>(i >> 8),
                                     static_cast<char>(i)}));
    Tick();
  }
  // The number of the line at the top of the view; -1 when none is.
  int FirstShownNumber() const {
    QCoreApplication::processEvents();  // the view lays its rows out when the loop runs
    const QModelIndex top = log->indexAt(QPoint(4, 4));
    if (!top.isValid()) return -1;
    const TByteString& bytes = model.Entry(top.row()).record.bytes;
    return ByteAt(bytes, 7) << 16 | ByteAt(bytes, 8) << 8 | ByteAt(bytes, 9);
  }
  // Shortcuts reach only the active window, and only a window on the screen is active.
  void Activate() {
    window->hide();
    window->setAttribute(Qt::WA_DontShowOnScreen, false);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 2000));
  }

  TRef<TTCPClientInterface> line = New<TTCPClientInterface>();
  std::unique_ptr<TfCiLog> window = std::make_unique<TfCiLog>();
  QListView* log = Child<QListView>("reLog");
  TLogModel& model = window->Model();
};

TEST_F(CiLog, PacketsShowColouredByDirectionAndAcknowledgeAfterTheTime) {
  const QString before = QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss] ");
  Send(kRequestF3);
  Receive(Answer(0));
  Receive(Answer(2));
  Tick();
  const QString after = QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss] ");

  EXPECT_THAT(Lines(model), ElementsAre("green 2A 61 00 05 31 01 F3 4A 0D",
                                        "blue " + Hex(Answer(0)), "red " + Hex(Answer(2))));
  const QString prefix = model.data(model.index(0), TLogModel::kPrefixRole).toString();
  EXPECT_TRUE(
      QRegularExpression(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] $)").match(prefix).hasMatch())
      << prefix.toStdString();
  EXPECT_TRUE(before <= prefix && prefix <= after) << prefix.toStdString();

  // Milliseconds only when chosen; the exports always carry them.
  Child<QAction>("miMilliseconds")->trigger();
  EXPECT_TRUE(QRegularExpression(R"(^\[[-0-9]{10} [:0-9]{8}\.\d{3}\] 2A 61)")
                  .match(model.data(model.index(0), Qt::DisplayRole).toString())
                  .hasMatch());
}

// One stray byte in front of an answer once stalled the log for good.
TEST_F(CiLog, GarbageIsOneRawLineAndEveryPacketAfterItIsShown) {
  const TByteString first = Answer(0, 1), second = Answer(0, 2), third = Answer(0, 3);
  Receive("\x55");
  Receive(first);
  Tick();
  EXPECT_THAT(Lines(model), ElementsAre("fuchsia U", "blue " + Hex(first)));

  // Between packets, and a packet's bytes split over ticks around the garbage.
  model.Clear();
  Receive(first + TByteString("\xFF\x00", 2) + second.substr(0, 4));
  Tick();
  Receive(second.substr(4) + "xyz");
  Tick();
  Receive(third);
  Tick();
  EXPECT_THAT(Lines(model),
              ElementsAre("blue " + Hex(first), "fuchsia \xC3\xBF<00>", "blue " + Hex(second),
                          "fuchsia xyz", "blue " + Hex(third)));

  // Inside a packet: the broken packet and the garbage in it are one raw line; a packet with a
  // bad checksum is no packet either.
  model.Clear();
  TByteString broken = first;
  broken.insert(7, "!!");
  TByteString badChecksum = second;
  badChecksum[badChecksum.size() - 2] ^= 0x01;
  Receive(broken + third);
  Receive(badChecksum + first);
  Tick();
  const std::vector<std::string> lines = Lines(model);
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0].substr(0, 8), "fuchsia ");
  EXPECT_EQ(lines[1], "blue " + Hex(third));
  EXPECT_EQ(lines[2].substr(0, 8), "fuchsia ");
  EXPECT_EQ(lines[3], "blue " + Hex(first));
  EXPECT_EQ(model.data(model.index(2), Qt::ToolTipRole).toString(),
            "Damaged packet: bad checksum (received)");
}

TEST_F(CiLog, TheWaitingReceivedBytesAreBoundedLikeTheStacks) {
  TLogCutter cutter;
  const TLogTime now = std::chrono::system_clock::now();
  // A false start whose length never completes keeps everything after it waiting.
  const TByteString start("*a\xFF\xFF", 4);
  cutter.Cut({{start, now, TTrafficDirection::kFromDisplay}}, QString());
  for (int i = 0; i < 100; ++i)
    cutter.Cut({{TByteString(0x4000, 'z'), now, TTrafficDirection::kFromDisplay}}, QString());
  EXPECT_LE(cutter.WaitingBytes(), TReceiveBuffer::kLimit);
}

TEST_F(CiLog, AHiddenRequestHidesItsAnswerWheneverItComesAndNothingElse) {
  auto* disabled = Child<QLineEdit>("edtDisabledInst");
  EXPECT_EQ(disabled->text(), "Disabled Inst");
  disabled->setText("81");
  // The display never answers 0x81; the temperature requests and their answers stay.
  Send(Request(0x81, 1));
  Send(Request(0x51, 2));
  Receive(Answer(0, 2));
  Send(Request(0x81, 3));
  Send(Request(0x51, 4));
  Receive(Answer(0, 4));
  Tick();
  EXPECT_THAT(Lines(model),
              ElementsAre("green " + Hex(Request(0x51, 2)), "blue " + Hex(Answer(0, 2)),
                          "green " + Hex(Request(0x51, 4)), "blue " + Hex(Answer(0, 4))));
  // A late answer to a hidden request is hidden, whatever came in between.
  Receive(Answer(0, 3));
  Receive(Answer(0, 1));
  Tick();
  EXPECT_EQ(model.rowCount(), 4);
  // An answer without a request, and unsolicited packets unless their code is hidden.
  disabled->setText("0E");
  Receive(Answer(0, 9));
  Receive(Answer(0x0E, 9));
  Receive(Answer(0x0D, 9));
  Tick();
  EXPECT_THAT(Lines(model), ::testing::ElementsAreArray(
                                {"green " + Hex(Request(0x51, 2)), "blue " + Hex(Answer(0, 2)),
                                 "green " + Hex(Request(0x51, 4)), "blue " + Hex(Answer(0, 4)),
                                 "blue " + Hex(Answer(0, 9)), "red " + Hex(Answer(0x0D, 9))}));

  // The codes are found anywhere in the text; lower case matches no code with letters.
  for (const char* text : {"81 51", "8151", "x81,51"}) {
    Click("btnClear");
    disabled->setText(text);
    for (TByte code : {0x81, 0x51, 0x31}) {
      Send(Request(code, code));
      Receive(Answer(0, code));
    }
    Tick();
    EXPECT_THAT(Lines(model),
                ElementsAre("green " + Hex(Request(0x31, 0x31)), "blue " + Hex(Answer(0, 0x31))))
        << text;
  }
  Click("btnClear");
  disabled->setText("f3");
  Send(kRequestF3);
  Tick();
  EXPECT_EQ(Lines(model), Green({kRequestF3}));
}

TEST_F(CiLog, AnAnswersTooltipDecodesItWithItsRequestAndTheTimeBetween) {
  const TLogTime start = std::chrono::system_clock::now();
  const std::vector<TLogEntry> entries = TLogCutter().Cut(
      {{BuildPacket97(0x31, 7, 0x51, "\x01"), start, TTrafficDirection::kToDisplay},
       {BuildPacket97(0x31, 7, 0x00, TByteString("\x01\x00\xD7", 3)), start + 12ms,
        TTrafficDirection::kFromDisplay}},
      QString());
  ASSERT_EQ(entries.size(), 2u);
  model.Append(entries);
  const QString request = model.data(model.index(0), Qt::ToolTipRole).toString();
  const QString answer = model.data(model.index(1), Qt::ToolTipRole).toString();
  EXPECT_TRUE(request.startsWith("Request to 0x31, SIG 0x07\nGetTemperature (0x51)"))
      << request.toStdString();
  EXPECT_TRUE(
      answer.startsWith("Answer to GetTemperature from 0x31, SIG 0x07, 12.0 ms after its "
                        "request\nOK (0x00)"))
      << answer.toStdString();
  EXPECT_TRUE(answer.contains("21.5")) << answer.toStdString();
}

TEST_F(CiLog, AReceivedPacketInPiecesIsOneLineAtTheTickOfItsLastPieceWithItsTime) {
  const TByteString answer = Answer(0);
  const std::vector<TByteString> pieces = {answer.substr(0, 3), answer.substr(3, 4),
                                           answer.substr(7)};
  for (const TByteString& piece : pieces) {
    EXPECT_THAT(Lines(model), IsEmpty());
    Receive(piece);
    Tick();
  }
  EXPECT_THAT(Lines(model), ElementsAre("blue " + Hex(answer)));

  const TLogTime start = std::chrono::system_clock::now();
  std::vector<TLogStruct> items;
  for (const TByteString& piece : pieces)
    items.push_back({piece, start + items.size() * 1s, TTrafficDirection::kFromDisplay});
  const std::vector<TLogEntry> entries = TLogCutter().Cut(items, QString());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].record.time, start + 2s);
}

TEST_F(CiLog, SentBytesThatStartNoPacketShowRawAfterTheWaitingReceivedBytes) {
  Send("\x41\x54");
  Tick();
  EXPECT_THAT(Lines(model), ElementsAre("orange AT"));
  Send("AT");
  Send("AT");
  Tick();
  EXPECT_THAT(Lines(model), ElementsAre("orange AT", "orange AT", "orange AT")) << "as written";
  model.Clear();
  Send("AT");
  Tick();

  Receive(TByteString("*a\x00", 3));
  Send(kRequestF3 + "AT\r");
  Tick();
  EXPECT_THAT(Lines(model), ElementsAre("orange AT", "green " + Hex(kRequestF3),
                                        std::string("fuchsia *a<00>"), "orange AT<0D>"));
}

TEST_F(CiLog, OnlyTheVisibleWindowLogsAndOnlyTheChosenLine) {
  window->hide();
  Send(Request(0x01));
  window->ShowLog(QString());
  Send(Request(0x02));
  Tick();
  EXPECT_EQ(Lines(model), Green({Request(0x02)}));

  const TRef<TTCPClientInterface> other = New<TTCPClientInterface>();
  window->ShowLog(QString::fromStdString(other->GetGUIDString()));
  Send(Request(0x03));
  Send(Request(0x04), other);
  Tick();
  EXPECT_EQ(Lines(model), Green({Request(0x02), Request(0x04)}));
}

TEST_F(CiLog, ClearDuringAPauseThenReleasingItWritesTheBufferedLinesIntoTheEmptyLog) {
  auto* timer = Child<QTimer>("Timer1");
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 250);
  Send(Request(0x01));
  Tick();
  Click("sbPause");
  EXPECT_FALSE(timer->isActive());
  Send(Request(0x02));
  Click("btnClear");
  EXPECT_THAT(Lines(model), IsEmpty());

  Click("sbPause");
  EXPECT_TRUE(timer->isActive());
  QMetaObject::invokeMethod(timer, "timeout");  // the tick, without waiting for it
  EXPECT_EQ(Lines(model), Green({Request(0x02)}));
}

TEST_F(CiLog, TheViewFollowsOnlyFromTheBottomAndKeepsItsPlaceWhenTheOldestGo) {
  window->resize(581, 546);
  Feed(0, 200);
  QScrollBar* bar = log->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum()) << "follows while at the bottom";
  auto* newLines = Child<QPushButton>("btnNewLines");
  EXPECT_FALSE(newLines->isVisibleTo(window.get()));

  bar->setValue(50);
  const int first = FirstShownNumber();
  Feed(200, 30);
  EXPECT_EQ(FirstShownNumber(), first) << "scrolled up, the view stays";
  EXPECT_TRUE(newLines->isVisibleTo(window.get()));
  EXPECT_TRUE(newLines->text().startsWith("30 new &lines")) << newLines->text().toStdString();

  // A smaller limit removes the oldest at once and then in blocks of a tenth of it.
  Child<QAction>("miLimit10000")->trigger();
  EXPECT_EQ(model.Limit(), 10000);
  Feed(230, 9770);
  EXPECT_EQ(model.rowCount(), 10000);
  EXPECT_EQ(FirstShownNumber(), first);
  Feed(10000, 1);
  EXPECT_EQ(model.rowCount(), 9001) << "a block of 1000 went";
  EXPECT_EQ(FirstShownNumber(), 1000) << "the reader's line went: the oldest left";

  newLines->click();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_FALSE(newLines->isVisibleTo(window.get()));
  Feed(10001, 5);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(CiLog, FindSearchesTextAndBytesBothWaysAndSaysWhenNothingMatches) {
  Feed(0, 20);
  Activate();
  auto* bar = Child<QWidget>("pnlFind");
  auto* field = Child<QLineEdit>("edtFind");
  EXPECT_FALSE(bar->isVisibleTo(window.get()));
  QTest::keyClick(log, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(bar->isVisibleTo(window.get()));
  EXPECT_EQ(QApplication::focusWidget(), field);

  const auto current = [this] { return log->currentIndex().row(); };
  field->setText("2a 61 00 08 31 05");  // the request with SIG 5, typed as bytes
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(current(), 5);
  field->setText("31 0C");  // SIGs 0x0C, and the text of a line holding "31 0C"
  QTest::keyClick(field, Qt::Key_F3);
  EXPECT_EQ(current(), 12);
  QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(current(), 12) << "the only match, found again backwards";
  field->setText("31 00 31");
  QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(current(), 0);
  field->setText("31 13");
  QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(current(), 19) << "wraps round backwards to the last line";

  field->setText("no such text");
  EXPECT_FALSE(window->FindNext(true));
  EXPECT_EQ(Child<QLabel>("lblFindStatus")->text(), "no match");
  EXPECT_EQ(current(), 19);

  QTest::keyClick(field, Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisibleTo(window.get()));
}

TEST_F(CiLog, EverySelectedLineIsCopiedAndSavedAsUtf8WithMilliseconds) {
  Send(Request(0x01));
  Send("caf\xE9");
  Send(Request(0x02));
  Tick();
  auto* copy = Child<QAction>("miCopy");
  EXPECT_FALSE(copy->isEnabled()) << "nothing selected yet";
  Child<QAction>("miSelectAll")->trigger();
  EXPECT_TRUE(copy->isEnabled());
  copy->trigger();
  const QStringList copied = QGuiApplication::clipboard()->text().split('\n');
  ASSERT_EQ(copied.size(), 3);
  EXPECT_TRUE(copied[1].endsWith(QString::fromUtf8("] café"))) << copied[1].toStdString();
  EXPECT_EQ(
      copy->text() + Child<QAction>("miSelectAll")->text() + Child<QAction>("miSaveAs")->text(),
      "KopírovatVybrat všeUložit jako…");

  QTemporaryDir directory;
  const QString path = directory.filePath("log.txt");
  ASSERT_TRUE(window->SaveLog(path));
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly)) << path.toStdString();
  const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n');
  ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();  // three and the final break
  const QString texts[] = {QString::fromStdString(Hex(Request(0x01))), QString::fromUtf8("café"),
                           QString::fromStdString(Hex(Request(0x02)))};
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(QRegularExpression(R"(^\[[-0-9]{10} [:0-9]{8}\.\d{3}\] )" +
                                   QRegularExpression::escape(texts[i]) + "$")
                    .match(lines[i])
                    .hasMatch())
        << lines[i].toStdString();
  EXPECT_TRUE(lines[3].isEmpty());
}

TEST_F(CiLog, SavingWhereNoFileCanBeSaysWhichFileAndWhyAndKeepsTheLog) {
  Send(Request(0x01));
  Tick();
  QTemporaryDir directory;
  QFile blocker(directory.filePath("file"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  const QString path = blocker.fileName() + "/log.csv";  // below a file, so even root cannot

  window->hide();  // the box over a shown log would give the log a window to paint (see SetUp)
  QString shown;
  test::TModalAnswer answer([&](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) shown = box->text();
    modal->close();
  });
  EXPECT_FALSE(window->SaveLog(path));
  ASSERT_TRUE(answer.answered());
  EXPECT_TRUE(shown.contains(path)) << shown.toStdString();
  EXPECT_GT(shown.size(), shown.indexOf(path) + path.size() + 3) << "no reason given";
  EXPECT_EQ(Lines(model), Green({Request(0x01)}));
}

// Four threads log while the window ticks; then it is closed and destroyed while they go on.
TEST(CiLogThreads, NoLineIsLostOrDoubledAndNoCallOutlivesTheWindow) {
  struct TCounter {
    std::atomic<int> calls{0};
    void Count(TCiRef, const TByteString&, TByte) { ++calls; }
  } counter;
  const TInstalledSpySink previous(TSpySink(&counter, &TCounter::Count));
  const TRef<TTCPClientInterface> line = New<TTCPClientInterface>();
  auto window = std::make_unique<TfCiLog>();
  window->ShowLog(QString());
  const TLogModel& log = window->Model();

  constexpr int kThreads = 4;
  constexpr int kPackets = 400;
  const auto numbered = [](int thread, int number) {
    return BuildPacket97(static_cast<TByte>(thread), 0, 0x31,
                         TByteString{static_cast<char>(number >> 8), static_cast<char>(number)});
  };
  std::atomic<int> finished{0};
  std::atomic<bool> goOn{false}, stop{false};
  std::atomic<int> callsAfterWindow{0};
  std::atomic<bool> windowGone{false};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread)
    threads.emplace_back([&, thread] {
      for (int i = 0; i < kPackets; ++i)
        SpyTraffic(line, numbered(thread, i), kSpySent);
      ++finished;
      while (!goOn)
        std::this_thread::yield();
      while (!stop) {
        SpyTraffic(line, numbered(thread, 0), kSpySent);
        if (windowGone) ++callsAfterWindow;
      }
    });

  while (finished < kThreads)
    window->Timer1Timer();
  window->Timer1Timer();
  EXPECT_EQ(counter.calls, kThreads * kPackets) << "every call passed on to the previous sink";
  std::vector<std::vector<std::string>> byThread(kThreads);
  for (const std::string& shown : Lines(log))
    byThread.at(std::stoi(shown.substr(6 + 12, 2), nullptr, 16)).push_back(shown);
  for (int thread = 0; thread < kThreads; ++thread) {
    std::vector<std::string> expected;
    for (int i = 0; i < kPackets; ++i)
      expected.push_back("green " + Hex(numbered(thread, i)));
    EXPECT_EQ(byThread[thread], expected) << "thread " << thread;
  }

  goOn = true;
  for (int i = 0; i < 20; ++i)
    window->Timer1Timer();
  window->close();
  window->Timer1Timer();
  const int linesAtClose = log.rowCount();
  window->Timer1Timer();
  EXPECT_EQ(log.rowCount(), linesAtClose);
  window.reset();
  windowGone = true;
  EXPECT_TRUE(test::WaitUntil([&] { return callsAfterWindow > 100; }, test::kPatience));
  stop = true;
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_GE(counter.calls, kThreads * kPackets + callsAfterWindow)
      << "the sink installed before the window still gets every call";
}

}  // namespace
}  // namespace zorvid
