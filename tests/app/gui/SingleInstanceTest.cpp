// The single-instance hand-over between two local-socket endpoints in one
// process, and the message format on its own.
#include <atomic>
#include <future>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

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

// One user on two displays or in two login sessions gets two sockets; the
// session comes from the environment.
TEST(HandOverChannel, NamesDependOnTheDesktopSession) {
  const QString none = InstanceChannelName("Quillmer Kestrune", "grower");
  const QString first = InstanceChannelName("Quillmer Kestrune", "grower", "|:0|3");
  EXPECT_EQ(first, InstanceChannelName("Quillmer Kestrune", "grower", "|:0|3"));
  for (const char* other : {"|:1|3", "|:0|4", "wayland-0||3"}) {
    EXPECT_NE(first, InstanceChannelName("Quillmer Kestrune", "grower", other)) << other;
  }
  EXPECT_NE(first, none);
  EXPECT_TRUE(first.startsWith("kestrune-Quillmer_Kestrune-grower-"));
  struct Env {
    const char* wayland;
    const char* display;
    const char* session;
    const char* expected;
  };
  const QByteArray saved[] = {qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"), qgetenv("XDG_SESSION_ID")};
  for (const Env& e : {Env{"", ":1", "7", "|:1|7"}, Env{"wayland-1", ":0", "", "wayland-1|:0|"}, Env{"", "", "", ""}}) {
    qputenv("WAYLAND_DISPLAY", e.wayland);
    qputenv("DISPLAY", e.display);
    qputenv("XDG_SESSION_ID", e.session);
    EXPECT_EQ(CurrentDesktopSession(), QString(e.expected));
  }
  qputenv("WAYLAND_DISPLAY", saved[0]);
  qputenv("DISPLAY", saved[1]);
  qputenv("XDG_SESSION_ID", saved[2]);
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
  rogue.connectToServer(InstanceSocketPath(channel));
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
  const std::string path = QFile::encodeName(InstanceSocketPath(channel)).toStdString();
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

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value) : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    if (value.isNull()) qunsetenv(name);
    else qputenv(name, value);
  }
  ~ScopedEnv() {
    if (had_) qputenv(name_, old_);
    else qunsetenv(name_);
  }

 private:
  const char* name_;
  QByteArray old_;
  bool had_;
};

TEST(HandOverFolder, OnlyAFolderOfThisUsersOwnClosedToOthersIsPrivate) {
  TempDir dir;
  const auto make = [&](const char* name, mode_t mode) {
    const std::string path = (dir / name).string();
    ::mkdir(path.c_str(), mode);
    ::chmod(path.c_str(), mode);
    return QString::fromStdString(path);
  };
  const QString closed = make("closed", 0700);
  const QString groupReadable = make("group", 0750);
  const QString open = make("open", 0777);
  std::filesystem::create_directory_symlink(dir / "closed", dir / "link");
  WriteFileBytes(dir / "file", "x");
  const struct {
    QString path;
    bool isPrivate;
  } cases[] = {{closed, true},
               {groupReadable, false},
               {open, false},
               {QString::fromStdString((dir / "link").string()), false},
               {QString::fromStdString((dir / "file").string()), false},
               {QString::fromStdString((dir / "missing").string()), false},
               {QString(), false}};
  for (const auto& c : cases) EXPECT_EQ(IsPrivateFolder(c.path), c.isPrivate) << c.path.toStdString();
  if (::geteuid() == 0) {
    // Another user's folder, however closed, is not this user's.
    const QString foreign = make("foreign", 0700);
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    EXPECT_FALSE(IsPrivateFolder(foreign));
  }
}

