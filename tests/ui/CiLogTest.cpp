// The communication log window, fed through the sink it installs as the data spy feeds it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QDateTime>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "core/HexText.h"
#include "protocol/Korvel97.h"
#include "tests/support/ModalWindows.h"
#include "transport/TCPClientInterface.h"
#include "ui/CiLog.h"

namespace zorvid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// A request for instruction F3 to the device at address 0x31.
const TByteString kRequestF3("\x2A\x61\x00\x05\x31\x01\xF3\x4A\x0D", 9);

TByteString Request(TByte instruction) {
  return BuildPacket97(0x31, 0x01, instruction, "");
}
TByteString Answer(TByte acknowledge) {
  return BuildPacket97(0x31, 0x01, acknowledge, "\x07");
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

struct TFragment {
  QString text;
  QTextCharFormat format;
};

std::vector<TFragment> Fragments(const QTextBlock& block) {
  std::vector<TFragment> fragments;
  for (auto piece = block.begin(); !piece.atEnd(); ++piece)
    fragments.push_back({piece.fragment().text(), piece.fragment().charFormat()});
  return fragments;
}

// Each line of the log as its text's colour and the text after the time prefix.
std::vector<std::string> Lines(const QTextEdit* log) {
  std::vector<std::string> lines;
  for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
    const std::vector<TFragment> fragments = Fragments(block);
    if (fragments.empty()) continue;
    lines.push_back(ColourName(fragments.back().format.foreground().color()) + " " +
                    fragments.back().text.toStdString());
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

  TRef<TTCPClientInterface> line = New<TTCPClientInterface>();
  std::unique_ptr<TfCiLog> window = std::make_unique<TfCiLog>();
  QTextEdit* log = Child<QTextEdit>("reLog");
};

TEST_F(CiLog, PacketsShowColouredByDirectionAndAcknowledgeAfterTheTime) {
  const QString before = QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss] ");
  Send(kRequestF3);
  Receive(Answer(0));
  TByteString corrupt = Answer(2);
  corrupt[corrupt.size() - 2] ^= 0x01;  // checksum
  Receive(corrupt);
  Receive(Answer(2));
  Tick();
  const QString after = QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss] ");

  EXPECT_THAT(Lines(log), ElementsAre("green 2A 61 00 05 31 01 F3 4A 0D", "blue " + Hex(Answer(0)),
                                      "red " + Hex(Answer(2))));
  const std::vector<TFragment> first = Fragments(log->document()->begin());
  ASSERT_EQ(first.size(), 2u);
  const TFragment& prefix = first[0];
  EXPECT_TRUE(
      QRegularExpression(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] $)").match(prefix.text).hasMatch())
      << prefix.text.toStdString();
  EXPECT_TRUE(before <= prefix.text && prefix.text <= after) << prefix.text.toStdString();
  EXPECT_EQ(ColourName(prefix.format.foreground().color()), "black");
  EXPECT_EQ(prefix.format.font().family(),
            QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
  EXPECT_EQ(prefix.format.font().pointSize(), 6);
  const QFont text = first[1].format.font();
  EXPECT_EQ(text.family(), QFontDatabase::hasFamily("Carlito")
                               ? QString("Carlito")
                               : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  EXPECT_EQ(text.pointSize(), 10);
}

TEST_F(CiLog, AHiddenInstructionHidesTheNextPacketToo) {
  auto* disabled = Child<QLineEdit>("edtDisabledInst");
  EXPECT_EQ(disabled->text(), "Disabled Inst");
  disabled->setText("F3");
  Send(kRequestF3);
  Receive(Answer(0));
  Send(Request(0x31));
  Tick();
  EXPECT_THAT(Lines(log), ElementsAre("green " + Hex(Request(0x31))));

  // The codes are found anywhere in the text.
  for (const char* text : {"81 51", "8151", "x81,51"}) {
    Click("btnClear");
    disabled->setText(text);
    for (TByte code : {0x81, 0x51, 0x31}) {
      Send(Request(code));
      Receive(Answer(0));
    }
    Tick();
    EXPECT_THAT(Lines(log), ElementsAre("green " + Hex(Request(0x31)), "blue " + Hex(Answer(0))))
        << text;
  }
  // As written: lower case matches no code.
  Click("btnClear");
  disabled->setText("f3");
  Send(kRequestF3);
  Tick();
  EXPECT_EQ(Lines(log), Green({kRequestF3}));
}

TEST_F(CiLog, AReceivedPacketInPiecesIsOneLineAtTheTickOfItsLastPieceWithItsTime) {
  const TByteString answer = Answer(0);
  const std::vector<TByteString> pieces = {answer.substr(0, 3), answer.substr(3, 4),
                                           answer.substr(7)};
  for (const TByteString& piece : pieces) {
    EXPECT_THAT(Lines(log), IsEmpty());
    Receive(piece);
    Tick();
  }
  EXPECT_THAT(Lines(log), ElementsAre("blue " + Hex(answer)));

  const TLogTime start = std::chrono::system_clock::now();
  std::vector<TLogStruct> items;
  for (const TByteString& piece : pieces)
    items.push_back({piece, start + items.size() * 1s, kSpyReceived});
  const std::vector<TLogLine> lines = TLogCutter().Cut(items, QString());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].time, start + 2s);
}

