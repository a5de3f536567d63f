// The recent connections kept in a settings file, without a window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <ostream>
#include <string>
#include <vector>

#include "ui/RecentConnections.h"

namespace zorvid {

// Failures show the entry as the program would use it.
[[maybe_unused]] static void PrintTo(const TRecentConnection& entry, std::ostream* out) {
  *out << '{' << entry.connection << ", " << static_cast<int>(entry.address) << '}';
}

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TRecentConnection Tcp(int port, TByte address = 49) {
  return {"provider=TCP_CLIENT;host=10.0.0.1;port=" + std::to_string(port), address};
}

// The warnings Qt reports while it lives.
class TWarnings {
 public:
  TWarnings() {
    caught_ = &texts_;
    previous_ =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
          if (type == QtWarningMsg) caught_->push_back(text.toStdString());
        });
  }
  ~TWarnings() {
    qInstallMessageHandler(previous_);
    caught_ = nullptr;
  }
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  static inline std::vector<std::string>* caught_ = nullptr;
  QtMessageHandler previous_;
  std::vector<std::string> texts_;
};

// Newest first, each once (another address is another connection), at most eight, as a second
// list over the same file (a later start of the program) reads them.
TEST(RecentConnections, KeepsTheNewestEightOnceEachForALaterStart) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const QString path = directory.filePath(QStringLiteral("zorvid-l.conf"));
  TRecentConnections recent(path);
  EXPECT_TRUE(recent.Entries().empty());
  for (int port = 1; port <= 9; ++port)
    recent.Add(Tcp(port));
  recent.Add(Tcp(3));
  recent.Add(Tcp(9, 50));
  const std::vector<TRecentConnection> expected{Tcp(9, 50), Tcp(3), Tcp(9), Tcp(8),
                                                Tcp(7),     Tcp(6), Tcp(5), Tcp(4)};
  EXPECT_EQ(recent.Entries(), expected);
  EXPECT_EQ(TRecentConnections(path).Entries(), expected);
}

// Entries a hand or another version spoiled are left out with a warning that names the file
// and the entry; what another running program added meanwhile is kept by the next Add.
TEST(RecentConnections, SkipsSpoiledEntriesAndKeepsWhatAnotherProgramAdded) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const QString path = directory.filePath(QStringLiteral("zorvid-l.conf"));
  {
    QSettings file(path, QSettings::NativeFormat);
    file.beginWriteArray(QStringLiteral("RecentConnections"));
    const std::vector<std::pair<QString, QString>> entries{
        {QString::fromStdString(Tcp(1).connection), QStringLiteral("300")},
        {QString(), QStringLiteral("49")},
        {QString::fromStdString(Tcp(2).connection), QStringLiteral("7")},
        {QString::fromStdString(Tcp(2).connection), QStringLiteral("7")}};
    for (int index = 0; index < static_cast<int>(entries.size()); ++index) {
      file.setArrayIndex(index);
      file.setValue(QStringLiteral("connection"), entries[index].first);
      file.setValue(QStringLiteral("address"), entries[index].second);
    }
    file.endArray();
  }
  TWarnings warnings;
  TRecentConnections first(path);
  EXPECT_THAT(first.Entries(), ElementsAre(Tcp(2, 7)));
  const std::string file = "\"" + path.toStdString() + "\"";
  EXPECT_THAT(warnings.Texts(), ElementsAre(AllOf(HasSubstr("entry 1 of the settings file " + file),
                                                  HasSubstr("address \"300\" is not 0..255")),
                                            AllOf(HasSubstr("entry 2 of the settings file " + file),
                                                  HasSubstr("no connection string"))));

  TRecentConnections second(path);
  second.Add(Tcp(3));
  first.Add(Tcp(4));
  EXPECT_THAT(first.Entries(), ElementsAre(Tcp(4), Tcp(3), Tcp(2, 7)));
}

}  // namespace
}  // namespace zorvid
