#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkReply;

namespace brontide {
class Workspace;
}

namespace brontide::ui {

// The update check: reads the appcast chosen at build time and tells whether it offers a newer release
// than this build. Without a feed it can never check. Main thread.
class Updates final : public QObject {
  Q_OBJECT
  // A feed is set and no check is under way.
  Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)
  // The last check's answer for the user; empty until one ends.
  Q_PROPERTY(QString result READ result NOTIFY resultChanged)
  // The newer release's page when the last check found one, else empty.
  Q_PROPERTY(QUrl newVersionPage READ newVersionPage NOTIFY resultChanged)

 public:
  // An appcast larger than this is not one.
  static constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;

  Updates(QUrl feed, QString currentVersion, Workspace& workspace, QObject* parent = nullptr);
  ~Updates() override;

  [[nodiscard]] bool canCheck() const { return canCheck_; }
  [[nodiscard]] QString result() const { return result_; }
  [[nodiscard]] QUrl newVersionPage() const { return newVersionPage_; }

  // Fetches the feed; `checked` follows. Does nothing while `canCheck` is false.
  Q_INVOKABLE void checkForUpdates();
  // Opens the newer release's page with the desktop's handler.
  Q_INVOKABLE void openNewVersionPage();

 signals:
  void canCheckChanged();
  void resultChanged();
  // A check ended, whatever it found.
  void checked();

 private:
  void finish(QNetworkReply* reply);
  void setCanCheck(bool on);

  QUrl feed_;
  QString currentVersion_;
  Workspace& workspace_;
  QNetworkAccessManager network_;
  QPointer<QNetworkReply> reply_;
  bool canCheck_ = false;
  QString result_;
  QUrl newVersionPage_;
};

}  // namespace brontide::ui
