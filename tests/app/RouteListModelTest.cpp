#include <gtest/gtest.h>

#include <QCoreApplication>
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

struct Row {
  QString name, stateText, symbol;
  bool selected, choosable, local;
  double volume;
  friend bool operator==(const Row&, const Row&) = default;
};

void PrintTo(const Row& r, std::ostream* os) {
  *os << r.name.toStdString() << " '" << r.stateText.toStdString() << "' " << r.symbol.toStdString()
      << (r.selected ? " ticked" : "") << (r.choosable ? "" : " disabled") << (r.local ? " local" : "") << " "
      << r.volume;
}

std::vector<Row> rows(const RouteListModel& model) {
  std::vector<Row> out;
  for (int i = 0; i < model.rowCount(); ++i) {
    const auto at = model.index(i);
    out.push_back({model.data(at, RouteListModel::nameRole).toString(),
                   model.data(at, RouteListModel::stateTextRole).toString(),
                   model.data(at, RouteListModel::symbolRole).toString(),
                   model.data(at, RouteListModel::selectedRole).toBool(),
                   model.data(at, RouteListModel::choosableRole).toBool(),
                   model.data(at, RouteListModel::localRole).toBool(),
                   model.data(at, RouteListModel::volumeRole).toDouble()});
  }
  return out;
}

// The menu's rows over a real route catalogue on fakes.
class RouteListModelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "RouteListModelTest";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  void discover() {
    routes.start();
    // _raop._tcp first, then the companion _airplay._tcp records.
    browser.browsed[0].second.resultsChanged(
        {raop("AA@Cocina", 5001), raop("BB@Salón", 5002), raop("CC@Dormitorio", 5003, {{"pw", "true"}})});
    browser.browsed[1].second.resultsChanged({ServiceResult{.name = "Cocina", .txt = Txt{{"model", "AudioAccessory5,1"}},
                                                            .local = false, .address = "127.0.0.1", .port = 7000}});
    queue.runReady();
  }

  fakes::VirtualMainQueue queue;
  fakes::RecordingLog log;
  fakes::FoldingCollator collator;
  fakes::FakeServiceBrowser browser;
  fakes::FakeAirPlayOutput output;
  AirPlayRoutes routes{browser, output, queue, collator, log, "Portátil"};
};

TEST_F(RouteListModelTest, WithoutCatalogue_OnlyThisComputer) {
  RouteListModel model(nullptr);
  EXPECT_EQ(rows(model), (std::vector<Row>{{"Este ordenador", "", "laptopcomputer", true, true, true, 1.0}}));
  EXPECT_FALSE(model.active());
  model.select("Este ordenador", false);
  model.setVolume("Este ordenador", 0.2);
  EXPECT_EQ(model.rowCount(), 1);
}

TEST_F(RouteListModelTest, Rows_FollowTheCatalogueWithStatesAndActive) {
  RouteListModel model(&routes);
  QSignalSpy active(&model, &RouteListModel::activeChanged);
  discover();
  EXPECT_EQ(rows(model), (std::vector<Row>{
                             {"Este ordenador", "", "laptopcomputer", true, true, true, 1.0},
                             {"Cocina", "", "homepodmini.fill", false, true, false, 1.0},
                             {"Dormitorio", QString::fromUtf8("Requiere contraseña"), "hifispeaker.fill", false, false, false, 1.0},
                             {QString::fromUtf8("Salón"), "", "hifispeaker.fill", false, true, false, 1.0},
                         }));

  model.select("Cocina", true);
  EXPECT_TRUE(model.active());
  EXPECT_EQ(active.count(), 1);
  EXPECT_EQ(output.route, fakes::FakeAirPlayOutput::Route::receivers);
  EXPECT_FALSE(rows(model)[0].selected);
  EXPECT_TRUE(rows(model)[1].selected);

  output.fail("Cocina");
  EXPECT_EQ(rows(model)[1].stateText, "No responde");
  EXPECT_TRUE(model.active()) << "a chosen receiver that drops stays chosen";

  model.select("Dormitorio", true);
  EXPECT_FALSE(rows(model)[2].selected) << "a receiver that wants a password cannot be chosen";

  model.select("Este ordenador", true);
  EXPECT_FALSE(model.active());
  EXPECT_EQ(active.count(), 2);
  EXPECT_EQ(output.route, fakes::FakeAirPlayOutput::Route::computer);
}

TEST_F(RouteListModelTest, Volume_ChangesTheRowInPlace) {
  discover();
  RouteListModel model(&routes);
  model.select("Cocina", true);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.setVolume("Cocina", 0.25);
  EXPECT_DOUBLE_EQ(rows(model)[1].volume, 0.25);
  EXPECT_DOUBLE_EQ(output.volumes.at(output.sinkOf("Cocina")), 0.25);
  // A slider being dragged lives in that row: the row must not be rebuilt.
  EXPECT_EQ(reset.count(), 0);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.front().front().value<QModelIndex>().row(), 1);
}

}  // namespace
}  // namespace brontide::ui
