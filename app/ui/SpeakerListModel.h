#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

#include <cstddef>
#include <vector>

#include "speaker_browser/Speaker.h"

namespace brontide {
class SpeakerBrowser;
}

namespace brontide::ui {

// The speaker browser as QML sees it, notified only on a real change. Main thread; the browser must
// outlive the model.
class SpeakerListModel final : public QObject {
  Q_OBJECT
  // Each entry: {name, kind, symbol}, in the browser's order.
  Q_PROPERTY(QVariantList speakers READ speakers NOTIFY speakersChanged)
  Q_PROPERTY(int count READ count NOTIFY speakersChanged)
  Q_PROPERTY(QString countText READ countText NOTIFY speakersChanged)
  Q_PROPERTY(bool searching READ searching NOTIFY searchingChanged)

 public:
  explicit SpeakerListModel(SpeakerBrowser& browser, QObject* parent = nullptr);
  ~SpeakerListModel() override;

  [[nodiscard]] QVariantList speakers() const { return speakers_; }
  [[nodiscard]] int count() const { return static_cast<int>(shown_.size()); }
  [[nodiscard]] QString countText() const { return countText_; }
  [[nodiscard]] bool searching() const { return searching_; }

 signals:
  void speakersChanged();
  void searchingChanged();

 private:
  void pull();

  SpeakerBrowser& browser_;
  std::size_t connection_ = 0;
  std::vector<Speaker> shown_;
  QVariantList speakers_;
  QString countText_;
  bool searching_ = false;
};

}  // namespace brontide::ui
