#include "ui/About.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "ui/DialogFrame.h"
#include "ui/ProgramVersion.h"
#include "ui/controls/ShapeEx.h"

// The pictures live in the library's resources; a static library must register them itself.
static void InitAboutResources() {
  Q_INIT_RESOURCE(ui);
}

namespace zorvid {
namespace {

const QColor kLightGreen(216, 236, 224);
const QColor kDarkGreen(0, 135, 90);
const QColor kLinkBorder(182, 221, 199);
constexpr QSize kLinkSize(193, 25);
constexpr QSize kLogoSize(128, 128);

// A picture drawn from one of the program's SVG resources at the screen's pixel density, so it
// stays sharp at any scale.
QPixmap RenderPicture(const QString& resource, QSize logicalSize, qreal pixelRatio) {
  QPixmap pixmap(logicalSize * pixelRatio);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  QPainter painter(&pixmap);
  renderer.render(&painter);
  painter.end();
  pixmap.setDevicePixelRatio(pixelRatio);
  return pixmap;
}

// Pictures only decorate: mouse events go through them to what lies beneath.
template <class TWidget>
TWidget* Decoration(TWidget* widget, const char* name) {
  widget->setObjectName(name);
  widget->setAttribute(Qt::WA_TransparentForMouseEvents);
  return widget;
}

// A panel holds controls, so it cannot let mouse events through (that would hide them from its
// children too); as it neither toggles nor has handlers, clicks on it do nothing.
TShapeEx* NewPanel(const char* name, const QColor& color) {
  auto* panel = new TShapeEx;
  panel->setObjectName(name);
  panel->SetShape(stRoundRect);
  panel->SetRoundCorner(24);
  panel->SetBrushColor(color);
  panel->SetPenColor(color);
  return panel;
}

QLabel* NewText(const char* name, const QString& text, const QFont& font) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setFont(font);
  return label;
}

QFont VerdanaFont(int pointSize, bool bold = false) {
  QFont font(QStringLiteral("Verdana"), pointSize);
  font.setBold(bold);
  return font;
}

void OpenHomePage() {
  QDesktopServices::openUrl(ProgramHomePage());
}

// Enter and Space open the focused link, as they press a focused button; held down they open
// it once.
bool OpensLink(const QKeyEvent& event) {
  const int key = event.key();
  return !event.isAutoRepeat() &&
         (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space);
}

QString ProgramVersionText() {
  const auto version = ProgramFileVersion();
  return version ? FileVersionText(*version) : QStringLiteral("1.0.0.0");
}

}  // namespace

TfAbout::TfAbout(QWidget* owner) : QDialog(owner) {
  InitAboutResources();
  setObjectName("fAbout");
  setWindowTitle("About");
  ShowCloseButtonOnly(*this);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(BuildInfoPanel(), 1);
  layout->addWidget(BuildLogoPanel());
  ShowLinkHover(false);
  FixClientSize(*this, QSize(457, 273));
}

QWidget* TfAbout::BuildInfoPanel() {
  shpInfoPanel = NewPanel("shpInfoPanel", kLightGreen);
  lProjectName = NewText("lProjectName", QString(), VerdanaFont(20, true));
  lVersionCaption = NewText("lVersionCaption", "Verze:", VerdanaFont(10));
  lVersion = NewText("lVersion", ProgramVersionText(), VerdanaFont(10));
  lVersion->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* versionRow = new QHBoxLayout;
  versionRow->addWidget(lVersionCaption);
  versionRow->addWidget(lVersion);
  versionRow->addStretch();

  shpLinkLine = Decoration(new TShapeEx, "shpLinkLine");
  shpLinkLine->SetBrushColor(kDarkGreen);
  shpLinkLine->SetPenWidth(0);
  shpLinkLine->setFixedHeight(3);

  auto* layout = new QVBoxLayout(shpInfoPanel);
  layout->setContentsMargins(18, 18, 18, 18);
  layout->addWidget(lProjectName);
  layout->addLayout(versionRow);
  layout->addStretch();
  layout->addWidget(shpLinkLine);
  layout->addWidget(BuildLinkButton(), 0, Qt::AlignLeft);
  return shpInfoPanel;
}

