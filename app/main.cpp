// zorvid-l: the desktop program. It sets the display's text, segments, automatic information,
// brightness and clock through the main window.
//
// Start-up order: the transports register with the factory, the traffic forwarder is installed
// on the "DST" switch, the application object is made, then the program's windows. The log
// window passes every piece of traffic on to the sink installed before it, so with "DST" the
// forwarder still gets it all.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/Transports.h"
#include "ui/Application.h"
#include "ui/DocumentationPictures.h"
#include "ui/MainWindow.h"
#include "ui/ProgramVersion.h"
#include "ui/ProgramWindows.h"
#include "ui/SetupHooks.h"

namespace {

constexpr int kExitUsage = 2;
constexpr zorvid::TByte kDefaultAddress = 49;

struct TProgramOptions {
  std::optional<std::string> connection;
  zorvid::TByte address = kDefaultAddress;
  QString screenshot;
  QString pictures;
  bool exitWhenShown = false;
  bool help = false;
  bool version = false;
};

// A bad command line; the text names the option and the value.
struct TUsageError {
  QString text;
};

// "DST" in the forms the forwarder accepts is no option of the parser: it is taken out.
bool IsDstSwitch(const QString& argument) {
  QString text = argument.trimmed();
  if (text.startsWith('/') || text.startsWith('-')) text.remove(0, 1);
  return text.compare(QStringLiteral("DST"), Qt::CaseInsensitive) == 0;
}

// A device address, decimal or 0x-prefixed hexadecimal, 0..255.
zorvid::TByte ParseAddress(const QString& text) {
  bool ok = false;
  const bool hex = text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive);
  const uint value = (hex ? text.mid(2) : text).toUInt(&ok, hex ? 16 : 10);
  if (!ok || value > 255)
    throw TUsageError{QStringLiteral("--address: '%1' is not an address 0..255 (decimal or "
                                     "0x-hexadecimal)")
                          .arg(text)};
  return static_cast<zorvid::TByte>(value);
}

