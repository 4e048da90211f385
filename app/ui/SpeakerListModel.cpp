#include "app/ui/SpeakerListModel.h"

#include <QCoreApplication>
#include <QVariantMap>

#include "app/ui/PanelTexts.h"
#include "speaker_browser/SpeakerBrowser.h"

namespace brontide::ui {

namespace {

QVariantList rowsFor(const std::vector<Speaker>& speakers) {
  QVariantList rows;
  for (const auto& speaker : speakers) {
    // "Altavoz AirPlay" is a translation key; the model names are shown as they are.
    rows.append(QVariantMap{
        {QStringLiteral("name"), QString::fromStdString(speaker.name)},
        {QStringLiteral("kind"), QCoreApplication::translate(kTextContext, speaker.kind().c_str())},
        {QStringLiteral("symbol"), QString::fromStdString(speaker.symbol())},
    });
  }
  return rows;
}

}  // namespace

SpeakerListModel::SpeakerListModel(SpeakerBrowser& browser, QObject* parent)
    : QObject(parent),
      browser_(browser),
      shown_(browser.speakers()),
      speakers_(rowsFor(shown_)),
      countText_(speakerCountLine(count())),
      searching_(browser.searching()) {
  connection_ = browser_.changed.connect([this] { pull(); });
}

SpeakerListModel::~SpeakerListModel() { browser_.changed.disconnect(connection_); }

void SpeakerListModel::pull() {
  if (const auto& speakers = browser_.speakers(); speakers != shown_) {
    shown_ = speakers;
    speakers_ = rowsFor(shown_);
    countText_ = speakerCountLine(count());
    emit speakersChanged();
  }
  if (const bool searching = browser_.searching(); searching != searching_) {
    searching_ = searching;
    emit searchingChanged();
  }
}

}  // namespace brontide::ui
