#include "app/gui/SingleInstance.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

#include "app/Commands.h"

namespace kestrune {

namespace {

// A connection that has not sent a whole message by then is dropped.
constexpr int kIncompleteMessageMs = 10000;
// Header of a hand-over: the message number and the name's length.
constexpr int kHeaderBytes = 8;

// The letters, digits, "-" and "_" of a text, blanks as "_", at most 40.
QString Readable(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (out.size() >= 40) break;
    if (c.isSpace()) out += QLatin1Char('_');
    else if (c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))) out += c;
  }
  return out;
}

}  // namespace

// The socket name of a title and user.
QString InstanceChannelName(const QString& translatedTitle, const QString& userName, const QString& desktopSession) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  hash.addData(translatedTitle.toUtf8());
  hash.addData(QByteArray(1, '\0'));
  hash.addData(userName.toUtf8());
  if (!desktopSession.isEmpty()) {
    hash.addData(QByteArray(1, '\0'));
    hash.addData(desktopSession.toUtf8());
  }
  const QString digest = QString::fromLatin1(hash.result().toHex().left(12));
  return QStringLiteral("kestrune-%1-%2-%3").arg(Readable(translatedTitle), Readable(userName), digest);
}

// The display and the login session from the environment.
QString CurrentDesktopSession() {
  const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
  const QString x = qEnvironmentVariable("DISPLAY");
  const QString session = qEnvironmentVariable("XDG_SESSION_ID");
  if (wayland.isEmpty() && x.isEmpty() && session.isEmpty()) return {};
  return wayland + QLatin1Char('|') + x + QLatin1Char('|') + session;
}

// The login name, or the user id.
QString CurrentUserName() {
  if (const passwd* pw = ::getpwuid(::geteuid())) {
    if (pw->pw_name && *pw->pw_name) return QString::fromLocal8Bit(pw->pw_name);
  }
  const QString user = qEnvironmentVariable("USER");
  // Without a name the user id still keeps users apart.
  return user.isEmpty() ? QString::number(::geteuid()) : user;
}

// A folder of this user's that nobody else may enter or change.
bool IsPrivateFolder(const QString& path) {
  if (path.isEmpty()) return false;
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

namespace {

// Makes (or takes) a 0700 folder of this user's at path; true when it is private.
bool MakePrivateFolder(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  // One of this user's own that is too open is closed.
  if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) return false;
  return IsPrivateFolder(path);
}

}  // namespace

// $XDG_RUNTIME_DIR, or a private folder in the temporary folder, or one in the cache.
QString InstanceSocketFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (IsPrivateFolder(runtime)) return runtime;
  const QString temp = QDir(QDir::tempPath()).filePath(QStringLiteral("kestrune-%1").arg(::geteuid()));
  if (MakePrivateFolder(temp)) return temp;
  // Another user took that name first: a folder in the home cannot be taken.
  const QString home = QDir::homePath();
  if (home.isEmpty() || !QFileInfo(home).isDir()) return {};
  QDir(home).mkpath(QStringLiteral(".cache"));
  const QString cache = QDir(home).filePath(QStringLiteral(".cache/kestrune"));
  return MakePrivateFolder(cache) ? cache : QString();
}

// The socket path of a channel.
QString InstanceSocketPath(const QString& name) {
  const QString folder = InstanceSocketFolder();
  return folder.isEmpty() ? QString() : QDir(folder).filePath(name);
}

// The peer's credentials as the kernel recorded them at connect or listen time.
bool PeerIsThisUser(int socketDescriptor) {
  if (socketDescriptor < 0) return false;
  struct ucred cred {};
  socklen_t length = sizeof cred;
  if (::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) return false;
  return length == sizeof cred && cred.uid == ::geteuid();
}

// Relative names are made absolute here: the running viewer has another current folder.
QString HandOverName(const QString& fileName) {
  if (fileName.isEmpty()) return fileName;
  return QFileInfo(fileName).absoluteFilePath();
}

// Header and name of a hand-over.
QByteArray EncodeHandOver(const QString& fileName) {
  const QByteArray name = fileName.toUtf8();
  QByteArray out(kHeaderBytes, '\0');
  qToBigEndian<quint32>(kFileHandOverMessage, out.data());
  qToBigEndian<quint32>(quint32(name.size()), out.data() + 4);
  return out + name;
}

