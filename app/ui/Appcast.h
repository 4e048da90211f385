#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <expected>
#include <optional>

namespace brontide::ui {

// One release an appcast offers.
struct AppcastItem {
  QString version;       // sparkle:version, compared with this build's version
  QString shownVersion;  // sparkle:shortVersionString, else the version
  QUrl page;             // the item's link, else its enclosure; http or https only
};

// The newest release of an RSS appcast with Sparkle's version fields (as elements or as enclosure
// attributes). Items without a dotted numeric version or without an http(s) page are passed over.
// The error is a log message. `feed` resolves relative addresses.
[[nodiscard]] std::expected<AppcastItem, QString> newestAppcastItem(QByteArrayView xml, const QUrl& feed);

// Compares dotted numeric versions ("1.10" after "1.9", "1.0" equal to "1"); nullopt when either is not one.
[[nodiscard]] std::optional<int> compareVersions(QStringView a, QStringView b);

}  // namespace brontide::ui
