// zorvid-l as built, run as its user starts it: the command line, the connected window's
// picture on the offscreen platform and on a real X server (Xvfb) against zorvid-sim, the
// pictures of every window it saves for the user guide, and the recent connections it keeps in
// the user's configuration directory. Every run here has a configuration directory of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QSize>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/ModalWindows.h"
#include "tests/support/Patience.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WidgetsTestMain.h"
#include "ui/About.h"
#include "ui/CiLog.h"
#include "ui/ConnectionDialog.h"
#include "ui/DisplayPanel.h"
#include "ui/MainWindow.h"
#include "ui/RecentConnections.h"

// Sizes in failure messages as 912x898 rather than their bytes.
static void PrintTo(const QSize& size, std::ostream* out) {
  *out << size.width() << 'x' << size.height();
}

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::RunProcess;
using test::TProcessResult;
using test::TSimProcess;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

TProcessResult RunProgram(std::vector<std::string> args,
                          const test::TEnvironment& environment = {}) {
  args.insert(args.begin(), ZORVID_L_PATH);
  return RunProcess(args, environment, 20s);
}

TEST(ProgramTest, AnswersItsCommandLineWithoutADisplay) {
  // No platform can start: these must not need one.
  const test::TEnvironment noDisplay{"QT_QPA_PLATFORM=none", "DISPLAY="};
  const TProcessResult version = RunProgram({"--version"}, noDisplay);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_THAT(version.out, MatchesRegex("zorvid-l [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"));
  const TProcessResult help = RunProgram({"--help"}, noDisplay);
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out,
              AllOf(HasSubstr("Usage: zorvid-l [options] [DST]\n"), HasSubstr("--connect <STRING>"),
                    HasSubstr("--address <N>"), HasSubstr("--screenshot <FILE>"),
                    HasSubstr("--pictures <DIR>"), HasSubstr("--exit-when-shown"),
                    HasSubstr("--lang <LANG>"), HasSubstr("--version"), HasSubstr("(default 49)")));
  EXPECT_THAT(help.out, Not(HasSubstr("--platform"))) << "Qt's own options are not ours to list";
  EXPECT_THAT(help.out, Not(HasSubstr("--heartbeat-log"))) << "a measuring aid stays hidden";

  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const std::string missing = directory.filePath(QStringLiteral("missing")).toStdString();
  const std::string tcp = "provider=TCP_CLIENT";
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad{
      {{"--colour"}, "unknown option \"colour\""},
      {{"--connect"}, "Missing value after '--connect'"},
      {{"--connect", tcp, "--address", "255"},
       "--address: \"255\" is 0xFF, which every display refuses"},
      {{"--connect", tcp, "--address", "-0"}, "--address: \"-0\" is not an address 0..254"},
      {{"--connect", tcp, "--address", "0x1G\x1b"}, "--address: \"0x1G\\x1B\" is not an address"},
      {{"--address", "49"}, "--address needs --connect"},
      {{"DST", "later"}, "unexpected argument \"later\""},
      {{"--pictures", "docs"}, "--pictures needs --connect"},
      {{"--connect", tcp, "--pictures", "docs", "--screenshot", "shot.png"},
       "--pictures and --screenshot cannot be used together"},
      {{"--connect", tcp, "--pictures", missing},
       "--pictures: the directory \"" + missing + "\" does not exist"},
      {{"--heartbeat-log", ""}, "--heartbeat-log: the file name is empty"},
      {{"--lang", "de"}, "--lang: \"de\" is neither cs nor en"},
  };
  for (const auto& [args, message] : bad) {
    const TProcessResult run = RunProgram(args, noDisplay);
    EXPECT_EQ(run.exitCode, 2) << args.back();
    EXPECT_THAT(run.err, AllOf(HasSubstr("zorvid-l: " + message), HasSubstr("--help")));
  }
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(missing))) << "--pictures made it";
}

// The lines of a heartbeat log.
std::vector<std::string> LinesOf(const QString& path) {
  QFile file(path);
  std::vector<std::string> lines;
  if (!file.open(QIODevice::ReadOnly)) return lines;
  for (const QByteArray& line : file.readAll().split('\n'))
    if (!line.isEmpty()) lines.push_back(line.toStdString());
  return lines;
}