TEST_F(CiLog, SentBytesThatStartNoPacketShowRawAfterTheWaitingReceivedBytes) {
  Send("\x41\x54");
  Tick();
  EXPECT_THAT(Lines(log), ElementsAre("orange AT"));

  Receive("OK\r");
  Send(kRequestF3 + "AT\r");
  Tick();
  EXPECT_THAT(Lines(log), ElementsAre("orange AT", "green " + Hex(kRequestF3), "fuchsia OK<0D>",
                                      "orange AT<0D>"));
}

TEST_F(CiLog, OnlyTheVisibleWindowLogsAndOnlyTheChosenLine) {
  window->hide();
  Send(Request(0x01));
  window->ShowLog(QString());
  Send(Request(0x02));
  Tick();
  EXPECT_EQ(Lines(log), Green({Request(0x02)}));

  const TRef<TTCPClientInterface> other = New<TTCPClientInterface>();
  window->ShowLog(QString::fromStdString(other->GetGUIDString()));
  Send(Request(0x03));
  Send(Request(0x04), other);
  Tick();
  EXPECT_EQ(Lines(log), Green({Request(0x02), Request(0x04)}));
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
  EXPECT_THAT(Lines(log), IsEmpty());

  Click("sbPause");
  EXPECT_TRUE(timer->isActive());
  QMetaObject::invokeMethod(timer, "timeout");  // the tick, without waiting for it
  EXPECT_EQ(Lines(log), Green({Request(0x02)}));
}

TEST_F(CiLog, TheUsersSelectionStaysWhileTheNewestLineComesIntoView) {
  for (int i = 0; i < 100; ++i)
    Send(Request(static_cast<TByte>(i)));
  Tick();
  // The last line, up to the end where the new lines go.
  QTextCursor selection(log->document()->lastBlock());
  selection.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  log->setTextCursor(selection);
  const int anchor = selection.anchor();
  const int position = selection.position();
  log->verticalScrollBar()->setValue(0);

  for (int i = 0; i < 100; ++i)
    Send(Request(static_cast<TByte>(i)));
  Tick();
  EXPECT_EQ(log->textCursor().anchor(), anchor);
  EXPECT_EQ(log->textCursor().position(), position);
  EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

TEST_F(CiLog, EveryLineIsCopiedAndSavedAsUtf8WithItsTime) {
  Send(Request(0x01));
  Send("caf\xE9");
  Send(Request(0x02));
  Tick();
  auto* copy = Child<QAction>("miCopy");
  EXPECT_FALSE(copy->isEnabled()) << "nothing selected yet";
  Child<QAction>("miSelectAll")->trigger();
  copy->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), log->toPlainText());
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
    EXPECT_TRUE(QRegularExpression(R"(^\[[-0-9]{10} [:0-9]{8}\] )" +
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
  const QString path = blocker.fileName() + "/log.txt";  // below a file, so even root cannot

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
  EXPECT_EQ(Lines(log), Green({Request(0x01)}));
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
  const QTextEdit* log = window->findChild<QTextEdit*>("reLog");

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
  const int linesAtClose = log->document()->blockCount();
  window->Timer1Timer();
  EXPECT_EQ(log->document()->blockCount(), linesAtClose);
  window.reset();
  windowGone = true;
  EXPECT_TRUE(test::WaitUntil([&] { return callsAfterWindow > 100; }, 2000ms));
  stop = true;
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_GE(counter.calls, kThreads * kPackets + callsAfterWindow)
      << "the sink installed before the window still gets every call";
}

}  // namespace
}  // namespace zorvid