// Checks the number and the length before taking the name.
int DecodeHandOver(const QByteArray& data, QString& fileName, int& used) {
  if (data.size() >= 4 && qFromBigEndian<quint32>(data.constData()) != kFileHandOverMessage) return -1;
  if (data.size() < kHeaderBytes) return 0;
  const quint32 length = qFromBigEndian<quint32>(data.constData() + 4);
  if (length > quint32(kMaxHandOverBytes)) return -1;
  if (quint32(data.size() - kHeaderBytes) < length) return 0;
  fileName = QString::fromUtf8(data.constData() + kHeaderBytes, int(length));
  used = kHeaderBytes + int(length);
  return 1;
}

// A listener open to this user only.
CInstanceServer::CInstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
  // Only this user may hand files to this user's viewer.
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &CInstanceServer::OnNewConnection);
}

// Closing the server removes its socket.
CInstanceServer::~CInstanceServer() = default;

// Starts listening under the name, in the private folder.
bool CInstanceServer::Listen(const QString& name) {
  const QString path = InstanceSocketPath(name);
  return !path.isEmpty() && server_->listen(path);
}

// The socket's full path.
QString CInstanceServer::ServerName() const { return server_->fullServerName(); }

// Takes each connection and gives it a deadline.
void CInstanceServer::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    // Only this user may hand files to this user's viewer.
    if (!PeerIsThisUser(int(socket->socketDescriptor()))) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    QPointer<QLocalSocket> guard(socket);
    QTimer::singleShot(kIncompleteMessageMs, this, [guard] {
      if (guard && guard->property("kestrune.done").isNull()) guard->abort();
    });
    // Bytes may have arrived with the connection.
    if (socket->bytesAvailable() > 0) OnReadyRead(socket);
  }
}

// Gathers a connection's bytes until a whole message, then answers it.
void CInstanceServer::OnReadyRead(QLocalSocket* socket) {
  if (!socket->property("kestrune.done").isNull()) {
    socket->readAll();
    return;
  }
  QByteArray buffer = socket->property("kestrune.buffer").toByteArray() + socket->readAll();
  QString fileName;
  int used = 0;
  const int state = DecodeHandOver(buffer, fileName, used);
  if (state == 0) {
    socket->setProperty("kestrune.buffer", buffer);
    return;
  }
  socket->setProperty("kestrune.done", true);
  socket->setProperty("kestrune.buffer", QVariant());
  if (state < 0) {
    socket->abort();
    return;
  }
  // The answer tells the later start it may end.
  socket->write(QByteArray(1, '\0'));
  socket->flush();
  socket->disconnectFromServer();
  emit HandOverReceived(fileName);
}

// Sends the name and waits for the answer.
HandOverOutcome HandOver(const QString& name, const QString& fileName, int timeoutMs) {
  const QString path = InstanceSocketPath(name);
  if (path.isEmpty()) return HandOverOutcome::Refused;
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(timeoutMs)) {
    // Refused or absent at once means nobody listens; a connection that hangs is a stall.
    return socket.error() == QLocalSocket::SocketTimeoutError ? HandOverOutcome::Stalled : HandOverOutcome::NoListener;
  }
  // The name goes only to this user's own viewer.
  if (!PeerIsThisUser(int(socket.socketDescriptor()))) {
    socket.abort();
    return HandOverOutcome::Refused;
  }
  socket.write(EncodeHandOver(fileName));
  if (!socket.waitForBytesWritten(timeoutMs)) return HandOverOutcome::Stalled;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(timeoutMs)) return HandOverOutcome::Stalled;
  }
  char answer = 1;
  return socket.read(&answer, 1) == 1 && answer == 0 ? HandOverOutcome::Answered : HandOverOutcome::Stalled;
}

// Hands over, or listens as the first instance.
InstanceRole SettleInstance(const QString& name, const QString& fileName, CInstanceServer& server, int timeoutMs) {
  const QString folder = InstanceSocketFolder();
  if (folder.isEmpty()) return InstanceRole::Unavailable;
  QLockFile lock(QDir(folder).filePath(name + QStringLiteral(".lock")));
  // A lock nobody releases (a start killed mid-way) is taken over after this.
  lock.setStaleLockTime(15000);
  const bool locked = lock.tryLock(10000);
  switch (HandOver(name, HandOverName(fileName), timeoutMs)) {
    case HandOverOutcome::Answered: return InstanceRole::HandedOver;
    // A viewer that is alive but stuck, or a stranger, keeps its socket.
    case HandOverOutcome::Stalled:
    case HandOverOutcome::Refused: return InstanceRole::Unavailable;
    case HandOverOutcome::NoListener: break;
  }
  // Nobody answered: a socket still there belongs to a dead instance. Without
  // the lock another start may be listening by now, so leave its socket alone.
  if (locked) QLocalServer::removeServer(QDir(folder).filePath(name));
  return server.Listen(name) ? InstanceRole::First : InstanceRole::Unavailable;
}

}  // namespace kestrune
