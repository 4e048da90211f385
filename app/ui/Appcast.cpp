#include "app/ui/Appcast.h"

#include <QList>
#include <QXmlStreamReader>

#include <algorithm>

namespace brontide::ui {
namespace {

constexpr QLatin1String kSparkleNamespace("http://www.andymatuschak.org/xml-namespaces/sparkle");

std::optional<QList<qulonglong>> versionParts(QStringView version) {
  if (version.isEmpty()) return std::nullopt;
  QList<qulonglong> parts;
  for (const auto part : version.split(u'.')) {
    if (part.isEmpty() || !std::ranges::all_of(part, [](QChar c) { return c >= u'0' && c <= u'9'; }))
      return std::nullopt;
    bool ok = false;
    parts.append(part.toULongLong(&ok));
    if (!ok) return std::nullopt;
  }
  return parts;
}

// The fields one <item> holds; elements win over enclosure attributes, as in newer feeds.
struct ItemFields {
  QString version, shortVersion, link, enclosureUrl, enclosureVersion, enclosureShortVersion;
};

ItemFields readItem(QXmlStreamReader& xml) {
  ItemFields fields;
  while (xml.readNextStartElement()) {
    const bool sparkle = xml.namespaceUri() == kSparkleNamespace;
    const auto name = xml.name();
    if (sparkle && name == u"version") {
      fields.version = xml.readElementText().trimmed();
    } else if (sparkle && name == u"shortVersionString") {
      fields.shortVersion = xml.readElementText().trimmed();
    } else if (xml.namespaceUri().isEmpty() && name == u"link") {
      fields.link = xml.readElementText().trimmed();
    } else if (xml.namespaceUri().isEmpty() && name == u"enclosure") {
      const auto attributes = xml.attributes();
      fields.enclosureUrl = attributes.value(QLatin1String("url")).toString().trimmed();
      fields.enclosureVersion = attributes.value(kSparkleNamespace, QLatin1String("version")).toString().trimmed();
      fields.enclosureShortVersion = attributes.value(kSparkleNamespace, QLatin1String("shortVersionString")).toString().trimmed();
      xml.skipCurrentElement();
    } else {
      xml.skipCurrentElement();
    }
  }
  return fields;
}

QUrl webPage(const QString& text, const QUrl& feed) {
  if (text.isEmpty()) return {};
  const QUrl url = feed.resolved(QUrl(text, QUrl::StrictMode));
  const bool web = url.scheme() == u"https" || url.scheme() == u"http";
  return url.isValid() && web && !url.host().isEmpty() ? url : QUrl();
}

}  // namespace

std::optional<int> compareVersions(QStringView a, QStringView b) {
  auto left = versionParts(a), right = versionParts(b);
  if (!left || !right) return std::nullopt;
  const auto size = std::max(left->size(), right->size());
  left->resize(size);
  right->resize(size);
  for (qsizetype i = 0; i < size; ++i)
    if ((*left)[i] != (*right)[i]) return (*left)[i] < (*right)[i] ? -1 : 1;
  return 0;
}

std::expected<AppcastItem, QString> newestAppcastItem(QByteArrayView bytes, const QUrl& feed) {
  QXmlStreamReader xml(bytes.toByteArray());
  if (!xml.readNextStartElement() || xml.name() != u"rss") {
    return std::unexpected(xml.hasError() ? QStringLiteral("not XML: %1").arg(xml.errorString())
                                          : QStringLiteral("not an RSS feed"));
  }
  std::optional<AppcastItem> newest;
  qsizetype passedOver = 0;
  while (xml.readNextStartElement()) {
    if (xml.name() != u"channel") {
      xml.skipCurrentElement();
      continue;
    }
    while (xml.readNextStartElement()) {
      if (xml.name() != u"item") {
        xml.skipCurrentElement();
        continue;
      }
      const auto fields = readItem(xml);
      AppcastItem item;
      item.version = fields.version.isEmpty() ? fields.enclosureVersion : fields.version;
      const auto shortVersion = fields.shortVersion.isEmpty() ? fields.enclosureShortVersion : fields.shortVersion;
      item.shownVersion = shortVersion.isEmpty() ? item.version : shortVersion;
      item.page = webPage(fields.link, feed);
      if (item.page.isEmpty()) item.page = webPage(fields.enclosureUrl, feed);
      if (!versionParts(item.version) || item.page.isEmpty()) {
        ++passedOver;
        continue;
      }
      if (!newest || compareVersions(item.version, newest->version) > 0) newest = std::move(item);
    }
  }
  if (xml.hasError()) {
    return std::unexpected(
        QStringLiteral("malformed XML at line %1: %2").arg(xml.lineNumber()).arg(xml.errorString()));
  }
  if (!newest) {
    return std::unexpected(passedOver == 0 ? QStringLiteral("no release listed")
                                           : QStringLiteral("no release with a numeric version and a web page "
                                                            "(%1 passed over)")
                                                 .arg(passedOver));
  }
  return *newest;
}

}  // namespace brontide::ui