TProgramOptions ParseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  const QCommandLineOption connect(QStringLiteral("connect"),
                                   QStringLiteral("connect at start with this connection string"),
                                   QStringLiteral("STRING"));
  const QCommandLineOption address(QStringLiteral("address"),
                                   QStringLiteral("the display's address (default 49)"),
                                   QStringLiteral("N"));
  const QCommandLineOption screenshot(
      QStringLiteral("screenshot"),
      QStringLiteral("save the main window as PNG after the first poll and exit"),
      QStringLiteral("FILE"));
  const QCommandLineOption pictures(
      QStringLiteral("pictures"),
      QStringLiteral("save PNGs of every window and page after the first poll and exit"),
      QStringLiteral("DIR"));
  const QCommandLineOption exitWhenShown(QStringLiteral("exit-when-shown"));
  const QCommandLineOption help(QStringLiteral("help"));
  const QCommandLineOption version(QStringLiteral("version"));
  parser.addOptions({connect, address, screenshot, pictures, exitWhenShown, help, version});
  // The options of Qt itself, which the application object takes out of the arguments later.
  for (const char* qtOption : {"platform", "display", "style", "qwindowgeometry", "qwindowtitle"}) {
    QCommandLineOption option(QString::fromLatin1(qtOption));
    option.setValueName(QStringLiteral("VALUE"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  QStringList kept;
  for (const QString& argument : arguments)
    if (kept.isEmpty() || !IsDstSwitch(argument)) kept << argument;
  if (!parser.parse(kept)) throw TUsageError{parser.errorText()};
  if (!parser.positionalArguments().isEmpty())
    throw TUsageError{
        QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first())};
  TProgramOptions options;
  options.help = parser.isSet(help);
  options.version = parser.isSet(version);
  if (parser.isSet(connect)) options.connection = parser.value(connect).toStdString();
  if (parser.isSet(address)) {
    if (!options.connection) throw TUsageError{QStringLiteral("--address needs --connect")};
    options.address = ParseAddress(parser.value(address));
  }
  options.screenshot = parser.value(screenshot);
  options.pictures = parser.value(pictures);
  if (parser.isSet(pictures)) {
    if (parser.isSet(screenshot))
      throw TUsageError{QStringLiteral("--pictures and --screenshot cannot be used together")};
    if (!options.connection)
      throw TUsageError{
          QStringLiteral("--pictures needs --connect: they show a connected display")};
    if (options.pictures.isEmpty())
      throw TUsageError{QStringLiteral("--pictures: the directory name is empty")};
  }
  options.exitWhenShown = parser.isSet(exitWhenShown);
  return options;
}

const char* kUsage =
    "Usage: zorvid-l [OPTIONS] [DST]\n"
    "The desktop program for the Zorvid display.\n"
    "\n"
    "  --connect STRING   connect at start as if the connection dialog had been confirmed\n"
    "                     with STRING, e.g. \"provider=TCP_CLIENT;host=127.0.0.1;port=10001\"\n"
    "  --address N        the display's address for --connect, decimal or 0x-hexadecimal\n"
    "                     (default 49)\n"
    "  --screenshot FILE  save a PNG of the main window after the first completed poll and exit\n"
    "  --pictures DIR     with --connect: after the first completed poll save PNGs of every\n"
    "                     window and page into DIR (the user guide's pictures) and exit\n"
    "  --exit-when-shown  exit as soon as the main window has been shown (start-up timing)\n"
    "  --help             print this help\n"
    "  --version          print the version\n"
    "  DST                also forward all traffic to the terminal program's socket\n"
    "                     (also /DST or -DST, in any case)\n";

QString VersionText() {
  const std::optional<zorvid::TFileVersion> version = zorvid::ProgramFileVersion();
  return version ? zorvid::FileVersionText(*version) : QStringLiteral("unknown");
}

// Once the first poll has completed, runs `save` and ends the program: 0 when it succeeded,
// else 1 with its message. It runs after the poll's tick has returned, so that the poll goes on
// while it waits for windows.
void SaveAfterFirstPoll(zorvid::TfMain& window, std::function<QString()> save) {
  auto* connection = new QMetaObject::Connection;
  *connection = QObject::connect(
      &window, &zorvid::TfMain::polled, &window, [&window, save = std::move(save), connection] {
        QObject::disconnect(*connection);
        delete connection;
        QTimer::singleShot(0, &window, [save] {
          const QString failure = save();
          if (!failure.isEmpty())
            std::fprintf(stderr, "zorvid-l: %s\n", failure.toLocal8Bit().constData());
          QCoreApplication::exit(failure.isEmpty() ? 0 : 1);
        });
      });
}

void SavePicturesAfterFirstPoll(zorvid::TProgramWindows& windows, const TProgramOptions& options) {
  zorvid::TfMain& window = windows.Main();
  if (!options.screenshot.isEmpty())
    SaveAfterFirstPoll(window, [&window, path = options.screenshot] {
      return zorvid::WindowPicture(window).save(path, "PNG")
                 ? QString()
                 : QStringLiteral("cannot save the screenshot to '%1'").arg(path);
    });
  if (!options.pictures.isEmpty())
    SaveAfterFirstPoll(window, [&windows, &options] {
      zorvid::TDocumentationPictures pictures(windows, options.pictures, *options.connection,
                                              options.address);
      return pictures.SaveAll() ? QString() : pictures.Failure();
    });
}

int Run(zorvid::TZorvidApplication& application, const TProgramOptions& options) {
  zorvid::TProgramWindows windows;
  zorvid::TfMain& window = windows.Main();
  SavePicturesAfterFirstPoll(windows, options);
  window.show();
  // A zero-time timer runs once the events of the show (layout, expose, paint) are handled.
  if (options.exitWhenShown) QTimer::singleShot(0, &window, [] { QCoreApplication::exit(0); });
  if (options.connection)
    QTimer::singleShot(0, &window, zorvid::GuardedSlot([&window, &options] {
                         window.ConnectTo(*options.connection, options.address);
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
  TProgramOptions options;
  try {
    options = ParseOptions(ArgumentsOf(argc, argv));
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "zorvid-l: %s\nTry 'zorvid-l --help'.\n",
                 error.text.toLocal8Bit().constData());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("zorvid-l %s\n", VersionText().toLocal8Bit().constData());
    return 0;
  }
  zorvid::RegisterStandardTransports();
  zorvid::InstallDstForwarderIfRequested(argc, argv);
  int status = 0;
  {
    zorvid::TZorvidApplication application(argc, argv);
    // The desktop matches the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZORVID_APP_ID));
    zorvid::InstallSetupHooks();
    status = Run(application, options);
    zorvid::RemoveSetupHooks();
  }
  zorvid::UnregisterStandardTransports();
  return status;
}