QWidget* TfAbout::BuildLogoPanel() {
  shpLogoPanel = NewPanel("shpLogoPanel", kDarkGreen);
  iLogo = Decoration(new QLabel, "iLogo");
  iLogo->setFixedSize(kLogoSize);
  auto* layout = new QVBoxLayout(shpLogoPanel);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->addWidget(iLogo, 0, Qt::AlignCenter);
  return shpLogoPanel;
}

QWidget* TfAbout::BuildLinkButton() {
  shexLinkButton = new TShapeEx;
  shexLinkButton->setObjectName("shexLinkButton");
  shexLinkButton->setFixedSize(kLinkSize);
  shexLinkButton->setCursor(Qt::PointingHandCursor);
  shexLinkButton->SetBrushColor(kLightGreen);
  shexLinkButton->SetPenColor(kLinkBorder);
  shexLinkButton->setToolTip(ProgramHomePage().toString());
  shexLinkButton->setAccessibleName(tr("Domovská stránka"));
  // Taken by Tab or a click like a button's focus; as the window's only control, the link has
  // the focus from the window's opening.
  shexLinkButton->setFocusPolicy(Qt::StrongFocus);
  shexLinkButton->installEventFilter(this);
  connect(shexLinkButton, &TShapeEx::clicked, this, OpenHomePage);

  iLink = Decoration(new QLabel(shexLinkButton), "iLink");
  iLinkHover = Decoration(new QLabel(shexLinkButton), "iLinkHover");
  for (QLabel* picture : {iLink, iLinkHover})
    picture->setGeometry(QRect(QPoint(0, 0), kLinkSize));
  // Over the pictures; black dots stand out on the light picture and on the dark one alike.
  frLinkFocus = Decoration(new QFrame(shexLinkButton), "frLinkFocus");
  frLinkFocus->setGeometry(QRect(QPoint(0, 0), kLinkSize).adjusted(2, 2, -2, -2));
  frLinkFocus->setStyleSheet("QFrame#frLinkFocus { border: 1px dotted black; }");
  frLinkFocus->hide();
  return shexLinkButton;
}

void TfAbout::SetNames(const QString& programName, const QString& projectName) {
  setWindowTitle(programName);
  lProjectName->setText(projectName.isEmpty() ? programName : projectName);
}

void TfAbout::ShowLinkHover(bool hover) {
  iLink->setVisible(!hover);
  iLinkHover->setVisible(hover);
}

bool TfAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == shexLinkButton) {
    switch (event->type()) {
      case QEvent::Enter:
        ShowLinkHover(true);
        break;
      case QEvent::Leave:
        ShowLinkHover(false);
        break;
      // Shown whenever the link has the focus, the window's opening included: Enter then opens
      // the page, so the user must see where it will go.
      case QEvent::FocusIn:
      case QEvent::FocusOut:
        frLinkFocus->setVisible(shexLinkButton->hasFocus());
        break;
      case QEvent::KeyPress:
        if (OpensLink(static_cast<const QKeyEvent&>(*event))) {
          OpenHomePage();
          return true;
        }
        break;
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfAbout::showEvent(QShowEvent* event) {
  // Pictures are drawn for the screen the window opens on.
  const qreal ratio = devicePixelRatioF();
  iLogo->setPixmap(RenderPicture(":/zorvid/zorvid-l.svg", kLogoSize, ratio));
  iLink->setPixmap(RenderPicture(":/zorvid/link.svg", kLinkSize, ratio));
  iLinkHover->setPixmap(RenderPicture(":/zorvid/link-hover.svg", kLinkSize, ratio));
  if (const QScreen* display = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(display->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}

TfAbout* CreateAbout(QWidget* owner, const QString& programName, const QString& projectName) {
  auto* about = new TfAbout(owner);
  about->SetNames(programName, projectName);
  return about;
}

}  // namespace zorvid
