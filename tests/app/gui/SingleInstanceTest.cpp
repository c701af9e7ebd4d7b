// The single-instance hand-over between two local-socket endpoints in one
// process, and the message format on its own.
#include <atomic>
#include <future>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/gui/SingleInstance.h"
#include "support/TestSupport.h"

namespace kestrune::test {
namespace {

TEST(HandOverMessage, RoundTripsNamesWithSpacesAndAnyScript) {
  for (const QString& name : {QString(), QString("/data/My Fields/north 40.shp"), QString("/tmp/Äcker/ñ ü.shp")}) {
    const QByteArray bytes = EncodeHandOver(name);
    EXPECT_EQ(bytes.size(), 8 + name.toUtf8().size());
    EXPECT_EQ(quint8(bytes[2]), 0x08);
    EXPECT_EQ(quint8(bytes[3]), 0x57);
    QString decoded = "unset";
    int used = 0;
    ASSERT_EQ(DecodeHandOver(bytes + "trailing", decoded, used), 1);
    EXPECT_EQ(decoded, name);
    EXPECT_EQ(used, bytes.size());
  }
}

TEST(HandOverMessage, PartialWrongAndOversizedMessages) {
  const QByteArray whole = EncodeHandOver("/data/north.shp");
  QString name;
  int used = 0;
  // Every proper prefix asks for more.
  for (int n = 0; n < whole.size(); ++n) EXPECT_EQ(DecodeHandOver(whole.left(n), name, used), 0) << n;
  // Anything but the hand-over number is refused as soon as the number is there.
  EXPECT_EQ(DecodeHandOver(QByteArray("GET / HTTP/1.0\r\n"), name, used), -1);
  EXPECT_EQ(DecodeHandOver(QByteArray("\0\0\x08\x56", 4), name, used), -1);
  // The longest name allowed passes, one byte more is refused without waiting for it.
  const QString longest(kMaxHandOverBytes, QChar('a'));
  EXPECT_EQ(DecodeHandOver(EncodeHandOver(longest), name, used), 1);
  EXPECT_EQ(name.size(), kMaxHandOverBytes);
  EXPECT_EQ(DecodeHandOver(EncodeHandOver(longest + "b").left(8), name, used), -1);
}

TEST(HandOverChannel, NamesDependOnTitleAndUserAndAreSafe) {
  const QString a = InstanceChannelName("Quillmer Kestrune", "grower");
  EXPECT_EQ(a, InstanceChannelName("Quillmer Kestrune", "grower"));
  EXPECT_TRUE(a.startsWith("kestrune-Quillmer_Kestrune-grower-")) << a.toStdString();
  EXPECT_NE(a, InstanceChannelName("Quillmer Kestrune", "agronomist"));
  EXPECT_NE(a, InstanceChannelName("Κεστρούνη", "grower"));
  // Titles in other scripts, or with slashes, still make distinct, plain names.
  const QString greek = InstanceChannelName("Κεστρούνη", "grower");
  const QString slashed = InstanceChannelName("A/B", "x/y");
  for (const QString& n : {a, greek, slashed}) {
    for (QChar c : n) {
      EXPECT_TRUE(c.unicode() < 128 && (c.isLetterOrNumber() || c == '-' || c == '_')) << n.toStdString();
    }
  }
  EXPECT_NE(InstanceChannelName("AB", "x"), InstanceChannelName("A B", "x"));
  EXPECT_FALSE(CurrentUserName().isEmpty());
}

// A channel name no other test or viewer uses.
QString UniqueChannel() {
  static std::atomic<int> counter{0};
  return QString("kestrune-test-%1-%2").arg(::getpid()).arg(counter++);
}

// Runs the later start's hand-over on another thread (it blocks until answered)
// while this thread serves the listener's events.
bool HandOverWhileServing(const QString& channel, const QString& name, QSignalSpy* spy = nullptr) {
  auto result = std::async(std::launch::async, [channel, name] { return HandOverToRunningInstance(channel, name, 5000); });
  if (spy) (void)QTest::qWaitFor([&] { return spy->count() > 0; }, 5000);
  while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) QTest::qWait(5);
  return result.get();
}

TEST(HandOverChannel, ASecondStartHandsItsFileNameToTheFirst) {
  const QString channel = UniqueChannel();
  CInstanceServer first;
  ASSERT_TRUE(first.Listen(channel));
  QSignalSpy spy(&first, &CInstanceServer::HandOverReceived);

  EXPECT_TRUE(HandOverWhileServing(channel, "/data/My Fields/north 40.shp", &spy));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "/data/My Fields/north 40.shp");

  // A start without a file only asks the first to come forward.
  EXPECT_TRUE(HandOverWhileServing(channel, QString(), &spy));
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).toString(), "");
}

TEST(HandOverChannel, NobodyListeningMeansNoHandOver) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(HandOverToRunningInstance(UniqueChannel(), "/data/a.shp", 2000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "refused at once, no waiting";
}

TEST(HandOverChannel, GarbageIsDroppedAndTheListenerKeepsServing) {
  const QString channel = UniqueChannel();
  CInstanceServer first;
  ASSERT_TRUE(first.Listen(channel));
  QSignalSpy spy(&first, &CInstanceServer::HandOverReceived);

  QLocalSocket rogue;
  rogue.connectToServer(channel);
  ASSERT_TRUE(rogue.waitForConnected(2000));
  rogue.write("GET /etc/passwd HTTP/1.0\r\n\r\n");
  rogue.flush();
  EXPECT_TRUE(QTest::qWaitFor([&] { return rogue.state() == QLocalSocket::UnconnectedState; }, 3000));
  EXPECT_EQ(spy.count(), 0);

  EXPECT_TRUE(HandOverWhileServing(channel, "/data/south.shp", &spy));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "/data/south.shp");
}

TEST(HandOverChannel, SettleMakesTheFirstListenAndTheSecondHandOver) {
  const QString channel = UniqueChannel();
  CInstanceServer first;
  EXPECT_EQ(SettleInstance(channel, QString(), first), InstanceRole::First);
  QSignalSpy spy(&first, &CInstanceServer::HandOverReceived);

  auto second = std::async(std::launch::async, [channel] {
    CInstanceServer unused;
    return SettleInstance(channel, "/data/My Fields/east.shp", unused);
  });
  while (second.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) QTest::qWait(5);
  EXPECT_EQ(second.get(), InstanceRole::HandedOver);
  (void)QTest::qWaitFor([&] { return spy.count() > 0; }, 2000);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "/data/My Fields/east.shp");
}

TEST(HandOverChannel, ASocketLeftByACrashedInstanceIsTakenOver) {
  const QString channel = UniqueChannel();
  // A bound socket file nobody accepts on, as a killed viewer leaves it.
  const std::string path = QDir(QDir::tempPath()).filePath(channel).toStdString();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::copy(path.begin(), path.end(), addr.sun_path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  ASSERT_TRUE(QFile::exists(QString::fromStdString(path)));

  CInstanceServer first;
  EXPECT_EQ(SettleInstance(channel, QString(), first), InstanceRole::First);
  QSignalSpy spy(&first, &CInstanceServer::HandOverReceived);
  EXPECT_TRUE(HandOverWhileServing(channel, "/data/west.shp", &spy));
  ASSERT_EQ(spy.count(), 1);
}

}  // namespace
}  // namespace kestrune::test
