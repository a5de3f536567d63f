// zorvid-l: the desktop program. It sets the display's text, segments, automatic information,
// brightness and clock through the main window.
//
// Start-up order: the transports register with the factory, the traffic forwarder is installed
// on the "DST" switch, the application object is made, then the program's windows. The log
// window passes every piece of traffic on to the sink installed before it, so with "DST" the
// forwarder still gets it all.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QPixmap>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>

#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/Transports.h"
#include "ui/Application.h"
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
  const QCommandLineOption exitWhenShown(QStringLiteral("exit-when-shown"));
  const QCommandLineOption help(QStringLiteral("help"));
  const QCommandLineOption version(QStringLiteral("version"));
  parser.addOptions({connect, address, screenshot, exitWhenShown, help, version});
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
    "  --exit-when-shown  exit as soon as the main window has been shown (start-up timing)\n"
    "  --help             print this help\n"
    "  --version          print the version\n"
    "  DST                also forward all traffic to the terminal program's socket\n"
    "                     (also /DST or -DST, in any case)\n";

QString VersionText() {
  const std::optional<zorvid::TFileVersion> version = zorvid::ProgramFileVersion();
  return version ? zorvid::FileVersionText(*version) : QStringLiteral("unknown");
}

// The window as the screen shows it (on X the server's own pixels); where the platform grants
// no window grab, as the window paints itself.
QPixmap WindowPicture(QWidget& window) {
  window.repaint();  // the poll's values are painted only when the event loop gets to it
  if (QScreen* screen = window.screen()) {
    const QPixmap shown = screen->grabWindow(window.winId());
    if (!shown.isNull()) return shown;
  }
  return window.grab();
}

// Saves the window once the first poll has completed, then ends the program: 0 when saved.
void SaveScreenshotAfterFirstPoll(zorvid::TfMain& window, const QString& path) {
  auto* connection = new QMetaObject::Connection;
  *connection =
      QObject::connect(&window, &zorvid::TfMain::polled, &window, [&window, path, connection] {
        QObject::disconnect(*connection);
        delete connection;
        const bool saved = WindowPicture(window).save(path, "PNG");
        if (!saved)
          std::fprintf(stderr, "zorvid-l: cannot save the screenshot to '%s'\n",
                       path.toLocal8Bit().constData());
        QCoreApplication::exit(saved ? 0 : 1);
      });
}

int Run(zorvid::TZorvidApplication& application, const TProgramOptions& options) {
  zorvid::TProgramWindows windows;
  zorvid::TfMain& window = windows.Main();
  if (!options.screenshot.isEmpty()) SaveScreenshotAfterFirstPoll(window, options.screenshot);
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
    zorvid::InstallSetupHooks();
    status = Run(application, options);
    zorvid::RemoveSetupHooks();
  }
  zorvid::UnregisterStandardTransports();
  return status;
}