// What bench/ui_stall.py measures the user-interface thread by: a killed program leaves whole
// lines of rising times; a log that cannot be written fails the start, without a display.
TEST(ProgramTest, HeartbeatLogsRisingTimesUntilKilledAndNamesAFileItCannotOpen) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const QString log = directory.filePath(QStringLiteral("heartbeat.log"));
  test::TChildProcess program;
  ASSERT_TRUE(program.Start({ZORVID_L_PATH, "--heartbeat-log", log.toStdString()}));
  EXPECT_TRUE(test::WaitUntil([&] { return LinesOf(log).size() >= 10; }, test::kPatience));
  program.Stop();
  long long previous = -1;
  for (const std::string& line : LinesOf(log)) {
    ASSERT_THAT(line, MatchesRegex("[0-9]+"));
    EXPECT_GT(std::stoll(line), previous);
    previous = std::stoll(line);
  }

  const std::string unopenable = directory.filePath(QStringLiteral("missing/beats")).toStdString();
  const TProcessResult run =
      RunProgram({"--heartbeat-log", unopenable}, {"QT_QPA_PLATFORM=none", "DISPLAY="});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_THAT(run.err, HasSubstr("zorvid-l: --heartbeat-log: cannot open \"" + unopenable +
                                 "\": No such file or directory"));
}

// The pixels of `picture` that are neither its background colour nor next to it: the smoothed
// edges of its shapes are blended with whatever lies beneath.
std::vector<QPoint> DrawnPixels(const QImage& picture, QRgb background) {
  const auto isBackground = [&](int x, int y) {
    return !picture.valid(x, y) || picture.pixel(x, y) == background;
  };
  std::vector<QPoint> drawn;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      bool nearBackground = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          nearBackground = nearBackground || isBackground(x + dx, y + dy);
      if (!nearBackground) drawn.emplace_back(x, y);
    }
  return drawn;
}

// Where the picture `part` lies in `whole`, pixel for pixel, except on its own background (where
// `whole` shows its background instead).
std::optional<QPoint> Find(const QImage& whole, const QImage& part, QRgb background) {
  const std::vector<QPoint> drawn = DrawnPixels(part, background);
  for (int y = 0; y + part.height() <= whole.height(); ++y)
    for (int x = 0; x + part.width() <= whole.width(); ++x) {
      const QPoint at(x, y);
      if (std::all_of(drawn.begin(), drawn.end(),
                      [&](QPoint p) { return whole.pixel(at + p) == part.pixel(p); }))
        return at;
    }
  return std::nullopt;
}

class ProgramScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(sim_.Port(), 0);
    const TProcessResult set = RunProcess(
        {ZORVIDCTL_PATH, "-c", sim_.Connection(), "set", "data", "03", "3F", "06", "5B", "4F"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    ASSERT_TRUE(directory_.isValid());
    // The panel the window must contain: both left LEDs, the digits 0, 1, 2, 3.
    TDisplayPanel panel;
    panel.ShowDisplayData(TByteString("\x03\x3F\x06\x5B\x4F", 5));
    expectedPanel_ = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    panelBackground_ = panel.palette().color(panel.backgroundRole()).rgb();
  }

  // The window's picture as `launcher` runs zorvid-l connected to the simulator, with `options`
  // besides and `environment` changed.
  QImage Screenshot(std::vector<std::string> launcher, const std::string& platform,
                    const std::vector<std::string>& options = {},
                    const test::TEnvironment& environment = {}) {
    const std::string path = directory_.filePath(QString::number(++shots_) + ".png").toStdString();
    std::vector<std::string> args = std::move(launcher);
    for (std::string arg :
         {std::string(ZORVID_L_PATH), std::string("--connect"), sim_.Connection(),
          std::string("--address"), std::string("49"), std::string("--screenshot"), path})
      args.push_back(std::move(arg));
    args.insert(args.end(), options.begin(), options.end());
    test::TEnvironment settings{"QT_QPA_PLATFORM=" + platform};
    settings.insert(settings.end(), environment.begin(), environment.end());
    const TProcessResult run = RunProcess(args, settings, 20s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
  }

  // zorvid-l connected to the simulator, saving its pictures into `directory` offscreen.
  TProcessResult SavePictures(const QString& directory) {
    return RunProgram(
        {"--connect", sim_.Connection(), "--address", "49", "--pictures", directory.toStdString()},
        {"QT_QPA_PLATFORM=offscreen"});
  }

  // A fixed temperature: pictures of two runs are the same unless their languages differ.
  TSimProcess sim_{{"--temperature", "21.5"}};
  QTemporaryDir directory_;
  int shots_ = 0;
  QImage expectedPanel_;
  QRgb panelBackground_ = 0;
};

TEST_F(ProgramScreenshotTest, TheConnectedWindowShowsTheSimulatorsSegments) {
  const QImage offscreen = Screenshot({}, "offscreen");
  ASSERT_FALSE(offscreen.isNull());
  EXPECT_TRUE(Find(offscreen, expectedPanel_, panelBackground_))
      << "the display's segments are not on the picture";
}

TEST_F(ProgramScreenshotTest, OnARealXServerTheWindowIsTheSameAsOffscreen) {
  const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
  if (xvfbRun.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed (scripts/setup installs it)";
  const QImage onX =
      Screenshot({xvfbRun.toStdString(), "-a", "-s", "-screen 0 1280x1024x24"}, "xcb");
  ASSERT_FALSE(onX.isNull());
  EXPECT_TRUE(Find(onX, expectedPanel_, panelBackground_))
      << "the display's segments are not on the X picture";
  const QImage offscreen = Screenshot({}, "offscreen");
  EXPECT_EQ(onX.size(), offscreen.size());
}

// The windows speak the user's language as the environment gives it, Czech where it is none the
// program speaks; --lang overrides it.
TEST_F(ProgramScreenshotTest, TheWindowSpeaksTheUsersLanguageUnlessTold) {
  const test::TEnvironment english{"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=en_US.UTF-8"};
  const test::TEnvironment plain{"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=C"};
  const test::TEnvironment czech{"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=cs_CZ.UTF-8"};
  const test::TEnvironment german{"LANGUAGE=de", "LC_ALL=", "LC_MESSAGES=", "LANG=de_DE.UTF-8"};
  const QImage toldEnglish = Screenshot({}, "offscreen", {"--lang", "en"}, plain);
  const QImage fromC = Screenshot({}, "offscreen", {}, plain);
  ASSERT_FALSE(toldEnglish.isNull() || fromC.isNull());
  EXPECT_NE(toldEnglish, fromC);
  EXPECT_EQ(Screenshot({}, "offscreen", {}, english), toldEnglish);
  EXPECT_EQ(Screenshot({}, "offscreen", {}, czech), fromC);
  EXPECT_EQ(Screenshot({}, "offscreen", {}, german), fromC);
  EXPECT_EQ(Screenshot({}, "offscreen", {"--lang", "cs"}, english), fromC);
}

int PixelsNotOfColour(const QImage& picture, QRgb colour) {
  int count = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      count += picture.pixel(x, y) != colour ? 1 : 0;
  return count;
}

TEST_F(ProgramScreenshotTest, PicturesShowEveryWindowAndPageWithTheDisplaysValues) {
  const QString directory = directory_.path();
  const TProcessResult run = SavePictures(directory);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::map<QString, QImage> pictures;
  for (const char* name : {"zorvid-l.png", "main-display.png", "main-data.png", "main-other.png",
                           "connection-dialog.png", "connection-dialog-expert.png",
                           "comm-params.png", "log.png", "about.png"}) {
    const QImage picture(QDir(directory).filePath(QString::fromLatin1(name)));
    ASSERT_FALSE(picture.isNull()) << name << " is missing or no PNG";
    pictures[QString::fromLatin1(name)] = picture.convertToFormat(QImage::Format_RGB32);
  }
  EXPECT_EQ(static_cast<std::size_t>(QDir(directory).entryList(QDir::Files).size()),
            pictures.size());

  const QImage& window = pictures["zorvid-l.png"];
  EXPECT_TRUE(Find(window, expectedPanel_, panelBackground_))
      << "the display's segments are not on the main window's picture";
  const QImage& display = pictures["main-display.png"];
  const QImage& data = pictures["main-data.png"];
  const QImage& other = pictures["main-other.png"];
  for (const QImage* page : {&display, &data, &other})
    EXPECT_EQ(page->size(), window.size());
  EXPECT_TRUE(Find(display, expectedPanel_, panelBackground_));
  EXPECT_NE(display, data);
  EXPECT_NE(data, other);
  EXPECT_NE(display, other);

  // The dialog keeps its size; its expert form fills the room the normal one leaves empty.
  const QImage& dialog = pictures["connection-dialog.png"];
  const QImage& expert = pictures["connection-dialog-expert.png"];
  EXPECT_EQ(expert.size(), dialog.size());
  const QRgb face = QApplication::palette().color(QPalette::Window).rgb();
  EXPECT_GT(PixelsNotOfColour(expert, face), PixelsNotOfColour(dialog, face) + 1000);

  TfCiLog emptyLog;
  emptyLog.show();
  const QImage empty = emptyLog.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage& log = pictures["log.png"];
  EXPECT_EQ(log.size(), empty.size());
  EXPECT_NE(log, empty) << "the log's picture shows no traffic";

  TfAbout about;
  about.SetNames(QStringLiteral("Zorvid-L"), QString());
  about.show();
  EXPECT_EQ(pictures["about.png"].size(), about.grab().size());
}

TEST_F(ProgramScreenshotTest, PicturesThatCannotBeTakenFailTheRunAndSayWhy) {
  const QDir directory(directory_.filePath(QStringLiteral("docs")));
  // A directory where the log's picture would go: the pictures before it are saved.
  ASSERT_TRUE(directory.mkpath(QStringLiteral("log.png")));
  const TProcessResult unsaved = SavePictures(directory.path());
  EXPECT_EQ(unsaved.exitCode, 1);
  EXPECT_THAT(unsaved.err,
              HasSubstr("zorvid-l: cannot save the picture '" +
                        directory.filePath(QStringLiteral("log.png")).toStdString() + "'"));
  EXPECT_TRUE(directory.exists(QStringLiteral("main-other.png")));
  EXPECT_FALSE(directory.exists(QStringLiteral("about.png"))) << "the run went on after it";

  // Without the display no picture replaces a good one.
  sim_.Stop();
  const QDir unconnected(directory_.filePath(QStringLiteral("unconnected")));
  ASSERT_TRUE(unconnected.mkpath(QStringLiteral(".")));
  const TProcessResult refused = SavePictures(unconnected.path());
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.err, AllOf(HasSubstr("zorvid-l: --connect failed: cannot open \"" +
                                           sim_.Connection() + "\""),
                                 HasSubstr("no pictures taken")));
  EXPECT_TRUE(unconnected.isEmpty());
}

// A script must not take the picture of a failed connect for the display's.
TEST_F(ProgramScreenshotTest, AFailedConnectFailsTheScreenshotAndSaysWhy) {
  const QString path = directory_.filePath(QStringLiteral("failed.png"));
  const TProcessResult run = RunProgram(
      {"--connect", sim_.Connection(), "--address", "50", "--screenshot", path.toStdString()},
      {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err,
              HasSubstr("zorvid-l: --connect failed: no identification from address 50 (0x32)"));
  EXPECT_FALSE(QImage(path).isNull()) << "the picture of the failure is saved all the same";
}

QImage BottomRightQuarter(const QImage& picture) {
  return picture.copy(picture.width() / 2, picture.height() / 2, picture.width() / 2,
                      picture.height() / 2);
}

// Offscreen, the screen's grab of a window covers only its top-left quarter at scale 2.
TEST_F(ProgramScreenshotTest, AtScaleTwoThePicturesShowTheWholeWindows) {
  const TProcessResult run =
      RunProgram({"--connect", sim_.Connection(), "--pictures", directory_.path().toStdString()},
                 {"QT_QPA_PLATFORM=offscreen", "QT_SCALE_FACTOR=2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  TfMain main;
  TfAbout about;
  about.SetNames(QStringLiteral("Zorvid-L"), QString());
  about.show();
  const QRgb face = QApplication::palette().color(QPalette::Window).rgb();
  for (const auto& [name, window] : {std::pair<const char*, QWidget*>{"zorvid-l.png", &main},
                                     std::pair<const char*, QWidget*>{"about.png", &about}}) {
    const QImage picture = QImage(directory_.filePath(QString::fromLatin1(name)))
                               .convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(picture.size(), window->size() * 2) << name;
    EXPECT_GT(PixelsNotOfColour(BottomRightQuarter(picture), face), 100)
        << name << ": nothing drawn in its bottom-right quarter";
  }
}

// Runs of zorvid-l against the simulator that share a configuration directory of their own.
class ProgramSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(sim_.Port(), 0);
    ASSERT_TRUE(configHome_.isValid());
  }
  // Connects to the simulator's display at `address`, saves the window's picture and ends.
  TProcessResult ConnectAndQuit(const std::string& address) {
    const std::string shot = configHome_.filePath(QStringLiteral("shot.png")).toStdString();
    return RunProgram(
        {"--connect", sim_.Connection(), "--address", address, "--screenshot", shot},
        {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + configHome_.path().toStdString()});
  }
  // Where the user looks for the program's settings.
  QString SettingsFile() const {
    return configHome_.filePath(QStringLiteral("zorvid/zorvid-l.conf"));
  }

  TSimProcess sim_;
  QTemporaryDir configHome_;
};

// A connect that succeeded is remembered in the user's configuration directory, one that failed
// is not; the dialog of the program started again offers it, and choosing it loads it.
TEST_F(ProgramSettingsTest, ASuccessfulConnectIsOfferedAfterARestart) {
  ASSERT_EQ(ConnectAndQuit("49").exitCode, 0);
  sim_.Stop();
  EXPECT_EQ(ConnectAndQuit("50").exitCode, 1) << "the display has gone";
  TRecentConnections recent(SettingsFile());
  ASSERT_EQ(recent.Entries(), (std::vector<TRecentConnection>{{sim_.Connection(), 49}}));

  TfConnectionDialog dialog(nullptr, [](int) { return cpsAbsent; });
  dialog.SetRecentConnections(&recent);
  std::string connection = "provider=SERIAL_PORT;comport=1;baudrate=9600";
  TByte address = 7;
  test::TModalAnswer answer([&](QWidget* window) {
    if (auto* offered = test::Child<QComboBox>(window, "cbRecent")) {
      EXPECT_EQ(offered->count(), 1);
      EXPECT_EQ(offered->itemText(0), QStringLiteral("127.0.0.1:%1, adresa 49").arg(sim_.Port()));
      QTest::keyClick(offered, Qt::Key_Down);
    }
    test::Child<QPushButton>(window, "bOK")->click();
  });
  ASSERT_TRUE(dialog.Execute(connection, address));
  EXPECT_EQ(connection, sim_.Connection());
  EXPECT_EQ(address, 49);
}

// A settings file that is no settings file costs the recent connections, not the start; the
// next connect that succeeds writes it anew.
TEST_F(ProgramSettingsTest, ADamagedSettingsFileIsIgnoredWithAWarning) {
  ASSERT_TRUE(QDir().mkpath(QFileInfo(SettingsFile()).path()));
  QFile damaged(SettingsFile());
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("[RecentConnections\n1\\connection=provider=TCP_CLIENT\n");
  damaged.close();
  const TProcessResult run = ConnectAndQuit("49");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, AllOf(HasSubstr("\"" + SettingsFile().toStdString() + "\" is ignored"),
                             HasSubstr("QSettings::FormatError")));
  EXPECT_EQ(TRecentConnections(SettingsFile()).Entries(),
            (std::vector<TRecentConnection>{{sim_.Connection(), 49}}));
}

}  // namespace
}  // namespace zorvid

// The runs of zorvid-l keep their settings away from the user's.
int main(int argc, char** argv) {
  const QTemporaryDir configHome;
  if (!configHome.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
  return zorvid::test::RunWidgetTests(argc, argv);
}
