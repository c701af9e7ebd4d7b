// One viewer per user: the first start listens on a local socket named from
// the translated window title and the user name; a later start connects,
// hands over the file name it was given (possibly none, else made absolute)
// and ends, and the first brings its window forward and opens the file.
//
// The socket lives in a folder only its user can enter: $XDG_RUNTIME_DIR when
// that is the user's own and closed to others, else "kestrune-<uid>" in the
// temporary folder, made with mode 0700 (or, when another user holds that
// name, "~/.cache/kestrune"). Both ends check the other's user id
// (SO_PEERCRED) and hang up on anybody else. A running viewer that accepts
// the connection but does not answer keeps its socket: the later start then
// runs on its own without listening, so two viewers never fight over one name.
//
// Hand-over message: the number kFileHandOverMessage (0x857) as a big-endian
// 32-bit word, the byte length of the file name as another, then the name in
// UTF-8. The listener answers one byte, 0, once it has taken the name.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace kestrune {

// The longest file name a hand-over carries (the longest Linux path).
constexpr int kMaxHandOverBytes = 4096;

// The socket name for a title and a user: readable letters of both and a hash
// of the exact texts, so titles in any script and any user name give distinct,
// valid names. The desktop session (display and login session) goes into the
// hash, so viewers of one user on two displays never hand files to each other.
QString InstanceChannelName(const QString& translatedTitle, const QString& userName,
                            const QString& desktopSession = QString());

// The desktop session this process runs in: the Wayland display, else the X
// display, and the login session id, as "WAYLAND|DISPLAY|SESSION"; empty
// when the environment names none of them.
QString CurrentDesktopSession();

// The login name of the user running this process.
QString CurrentUserName();

// Whether path is a folder (not a link) owned by this user that nobody else can enter.
bool IsPrivateFolder(const QString& path);
// The folder the sockets live in (created when needed), or empty when no safe one exists.
QString InstanceSocketFolder();
// The full socket path of a channel name, or empty without a safe folder.
QString InstanceSocketPath(const QString& name);
// True when the other end of a connected local socket runs as this user.
bool PeerIsThisUser(int socketDescriptor);
// The name a later start hands over: absolute, resolved against the current folder.
QString HandOverName(const QString& fileName);

// The bytes of a hand-over message for a file name (empty for none).
QByteArray EncodeHandOver(const QString& fileName);

// Reads one message from the front of data. Returns 1 with fileName and used
// set when a whole valid message is there, 0 when more bytes are needed, and
// -1 when the bytes can never form a valid message (wrong number, a length
// beyond kMaxHandOverBytes).
int DecodeHandOver(const QByteArray& data, QString& fileName, int& used);

// The first instance's end: listens and reports every hand-over.
class CInstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit CInstanceServer(QObject* parent = nullptr);
  ~CInstanceServer() override;

  // Listens under name; false when the name is taken by a live instance or
  // cannot be used.
  bool Listen(const QString& name);
  QString ServerName() const;

 signals:
  // A later start arrived; fileName is empty when it named no file.
  void HandOverReceived(const QString& fileName);

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);

  QLocalServer* server_;
};

// How a start settles with other instances.
enum class InstanceRole {
  First,         // no other instance: this one listens (server is listening)
  HandedOver,    // another instance took the file name: this one ends
  Unavailable,   // neither worked (the socket folder is unusable): run alone
};

// How a hand-over went.
enum class HandOverOutcome {
  Answered,    // the running instance took the name
  NoListener,  // nobody listens (no socket, or one left by a crashed instance)
  Stalled,     // connected, but no answer in time
  Refused,     // the listener is another user, or no safe folder exists
};

// Connects to a running instance under name and hands fileName over, waiting
// at most timeoutMs for its answer.
HandOverOutcome HandOver(const QString& name, const QString& fileName, int timeoutMs = 5000);
// True when the running instance answered.
inline bool HandOverToRunningInstance(const QString& name, const QString& fileName, int timeoutMs = 5000) {
  return HandOver(name, fileName, timeoutMs) == HandOverOutcome::Answered;
}

// The whole start-up check: hand over to a running instance, or become the
// listening first instance. A lock file beside the socket makes two
// simultaneous starts settle on one first instance, and a socket left by a
// crashed instance is removed before listening; a stalled or foreign listener
// is left alone and this start runs unlisted (Unavailable).
InstanceRole SettleInstance(const QString& name, const QString& fileName, CInstanceServer& server,
                            int timeoutMs = 5000);

}  // namespace kestrune
