#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

#include "app/ui/Appcast.h"
#include "app/ui/Updates.h"
#include "fakes/FakeWorkspace.h"

namespace brontide::ui {
namespace {

QByteArray appcast(const QByteArray& items) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Brontide</title>)" +
         items + "</channel></rss>";
}

// Answers every request on 127.0.0.1 with one fixed HTTP response.
class FeedServer {
 public:
  explicit FeedServer(QByteArray body, QByteArray status = "200 OK") {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this, body, status] {
      while (auto* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, body, status] {
          if (!socket->readAll().contains("\r\n\r\n")) return;
          socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
          socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  [[nodiscard]] QUrl url(const char* path = "/appcast.xml") const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(QLatin1String(path)));
  }

 private:
  QTcpServer server_;
};

class UpdatesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "UpdatesTest";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  // Runs one check to its end; the deadline only guards against a hang.
  void check(Updates& updates) {
    QSignalSpy checked(&updates, &Updates::checked);
    updates.checkForUpdates();
    EXPECT_FALSE(updates.canCheck()) << "a second check must wait for the first";
    ASSERT_TRUE(checked.wait(10000));
    EXPECT_TRUE(updates.canCheck());
  }

  fakes::FakeWorkspace workspace;
};

TEST_F(UpdatesTest, WithoutFeed_CannotCheck) {
  Updates updates(QUrl(), "0.1.0", workspace);
  EXPECT_FALSE(updates.canCheck());
  updates.checkForUpdates();
  EXPECT_FALSE(updates.canCheck());
  EXPECT_TRUE(updates.result().isEmpty());
}

TEST_F(UpdatesTest, Check_ReportsWhatTheFeedOffersAndOpensOnlyANewerPage) {
  const QString failed = QString::fromUtf8("No se pudo comprobar si hay actualizaciones.");
  struct Case {
    QByteArray body;
    QString result;
    const char* page;  // relative to the server, empty when none
    QByteArray status = "200 OK";
    bool unreachable = false;
  };
  const Case cases[] = {
      {appcast(R"(<item><title>0.1.0</title><sparkle:version>0.1.0</sparkle:version>
                    <enclosure url="/old.tar.gz" length="1" type="application/octet-stream"/></item>
                  <item><title>0.2</title><link>/releases/0.2</link><sparkle:version>0.2.0</sparkle:version>
                    <sparkle:shortVersionString>0.2</sparkle:shortVersionString>
                    <enclosure url="/brontide-0.2.tar.gz" length="1" type="application/octet-stream"/></item>)"),
       QString::fromUtf8("Hay una versión nueva: 0.2"), "/releases/0.2"},
      {appcast(R"(<item><link>/releases/0.1</link><sparkle:version>0.1</sparkle:version></item>)"),
       QString::fromUtf8("Tienes la última versión."), ""},
      {"<rss><channel><item><sparkle:version>", failed, ""},
      {appcast("<item><link>/x</link><sparkle:version>9</sparkle:version></item>"), failed, "", "404 Not Found"},
      {"", failed, "", "200 OK", true},
  };
  for (const auto& c : cases) {
    QUrl feed;
    std::unique_ptr<FeedServer> server;
    if (c.unreachable) {
      QTcpServer gone;  // a port nobody listens on once it is closed
      ASSERT_TRUE(gone.listen(QHostAddress::LocalHost));
      feed = QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(gone.serverPort()));
    } else {
      server = std::make_unique<FeedServer>(c.body, c.status);
      feed = server->url();
    }
    Updates updates(feed, "0.1.0", workspace);
    ASSERT_TRUE(updates.canCheck());
    check(updates);
    EXPECT_EQ(updates.result(), c.result) << c.body.toStdString();
    const QString page = *c.page ? server->url(c.page).toString() : QString();
    EXPECT_EQ(updates.newVersionPage().toString(), page);
    workspace.opened.clear();
    updates.openNewVersionPage();
    EXPECT_EQ(workspace.opened, page.isEmpty() ? std::vector<std::string>{} : std::vector{page.toStdString()});
  }
}

TEST(AppcastTest, CompareVersions_NumericDotted) {
  EXPECT_EQ(compareVersions(u"1.10", u"1.9"), 1);
  EXPECT_EQ(compareVersions(u"1.0", u"1"), 0);
  EXPECT_EQ(compareVersions(u"0.1.0", u"0.1.1"), -1);
  EXPECT_EQ(compareVersions(u"2", u"10"), -1);
  EXPECT_EQ(compareVersions(u"1.0b3", u"1.0"), std::nullopt);
  EXPECT_EQ(compareVersions(u"1..0", u"1.0"), std::nullopt);
  EXPECT_EQ(compareVersions(u"", u"1.0"), std::nullopt);
}

TEST(AppcastTest, NewestItem_IsTheHighestVersionWithAWebPageWhateverTheOrder) {
  const QUrl feed(QStringLiteral("https://example.org/brontide/appcast.xml"));
  const auto newest = newestAppcastItem(
      appcast(R"(<item><link>https://example.org/r/1.10</link><sparkle:version>1.10</sparkle:version></item>
                 <item><link>https://example.org/r/1.9</link><sparkle:version>1.9</sparkle:version></item>
                 <item><link>https://example.org/r/beta</link><sparkle:version>2.0b1</sparkle:version></item>
                 <item><link>file:///etc/passwd</link><sparkle:version>9.0</sparkle:version></item>
                 <item><enclosure url="dl/1.10.1.tar.gz" sparkle:version="1.10.1"
                                  sparkle:shortVersionString="1.10.1 beta"/></item>)"),
      feed);
  ASSERT_TRUE(newest) << newest.error().toStdString();
  EXPECT_EQ(newest->version, "1.10.1");
  EXPECT_EQ(newest->shownVersion, "1.10.1 beta");
  EXPECT_EQ(newest->page, QUrl(QStringLiteral("https://example.org/brontide/dl/1.10.1.tar.gz")));
  const QByteArray unusablePage = "<item><link>file:///etc/passwd</link><sparkle:version>9.0</sparkle:version></item>";
  for (const auto& bad : {appcast(""), QByteArray("<html><body>Not found</body></html>"), appcast(unusablePage)})
    EXPECT_FALSE(newestAppcastItem(bad, feed)) << bad.toStdString();
}

}  // namespace
}  // namespace brontide::ui
