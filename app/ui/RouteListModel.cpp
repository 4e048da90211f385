#include "app/ui/RouteListModel.h"

#include <QCoreApplication>

#include <algorithm>

#include "app/ui/PanelTexts.h"
#include "speaker_browser/Speaker.h"

namespace brontide::ui {
namespace {

std::vector<Route> onlyThisComputer() {
  Route computer;
  computer.name = kLocalRouteName;
  computer.local = true;
  computer.state = RouteState::playing;
  computer.selected = true;
  return {computer};
}

bool sameRows(const std::vector<Route>& a, const std::vector<Route>& b) {
  return std::ranges::equal(a, b, [](const Route& x, const Route& y) { return x.name == y.name; });
}

}  // namespace

RouteListModel::RouteListModel(AirPlayRoutes* routes, QObject* parent)
    : QAbstractListModel(parent), routes_(routes), shown_(routes ? routes->routes() : onlyThisComputer()) {
  active_ = std::ranges::any_of(shown_, [](const Route& r) { return !r.local && r.selected; });
  if (routes_) connection_ = routes_->changed.connect([this] { pull(); });
}

RouteListModel::~RouteListModel() {
  if (routes_) routes_->changed.disconnect(connection_);
}

int RouteListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant RouteListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= shown_.size()) return {};
  const Route& route = shown_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case nameRole: return QString::fromStdString(route.name);
    case stateTextRole: {
      const auto text = stateText(route.state);
      return text.empty() ? QString() : QCoreApplication::translate(kTextContext, text.c_str());
    }
    case selectedRole: return route.selected;
    case choosableRole: return route.enabled();
    case passwordKnownRole: return route.passwordKnown;
    case volumeRole: return route.volume;
    case localRole: return route.local;
    case symbolRole:
      return QString::fromStdString(route.local ? std::string("laptopcomputer") : Speaker{route.name, route.model}.symbol());
    default: return {};
  }
}

QHash<int, QByteArray> RouteListModel::roleNames() const {
  return {{nameRole, "name"},         {stateTextRole, "stateText"}, {selectedRole, "selected"},
          {choosableRole, "choosable"}, {volumeRole, "volume"},       {localRole, "local"},
          {symbolRole, "symbol"},     {passwordKnownRole, "passwordKnown"}};
}

void RouteListModel::pull() {
  const auto& routes = routes_->routes();
  if (!sameRows(routes, shown_)) {
    beginResetModel();
    shown_ = routes;
    endResetModel();
  } else {
    // Same rows: change them in place, so a slider being dragged keeps its row.
    for (std::size_t i = 0; i < routes.size(); ++i) {
      if (routes[i] == shown_[i]) continue;
      shown_[i] = routes[i];
      const auto at = index(static_cast<int>(i));
      emit dataChanged(at, at);
    }
  }
  if (routes_->passwordRequest() != request_ || routes_->keyringMissing() != keyringMissing_) {
    request_ = routes_->passwordRequest();
    keyringMissing_ = routes_->keyringMissing();
    emit passwordRequestChanged();
  }
  const bool active = std::ranges::any_of(shown_, [](const Route& r) { return !r.local && r.selected; });
  if (active == active_) return;
  active_ = active;
  emit activeChanged();
}

void RouteListModel::select(const QString& name, bool on) {
  if (routes_) routes_->select(name.toStdString(), on);
}

void RouteListModel::setVolume(const QString& name, double volume) {
  if (routes_) routes_->setVolume(name.toStdString(), volume);
}

QString RouteListModel::passwordName() const {
  return request_ ? QString::fromStdString(request_->name) : QString();
}

QString RouteListModel::passwordProblem() const {
  if (!request_ || request_->problem.empty()) return {};
  return QCoreApplication::translate(kTextContext, request_->problem.c_str());
}

void RouteListModel::providePassword(const QString& name, const QString& password, bool remember) {
  if (routes_) routes_->providePassword(name.toStdString(), password.toStdString(), remember);
}

void RouteListModel::cancelPassword() {
  if (routes_) routes_->cancelPassword();
}

void RouteListModel::forgetPassword(const QString& name) {
  if (routes_) routes_->forgetPassword(name.toStdString());
}

}  // namespace brontide::ui
