// zorvid-l: the desktop program. It sets the display's text, segments, automatic information,
// brightness and clock through the main window.
//
// Start-up order: the transports register with the factory, the traffic forwarder is installed
// on the "DST" switch, the application object is made, then the program's windows. The log
// window passes every piece of traffic on to the sink installed before it, so with "DST" the
// forwarder still gets it all.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/EchoText.h"
#include "core/NumberText.h"
#include "device/ZorvidCodec.h"
#include "link/DisplayConnection.h"
#include "protocol/KorvelInterfaces.h"
#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/Transports.h"
#include "ui/Application.h"
#include "ui/DocumentationPictures.h"
#include "ui/Heartbeat.h"
#include "ui/Language.h"
#include "ui/MainWindow.h"
#include "ui/ProgramVersion.h"
#include "ui/ProgramWindows.h"
#include "ui/RecentConnections.h"
#include "ui/SetupHooks.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct TProgramOptions {
  std::optional<std::string> connection;
  zorvid::TByte address = zorvid::kZorvidDefaultAddress;
  QString screenshot;
  QString pictures;
  QString heartbeatLog;  // empty: no heartbeat
  bool exitWhenShown = false;
  bool showLog = false;
  std::optional<zorvid::TLanguage> language;  // --lang; else the user's
  bool help = false;
  bool version = false;
};

// A bad command line; the text names the option and the value.
struct TUsageError {
  QString text;
};

// A value from the command line as a message quotes it.
QString Quoted(const QString& text) {
  return QString::fromStdString(zorvid::Quoted(text.toStdString()));
}

// A display's address in the tools' number syntax, without a sign. 0xFF is refused by every
// receiver, so no display could answer there.
zorvid::TByte ParseAddress(const QString& text) {
  const zorvid::TParsedAddress parsed = zorvid::ParseDisplayAddress(text.toStdString());
  if (parsed.fault == zorvid::TAddressFault::kRefused)
    throw TUsageError{QStringLiteral("--address: %1 is 0xFF, which every display refuses; an "
                                     "address is 0..254")
                          .arg(Quoted(text))};
  if (parsed.fault != zorvid::TAddressFault::kNone)
    throw TUsageError{QStringLiteral("--address: %1 is not an address 0..254 (decimal or "
                                     "0x-hexadecimal)")
                          .arg(Quoted(text))};
  return parsed.address;
}

// The pictures go into a directory the user made: a mistyped name makes none.
void CheckPicturesDirectory(const QString& directory) {
  if (directory.isEmpty())
    throw TUsageError{QStringLiteral("--pictures: the directory name is empty")};
  const QFileInfo info(directory);
  if (!info.exists())
    throw TUsageError{
        QStringLiteral("--pictures: the directory %1 does not exist").arg(Quoted(directory))};
  if (!info.isDir())
    throw TUsageError{QStringLiteral("--pictures: %1 is not a directory").arg(Quoted(directory))};
}

// The options of zorvid-l; the parser's help is the program's --help.
class TCommandLine {
 public:
  TCommandLine();
  // A TUsageError names the option and the value at fault.
  TProgramOptions Parse(const QStringList& arguments);
  QString HelpText() const;

 private:
  void AddQtOptions();
  void AddHiddenOption(QCommandLineOption option);
  void CheckCombination(const TProgramOptions& options) const;

