#include <gtest/gtest.h>

#include <QSignalSpy>

#include "app/ui/RouteListModel.h"
#include "fakes/RecordingLog.h"
#include "fakes/VirtualMainQueue.h"
#include "speaker_browser/AirPlayRoutes.h"
#include "speaker_browser/FakeAirPlayOutput.h"
#include "speaker_browser/FakeServiceBrowser.h"
#include "speaker_browser/FoldingCollator.h"

namespace brontide::ui {
namespace {

using Txt = std::map<std::string, std::string>;

ServiceResult raop(std::string name, std::uint16_t port, Txt txt = {{"et", "0,1"}}) {
  return ServiceResult{.name = std::move(name), .txt = std::move(txt), .local = false, .address = "127.0.0.1",
                       .port = port};
}

// "name 'state text' symbol [ticked] [disabled] [local] volume" per row.
std::vector<std::string> rows(const RouteListModel& model) {
  std::vector<std::string> out;
  for (int i = 0; i < model.rowCount(); ++i) {
    const auto at = model.index(i);
    const auto role = [&](int r) { return model.data(at, r); };
    auto row = QStringLiteral("%1 '%2' %3").arg(role(RouteListModel::nameRole).toString(),
                                               role(RouteListModel::stateTextRole).toString(),
                                               role(RouteListModel::symbolRole).toString());
    if (role(RouteListModel::selectedRole).toBool()) row += " ticked";
    if (!role(RouteListModel::choosableRole).toBool()) row += " disabled";
    if (role(RouteListModel::localRole).toBool()) row += " local";
    out.push_back((row + ' ' + QString::number(role(RouteListModel::volumeRole).toDouble())).toStdString());
  }
  return out;
}

// The menu's rows over a real route catalogue on fakes.
class RouteListModelTest : public ::testing::Test {
 protected:
  fakes::VirtualMainQueue queue;
  fakes::RecordingLog log;
  fakes::FoldingCollator collator;
  fakes::FakeServiceBrowser browser;
  fakes::FakeAirPlayOutput output;
  AirPlayRoutes routes{browser, output, queue, collator, log, "Portátil"};
};

TEST_F(RouteListModelTest, WithoutCatalogue_OnlyThisComputer) {
  RouteListModel model(nullptr);
  EXPECT_EQ(rows(model), std::vector<std::string>{"Este ordenador '' laptopcomputer ticked local 1"});
  EXPECT_FALSE(model.active());
  model.select("Este ordenador", false);
  model.setVolume("Este ordenador", 0.2);
  EXPECT_EQ(model.rowCount(), 1);
}

TEST_F(RouteListModelTest, Rows_FollowTheCatalogueWithStatesVolumesAndActive) {
  RouteListModel model(&routes);
  QSignalSpy active(&model, &RouteListModel::activeChanged);
  routes.start();
  // _raop._tcp first, then the companion _airplay._tcp records.
  browser.browsed[0].second.resultsChanged(
      {raop("AA@Cocina", 5001), raop("BB@Salón", 5002), raop("CC@Dormitorio", 5003, {{"pw", "true"}})});
  browser.browsed[1].second.resultsChanged({raop("Cocina", 7000, {{"model", "AudioAccessory5,1"}})});
  queue.runReady();
  EXPECT_EQ(rows(model), (std::vector<std::string>{"Este ordenador '' laptopcomputer ticked local 1",
                                                    "Cocina '' homepodmini.fill 1",
                                                    "Dormitorio 'Requiere contraseña' hifispeaker.fill disabled 1",
                                                    "Salón '' hifispeaker.fill 1"}));
  EXPECT_EQ(rows(RouteListModel(&routes)), rows(model)) << "a model made later starts from the catalogue";

  model.select("Cocina", true);
  EXPECT_TRUE(model.active());
  EXPECT_EQ(active.count(), 1);
  EXPECT_EQ(output.route, fakes::FakeAirPlayOutput::Route::receivers);
  EXPECT_EQ(rows(model)[0], "Este ordenador '' laptopcomputer local 1");
  EXPECT_EQ(rows(model)[1], "Cocina '' homepodmini.fill ticked 1");

  // A slider being dragged lives in its row: the row changes in place, never rebuilt.
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.setVolume("Cocina", 0.25);
  EXPECT_EQ(rows(model)[1], "Cocina '' homepodmini.fill ticked 0.25");
  EXPECT_DOUBLE_EQ(output.volumes.at(output.sinkOf("Cocina")), 0.25);
  EXPECT_EQ(reset.count(), 0);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.front().front().value<QModelIndex>().row(), 1);

  output.fail("Cocina");
  EXPECT_EQ(rows(model)[1], "Cocina 'No responde' homepodmini.fill ticked 0.25");
  EXPECT_TRUE(model.active()) << "a chosen receiver that drops stays chosen";

  model.select("Dormitorio", true);
  EXPECT_EQ(rows(model)[2], "Dormitorio 'Requiere contraseña' hifispeaker.fill disabled 1")
      << "a receiver that wants a password cannot be chosen";

  model.select("Este ordenador", true);
  EXPECT_FALSE(model.active());
  EXPECT_EQ(active.count(), 2);
  EXPECT_EQ(output.route, fakes::FakeAirPlayOutput::Route::computer);
}

}  // namespace
}  // namespace brontide::ui
