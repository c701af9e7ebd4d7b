// One viewer per user: the first start listens on a local socket named from
// the translated window title and the user name; a later start connects,
// hands over the file name it was given (possibly none) and ends, and the
// first brings its window forward and opens the file.
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
// valid names.
QString InstanceChannelName(const QString& translatedTitle, const QString& userName);

// The login name of the user running this process.
QString CurrentUserName();

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

// Connects to a running instance under name and hands fileName over, waiting
// at most timeoutMs for its answer. True when the running instance answered.
bool HandOverToRunningInstance(const QString& name, const QString& fileName, int timeoutMs = 5000);

// The whole start-up check: hand over to a running instance, or become the
// listening first instance. A lock file beside the socket makes two
// simultaneous starts settle on one first instance, and a socket left by a
// crashed instance is removed before listening.
InstanceRole SettleInstance(const QString& name, const QString& fileName, CInstanceServer& server);

}  // namespace kestrune