  QCommandLineParser parser_;
  const QCommandLineOption connect_{
      QStringLiteral("connect"),
      QStringLiteral("Connect at start as if the connection dialog had been confirmed with "
                     "STRING, e.g. \"provider=TCP_CLIENT;host=127.0.0.1;port=10001\"."),
      QStringLiteral("STRING")};
  const QCommandLineOption address_{
      QStringLiteral("address"),
      QStringLiteral("The display's address for --connect, 0..254, decimal or 0x-hexadecimal "
                     "(default %1); at 254 (0xFE) any display answers.")
          .arg(zorvid::kZorvidDefaultAddress),
      QStringLiteral("N")};
  const QCommandLineOption screenshot_{
      QStringLiteral("screenshot"),
      QStringLiteral("Save a PNG of the main window after the first completed poll and exit; "
                     "exit status 1 when --connect failed (the picture shows the failure)."),
      QStringLiteral("FILE")};
  const QCommandLineOption pictures_{
      QStringLiteral("pictures"),
      QStringLiteral("With --connect: after the first completed poll save PNGs of every window "
                     "and page (the user guide's pictures) into the existing directory DIR and "
                     "exit; none when --connect failed (exit status 1)."),
      QStringLiteral("DIR")};
  const QCommandLineOption exitWhenShown_{
      QStringLiteral("exit-when-shown"),
      QStringLiteral("Exit as soon as the main window has been shown (start-up timing).")};
  // For bench/ui_stall.py; hidden, so that the manual page made from --help leaves it out.
  const QCommandLineOption heartbeatLog_{
      QStringLiteral("heartbeat-log"),
      QStringLiteral("Write the milliseconds since start to FILE, one line every %1 ms, from the "
                     "user-interface thread.")
          .arg(zorvid::THeartbeat::kIntervalMs),
      QStringLiteral("FILE")};
  // For bench/log_flood.py; hidden like the heartbeat.
  const QCommandLineOption showLog_{QStringLiteral("show-log"),
                                    QStringLiteral("Show the communication log at start.")};
  const QCommandLineOption lang_{
      QStringLiteral("lang"),
      QStringLiteral("The windows' language: cs (Czech) or en (English); by default the user's "
                     "(LANGUAGE, LC_ALL, LC_MESSAGES, LANG), Czech when it is neither."),
      QStringLiteral("LANG")};
  const QCommandLineOption help_{QStringLiteral("help"), QStringLiteral("Print this help.")};
  const QCommandLineOption version_{QStringLiteral("version"),
                                    QStringLiteral("Print the version.")};
};

