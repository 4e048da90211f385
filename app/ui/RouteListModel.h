#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

#include "speaker_browser/AirPlayRoutes.h"

namespace brontide::ui {

// The AirPlay menu's rows: "Este ordenador" and every receiver, each with its state text, tick, volume and
// whether it can be chosen. Without a route catalogue only "Este ordenador" is listed. Main thread; the
// catalogue must outlive the model.
class RouteListModel final : public QAbstractListModel {
  Q_OBJECT
  // Some receiver is chosen: the player's sound goes to AirPlay.
  Q_PROPERTY(bool active READ active NOTIFY activeChanged)
  // The receivers keep their own volume (the sliders are a gain applied before sending).
  Q_PROPERTY(bool receiversKeepTheirVolume READ receiversKeepTheirVolume CONSTANT)
  // The receiver whose password is asked for (empty: none), why it is asked again, and whether the keyring is
  // missing (the password then lasts for this run).
  Q_PROPERTY(QString passwordName READ passwordName NOTIFY passwordRequestChanged)
  Q_PROPERTY(QString passwordProblem READ passwordProblem NOTIFY passwordRequestChanged)
  Q_PROPERTY(bool keyringMissing READ keyringMissing NOTIFY passwordRequestChanged)

 public:
  enum Role {
    nameRole = Qt::UserRole + 1,
    stateTextRole,  // "No responde", "Requiere contraseña", "Solo AirPlay 2 (no compatible)" or empty
    selectedRole,
    choosableRole,      // false for receivers that want a password no one can give or offer only AirPlay 2
    passwordKnownRole,  // a password is held: "Olvidar contraseña" is offered
    volumeRole,     // 0…1
    localRole,      // "Este ordenador", which has no volume of its own here
    symbolRole,
  };

  explicit RouteListModel(AirPlayRoutes* routes, QObject* parent = nullptr);
  ~RouteListModel() override;

  [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

  [[nodiscard]] bool active() const { return active_; }
  [[nodiscard]] bool receiversKeepTheirVolume() const { return routes_ && routes_->receiversKeepTheirVolume(); }

  [[nodiscard]] QString passwordName() const;
  [[nodiscard]] QString passwordProblem() const;
  [[nodiscard]] bool keyringMissing() const { return routes_ && routes_->keyringMissing(); }

  // Ticks or unticks a row.
  Q_INVOKABLE void select(const QString& name, bool on);
  Q_INVOKABLE void setVolume(const QString& name, double volume);
  Q_INVOKABLE void providePassword(const QString& name, const QString& password, bool remember);
  Q_INVOKABLE void cancelPassword();
  Q_INVOKABLE void forgetPassword(const QString& name);

 signals:
  void activeChanged();
  void passwordRequestChanged();

 private:
  void pull();

  AirPlayRoutes* routes_;
  std::size_t connection_ = 0;
  std::vector<Route> shown_;
  bool active_ = false;
  std::optional<AirPlayRoutes::PasswordRequest> request_;
  bool keyringMissing_ = false;
};

}  // namespace brontide::ui