TEST(HandOverFolder, RuntimeFolderThenAPrivateTemporaryOneThenTheCache) {
  TempDir dir;
  const QString runtime = QString::fromStdString((dir / "run").string());
  ::mkdir(QFile::encodeName(runtime).constData(), 0700);
  ScopedEnv tmp("TMPDIR", QFile::encodeName(QString::fromStdString((dir / "tmp").string())));
  ScopedEnv home("HOME", QFile::encodeName(QString::fromStdString((dir / "home").string())));
  std::filesystem::create_directory(dir / "tmp");
  std::filesystem::create_directory(dir / "home");
  {
    ScopedEnv xdg("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    EXPECT_EQ(InstanceSocketFolder(), runtime);
    EXPECT_EQ(InstanceSocketPath("kestrune-x"), runtime + "/kestrune-x");
  }
  // An unset or shared runtime folder is passed over for one of this user's own.
  ScopedEnv xdg("XDG_RUNTIME_DIR", QFile::encodeName(QString::fromStdString((dir / "tmp").string())));
  const QString own = QString::fromStdString((dir / "tmp").string()) + QString("/kestrune-%1").arg(::geteuid());
  EXPECT_EQ(InstanceSocketFolder(), own);
  EXPECT_TRUE(IsPrivateFolder(own));
  // One left too open by this user is closed again.
  ::chmod(QFile::encodeName(own).constData(), 0777);
  EXPECT_EQ(InstanceSocketFolder(), own);
  EXPECT_TRUE(IsPrivateFolder(own));
  if (::geteuid() == 0) {
    // Another user who took the name first cannot block the hand-over: the cache is used.
    ASSERT_EQ(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
    EXPECT_EQ(InstanceSocketFolder(), QString::fromStdString((dir / "home" / ".cache" / "kestrune").string()));
  }
}

TEST(HandOverName, RelativeNamesBecomeAbsoluteBeforeTheyAreHandedOver) {
  const QString here = QDir::currentPath();
  EXPECT_EQ(HandOverName("north.shp"), here + "/north.shp");
  EXPECT_EQ(HandOverName("farm/My Fields/north.shp"), here + "/farm/My Fields/north.shp");
  EXPECT_EQ(HandOverName("/data/north.shp"), "/data/north.shp");
  EXPECT_EQ(HandOverName(QString()), QString());
}

// A bound (and, with listenNow, listening) socket at the channel's path that
// never accepts, as a viewer hung in a long operation would leave it.
int StalledListener(const QString& channel, bool listenNow = true) {
  const std::string path = QFile::encodeName(InstanceSocketPath(channel)).toStdString();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::copy(path.begin(), path.end(), addr.sun_path);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (listenNow && ::listen(fd, 4) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(HandOverChannel, AStalledViewerKeepsItsSocketAndTheLaterStartRunsAlone) {
  const QString channel = UniqueChannel();
  const int fd = StalledListener(channel);
  ASSERT_GE(fd, 0);
  CInstanceServer later;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SettleInstance(channel, "/data/a.shp", later, 300), InstanceRole::Unavailable);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(QFile::exists(InstanceSocketPath(channel))) << "the hung viewer's socket was taken";
  EXPECT_TRUE(later.ServerName().isEmpty()) << "the later start listens too";
  ::close(fd);
  ::unlink(QFile::encodeName(InstanceSocketPath(channel)).constData());
}

TEST(HandOverChannel, AListenerOfAnotherUserGetsNoName) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  const QString channel = UniqueChannel();
  const int fd = StalledListener(channel, false);  // bound; it listens below as another user
  ASSERT_GE(fd, 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // The kernel records the listener's credentials when it listens.
    const int again = ::dup(fd);
    if (::setuid(65534) != 0 || ::listen(again, 4) != 0) ::_exit(1);
    for (;;) {
      const int c = ::accept(again, nullptr, nullptr);
      if (c >= 0) {
        char buffer[64];
        (void)!::read(c, buffer, sizeof buffer);
        (void)!::write(c, "", 1);  // answers as a viewer would
        ::close(c);
      }
    }
  }
  ::close(fd);
  QTest::qWait(200);  // until the child listens
  EXPECT_EQ(HandOver(channel, "/data/secret.shp", 2000), HandOverOutcome::Refused);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::unlink(QFile::encodeName(InstanceSocketPath(channel)).constData());
}

TEST(HandOverChannel, AStrangerWhoReachesTheSocketIsHungUpOn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  TempDir dir;
  ::chmod(dir.path().c_str(), 0700);
  ScopedEnv xdg("XDG_RUNTIME_DIR", QFile::encodeName(QString::fromStdString(dir.path().string())));
  const QString channel = UniqueChannel();
  CInstanceServer first;
  ASSERT_TRUE(first.Listen(channel));
  QSignalSpy spy(&first, &CInstanceServer::HandOverReceived);
  // Opened up by hand, as a careless setup might leave them.
  const std::string path = QFile::encodeName(InstanceSocketPath(channel)).toStdString();
  ::chmod(dir.path().c_str(), 0711);
  ::chmod(path.c_str(), 0777);
  const QByteArray message = EncodeHandOver("/data/planted.shp");  // made before the fork: no allocation after it
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setuid(65534) != 0) ::_exit(2);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), addr.sun_path);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) ::_exit(3);
    (void)!::write(fd, message.constData(), size_t(message.size()));
    char answer = 1;
    // The viewer's answer is one zero byte; a hang-up gives none.
    ::_exit(::read(fd, &answer, 1) == 1 ? 1 : 0);
  }
  int status = -1;
  ASSERT_TRUE(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5000));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: setuid, 3: connect";
  EXPECT_EQ(spy.count(), 0);
}

TEST(HandOverPeer, OnlyASocketOfThisUserPasses) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_TRUE(PeerIsThisUser(pair[0]));
  ::close(pair[0]);
  ::close(pair[1]);
  EXPECT_FALSE(PeerIsThisUser(-1));
  EXPECT_FALSE(PeerIsThisUser(::open("/dev/null", O_RDONLY)));
}

}  // namespace
}  // namespace kestrune::test