TCommandLine::TCommandLine() {
  parser_.setApplicationDescription(QStringLiteral("The desktop program for the Zorvid display."));
  parser_.addOptions(
      {connect_, address_, screenshot_, pictures_, exitWhenShown_, lang_, help_, version_});
  parser_.addPositionalArgument(
      QStringLiteral("DST"),
      QStringLiteral("Also forward all traffic to the terminal program's socket (also /DST or "
                     "-DST, in any case)."),
      QStringLiteral("[DST]"));
  AddQtOptions();
  AddHiddenOption(heartbeatLog_);
  AddHiddenOption(showLog_);
  parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

// The options of Qt itself, which the application object takes out of the arguments later.
void TCommandLine::AddQtOptions() {
  for (const char* qtOption : {"platform", "display", "style", "qwindowgeometry", "qwindowtitle"}) {
    QCommandLineOption option(QString::fromLatin1(qtOption));
    option.setValueName(QStringLiteral("VALUE"));
    AddHiddenOption(option);
  }
}

void TCommandLine::AddHiddenOption(QCommandLineOption option) {
  option.setFlags(QCommandLineOption::HiddenFromHelp);
  parser_.addOption(option);
}

TProgramOptions TCommandLine::Parse(const QStringList& arguments) {
  QStringList kept;
  for (const QString& argument : arguments)
    // "DST" in the forms the forwarder accepts is no option of the parser: it is taken out.
    if (kept.isEmpty() || !zorvid::IsDstSwitch(argument.toStdString())) kept << argument;
  if (!parser_.parse(kept)) {
    // The parser's own text would quote an unknown option raw.
    const QStringList unknown = parser_.unknownOptionNames();
    throw TUsageError{unknown.isEmpty()
                          ? parser_.errorText()
                          : QStringLiteral("unknown option %1").arg(Quoted(unknown.first()))};
  }
  if (!parser_.positionalArguments().isEmpty())
    throw TUsageError{QStringLiteral("unexpected argument %1")
                          .arg(Quoted(parser_.positionalArguments().first()))};
  TProgramOptions options;
  options.help = parser_.isSet(help_);
  options.version = parser_.isSet(version_);
  if (parser_.isSet(connect_)) options.connection = parser_.value(connect_).toStdString();
  if (parser_.isSet(address_)) options.address = ParseAddress(parser_.value(address_));
  options.screenshot = parser_.value(screenshot_);
  options.pictures = parser_.value(pictures_);
  options.exitWhenShown = parser_.isSet(exitWhenShown_);
  options.showLog = parser_.isSet(showLog_);
  if (parser_.isSet(lang_)) {
    options.language = zorvid::ParseLanguage(parser_.value(lang_));
    if (!options.language)
      throw TUsageError{
          QStringLiteral("--lang: %1 is neither cs nor en").arg(Quoted(parser_.value(lang_)))};
  }
  options.heartbeatLog = parser_.value(heartbeatLog_);
  if (parser_.isSet(heartbeatLog_) && options.heartbeatLog.isEmpty())
    throw TUsageError{QStringLiteral("--heartbeat-log: the file name is empty")};
  CheckCombination(options);
  return options;
}

void TCommandLine::CheckCombination(const TProgramOptions& options) const {
  if (parser_.isSet(address_) && !options.connection)
    throw TUsageError{QStringLiteral("--address needs --connect")};
  if (!parser_.isSet(pictures_)) return;
  if (parser_.isSet(screenshot_))
    throw TUsageError{QStringLiteral("--pictures and --screenshot cannot be used together")};
  if (!options.connection)
    throw TUsageError{QStringLiteral("--pictures needs --connect: they show a connected display")};
  CheckPicturesDirectory(options.pictures);
}

// The parser's usage line names the program after the application object's first argument: a
// core application, which needs no display, is made for it.
QString TCommandLine::HelpText() const {
  int argc = 1;
  char name[] = "zorvid-l";
  char* argv[] = {name, nullptr};
  const QCoreApplication application(argc, argv);
  return parser_.helpText();
}

QString VersionText() {
  const std::optional<zorvid::TFileVersion> version = zorvid::ProgramFileVersion();
  return version ? zorvid::FileVersionText(*version) : QStringLiteral("unknown");
}

void Report(const QString& failure) {
  std::fprintf(stderr, "zorvid-l: %s\n", failure.toLocal8Bit().constData());
}

// Once the first poll has completed, runs `save` and ends the program: 0 when it succeeded,
// else 1 with its message. It runs after the poll's tick has returned, so that the poll goes on
// while it waits for windows.
void SaveAfterFirstPoll(zorvid::TfMain& window, std::function<QString()> save) {
  QObject::connect(
      &window, &zorvid::TfMain::polled, &window,
      [&window, save = std::move(save)] {
        QTimer::singleShot(0, &window, [save] {
          const QString failure = save();
          if (!failure.isEmpty()) Report(failure);
          QCoreApplication::exit(failure.isEmpty() ? 0 : kExitFailure);
        });
      },
      Qt::SingleShotConnection);
}

// `connectFailure` is empty unless --connect failed; the screenshot is saved either way, but a
// failed connect fails the run, so that a script knows what the picture shows.
void SaveScreenshotAfterFirstPoll(zorvid::TfMain& window, const QString& path,
                                  const QString& connectFailure) {
  SaveAfterFirstPoll(window, [&window, path, connectFailure] {
    if (!zorvid::WindowPicture(window).save(path, "PNG"))
      return QStringLiteral("cannot save the screenshot to %1").arg(Quoted(path));
    return connectFailure;
  });
}

void SavePicturesAfterFirstPoll(zorvid::TProgramWindows& windows, const TProgramOptions& options) {
  SaveAfterFirstPoll(windows.Main(), [&windows, &options] {
    zorvid::TDocumentationPictures pictures(windows, options.pictures, *options.connection,
                                            options.address);
    return pictures.SaveAll() ? QString() : pictures.Failure();
  });
}

// Sets up the pictures once --connect has ended (`connectFailure` empty unless it failed).
// Pictures of a failed connect are not what the user guide wants: the run ends there.
void TakePictures(zorvid::TProgramWindows& windows, const TProgramOptions& options,
                  const QString& connectFailure) {
  zorvid::TfMain& window = windows.Main();
  if (!options.pictures.isEmpty()) {
    if (!connectFailure.isEmpty()) {
      Report(connectFailure + QStringLiteral("; no pictures taken"));
      QCoreApplication::exit(kExitFailure);
      return;
    }
    SavePicturesAfterFirstPoll(windows, options);
  }
  if (!options.screenshot.isEmpty())
    SaveScreenshotAfterFirstPoll(window, options.screenshot, connectFailure);
}

// Connects as --connect asks, then takes the pictures.
void ConnectAndTakePictures(zorvid::TProgramWindows& windows, const TProgramOptions& options) {
  if (!options.connection) return TakePictures(windows, options, QString());
  zorvid::TfMain& window = windows.Main();
  QObject::connect(
      &window, &zorvid::TfMain::connectFinished, &window,
      zorvid::GuardedSlot([&windows, &options](bool connected) {
        TakePictures(
            windows, options,
            connected
                ? QString()
                : QStringLiteral("--connect failed: %1").arg(windows.Main().ConnectFailure()));
      }),
      Qt::SingleShotConnection);
  window.ConnectTo(*options.connection, options.address);
}

int Run(zorvid::TZorvidApplication& application, const TProgramOptions& options) {
  zorvid::TRecentConnections recent(zorvid::UserSettingsPath());
  zorvid::TProgramWindows windows(&recent);
  zorvid::TfMain& window = windows.Main();
  window.show();
  if (options.showLog) windows.Log().ShowLog(QString());
  // A zero-time timer runs once the events of the show (layout, expose, paint) are handled.
  if (options.exitWhenShown) QTimer::singleShot(0, &window, [] { QCoreApplication::exit(0); });
  QTimer::singleShot(0, &window, zorvid::GuardedSlot([&windows, &options] {
                       ConnectAndTakePictures(windows, options);
                     }));
  return application.exec();
}

QStringList ArgumentsOf(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

}  // namespace

// The command line is read before the application object exists, so that --help, --version and
// a bad option work without a display.
int main(int argc, char** argv) {
  TCommandLine commandLine;
  TProgramOptions options;
  try {
    options = commandLine.Parse(ArgumentsOf(argc, argv));
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "zorvid-l: %s\nTry 'zorvid-l --help'.\n",
                 error.text.toLocal8Bit().constData());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(commandLine.HelpText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("zorvid-l %s\n", VersionText().toLocal8Bit().constData());
    return 0;
  }
  // Its clock starts here, with the program, and a file it cannot write needs no display.
  std::unique_ptr<zorvid::THeartbeat> heartbeat;
  if (!options.heartbeatLog.isEmpty()) {
    heartbeat = std::make_unique<zorvid::THeartbeat>(options.heartbeatLog);
    if (!heartbeat->IsOpen()) {
      Report(heartbeat->Failure());
      return kExitUsage;
    }
  }
  // The user's settings file is named after these: ~/.config/zorvid/zorvid-l.conf.
  QCoreApplication::setOrganizationName(QStringLiteral("zorvid"));
  QCoreApplication::setApplicationName(QStringLiteral("zorvid-l"));
  zorvid::RegisterStandardTransports();
  zorvid::InstallDstForwarderIfRequested(argc, argv);
  int status = 0;
  {
    zorvid::TZorvidApplication application(argc, argv);
    const zorvid::TTranslations translations(
        options.language.value_or(zorvid::LanguageFor(QLocale::system().uiLanguages())));
    for (const QString& problem : translations.Problems())
      Report(problem);
    // The desktop matches the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZORVID_APP_ID));
    zorvid::InstallSetupHooks();
    if (heartbeat) heartbeat->Start();
    status = Run(application, options);
    heartbeat.reset();  // its timer goes while the thread's event dispatcher is there
    zorvid::RemoveSetupHooks();
  }
  zorvid::UnregisterStandardTransports();
  return status;
}
