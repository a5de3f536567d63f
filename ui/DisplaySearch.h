#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/DisplayScan.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;

namespace zorvid {

// "Najít displeje…": finds the displays on the line the connection dialog describes. The
// technician ticks the speeds to try (serial and USB lines; a TCP line is searched once), and
// "Hledat" asks every address at each of them; a progress bar names the address and speed
// being asked, "Zastavit" ends the search within a tenth of a second, and each display found
// appears in the table at once: its address in the three notations of the address selector,
// its speed and its identification. A double click on one accepts the dialog with it.
//
// Threads: the search (TDisplayScan) runs on a thread of its own, which makes, opens and closes
// its own transport; its progress and finds come to the user-interface thread as queued calls
// that carry their values. Everything else is the user-interface thread's.
class TfDisplaySearch : public QDialog {
  Q_OBJECT

 public:
  // `connection`: the line to search, as the connection dialog built it; the addresses
  // first..last are asked (every one a display can have, unless narrowed).
  explicit TfDisplaySearch(std::string connection, QWidget* owner = nullptr, TByte first = 0,
                           TByte last = kHighestOwnAddress);
  // Stops a search under way and waits for its thread.
  ~TfDisplaySearch() override;

  void Start();
  void Stop();
  bool IsSearching() const { return FThread != nullptr; }
  // The speeds ticked, in the order of the display's baud table.
  std::vector<std::int32_t> ChosenBauds() const;
  // The display double-clicked; nothing before.
  const std::optional<TFoundDisplay>& Chosen() const { return FChosen; }
  const std::vector<TFoundDisplay>& Found() const { return FFound; }

 signals:
  // A search ended: it asked every address, was stopped, or the line failed.
  void searchFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  QWidget* BuildBauds();
  QWidget* BuildProgress();
  void ShowProgress(TByte address, std::int32_t baud, int done, int total);
  void AddFound(const TFoundDisplay& display);
  void Finish();
  void ChooseRow(int row);
  void ShowSearching(bool searching);

  const std::string FConnection;
  const TByte FFirst;
  const TByte FLast;
  const bool FHasSpeed;  // serial and USB lines; TCP has none
  std::vector<QCheckBox*> FBaudChoices;
  QProgressBar* pbSearch;
  QLabel* lblSearch;
  QTableWidget* tblFound;
  QPushButton* btnSearch;
  QPushButton* btnStop;
  QPushButton* btnClose;

  std::unique_ptr<TDisplayScan> FScan;  // from Start to Finish
  std::unique_ptr<QThread> FThread;     // the search's thread, from Start to Finish
  // Written on the search's thread before it ends, read in Finish after it has.
  TScanResult FResult;
  std::vector<TFoundDisplay> FFound;  // in the table's order
  std::optional<TFoundDisplay> FChosen;
};

// An address in the three notations of the address selector: "'B' 66 0x42" (a character only
// for a digit or an ASCII letter).
QString AddressNotations(TByte address);

}  // namespace zorvid
