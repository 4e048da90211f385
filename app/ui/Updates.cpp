#include "app/ui/Updates.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "app/ui/Appcast.h"
#include "app/ui/PanelTexts.h"
#include "controller/Workspace.h"

namespace brontide::ui {
namespace {

// Long enough for a slow mirror, short enough that the button does not stay disabled for minutes.
constexpr int kTransferTimeoutMs = 20000;

QString text(const char* key) { return QCoreApplication::translate(kTextContext, key); }

}  // namespace

Updates::Updates(QUrl feed, QString currentVersion, Workspace& workspace, QObject* parent)
    : QObject(parent),
      feed_(std::move(feed)),
      currentVersion_(std::move(currentVersion)),
      workspace_(workspace),
      canCheck_(feed_.isValid() && !feed_.isEmpty()) {
  if (!feed_.isEmpty() && !feed_.isValid())
    qInfo("brontide: the update feed address \"%s\" is not valid; update checks are off", qPrintable(feed_.toString()));
}

Updates::~Updates() {
  if (!reply_) return;
  // Aborting reports `finished` at once; nothing here should hear it any more.
  disconnect(reply_, nullptr, this, nullptr);
  reply_->abort();
}

void Updates::setCanCheck(bool on) {
  if (canCheck_ == on) return;
  canCheck_ = on;
  emit canCheckChanged();
}

void Updates::checkForUpdates() {
  if (!canCheck_) return;
  setCanCheck(false);
  QNetworkRequest request(feed_);
  request.setTransferTimeout(kTransferTimeoutMs);
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Brontide/%1").arg(currentVersion_));
  auto* reply = network_.get(request);
  reply_ = reply;
  connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
    if (received > kMaxFeedBytes) reply->abort();
  });
  connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void Updates::finish(QNetworkReply* reply) {
  reply->deleteLater();
  reply_.clear();
  QString shown = text("No se pudo comprobar si hay actualizaciones.");
  QUrl page;
  if (reply->error() != QNetworkReply::NoError) {
    qInfo("brontide: update check failed: %s: %s", qPrintable(feed_.toString()), qPrintable(reply->errorString()));
  } else if (const auto newest = newestAppcastItem(reply->readAll(), feed_); !newest) {
    qInfo("brontide: update check failed: %s: %s", qPrintable(feed_.toString()), qPrintable(newest.error()));
  } else if (const auto order = compareVersions(newest->version, currentVersion_); !order) {
    qInfo("brontide: update check failed: this build's version \"%s\" is not dotted numbers",
          qPrintable(currentVersion_));
  } else if (*order > 0) {
    shown = text("Hay una versión nueva: %1").arg(newest->shownVersion);
    page = newest->page;
  } else {
    shown = text("Tienes la última versión.");
  }
  result_ = shown;
  newVersionPage_ = page;
  emit resultChanged();
  setCanCheck(true);
  emit checked();
}

void Updates::openNewVersionPage() {
  if (newVersionPage_.isEmpty()) return;
  // The workspace logs a page it has no browser for; the update window has no room to say so.
  (void)workspace_.openAddress(newVersionPage_.toString(QUrl::FullyEncoded).toStdString());
}

}  // namespace brontide::ui
