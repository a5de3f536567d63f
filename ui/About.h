#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;

namespace zorvid {

class TShapeEx;

// The About window: the program's name, its version and a link to its home page, over a white
// background with two green panels. It shows nothing else, and no maker's name. The link opens
// by the mouse or, focused, by Enter or Space.
class TfAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfAbout(QWidget* owner = nullptr);

  // The caption becomes the program name, `projectName` (or the program name when empty) the
  // large title.
  void SetNames(const QString& programName, const QString& projectName);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* BuildInfoPanel();
  QWidget* BuildLogoPanel();
  QWidget* BuildLinkButton();
  void ShowLinkHover(bool hover);

  TShapeEx* shpInfoPanel;
  TShapeEx* shpLogoPanel;
  QLabel* iLogo;
  QLabel* lProjectName;
  QLabel* lVersionCaption;
  QLabel* lVersion;
  TShapeEx* shpLinkLine;
  TShapeEx* shexLinkButton;
  QLabel* iLink;
  QLabel* iLinkHover;
  // The dotted frame that shows the link has the keyboard focus.
  QFrame* frLinkFocus;
};

// Creates the About window for `owner`; shown modally by the caller.
TfAbout* CreateAbout(QWidget* owner, const QString& programName,
                     const QString& projectName = QString());

}  // namespace zorvid
