#include "ui/handoff.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>

#include "ui/main_window.h"
#include "ui/run_scope.h"
#include "ui/startup.h"

namespace tavrun::ui {
namespace {

// One request is one line: a version word, the operation and the folder, percent-encoded
// (a folder name may hold a newline).
constexpr char kVersion[] = "tavrun-launch-1";
constexpr qint64 kLongestRequest = 64 * 1024;

QByteArray Encode(const LaunchRequest& request) {
  const int operation = static_cast<int>(request.operation);
  return QByteArray(kVersion) + ' ' + QByteArray::number(operation) + ' ' +
         QByteArray::fromStdString(request.sourceDirectory).toPercentEncoding() + '\n';
}

bool Decode(const QByteArray& line, LaunchRequest& request) {
  const QList<QByteArray> parts = line.trimmed().split(' ');
  if (parts.size() != 3 || parts[0] != kVersion) return false;
  bool number = false;
  const int operation = parts[1].toInt(&number);
  if (!number || operation < 0 || operation > static_cast<int>(LaunchOperation::Extract))
    return false;
  request.operation = static_cast<LaunchOperation>(operation);
  request.sourceDirectory = QByteArray::fromPercentEncoding(parts[2]).toStdString();
  return !request.sourceDirectory.empty() && request.sourceDirectory.front() == '/';
}

// Another user's program must not fill this user's window, nor pass for it and learn which
// folders this user opens.
bool FromThisUser(const QLocalSocket& socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                    &size) == 0 &&
         peer.uid == getuid();
}

// Running a batch or asking something (a question, the options): a folder put into the box
// now would not be the one the user is answering about.
bool Idle() {
  return RunScope::Current() == nullptr && QApplication::activeModalWidget() == nullptr;
}

void Answer(QLocalSocket* socket, FrmTavrunMain& window) {
  if (!socket->canReadLine()) {
    if (socket->bytesAvailable() > kLongestRequest) socket->abort();
    return;
  }
  LaunchRequest request;
  if (!Decode(socket->readLine(kLongestRequest), request)) {
    socket->abort();
    return;
  }
  const bool idle = Idle();
  if (idle) {
    ApplyLaunchRequest(window, request);
    if (window.isMinimized()) window.showNormal();
    window.raise();
    window.activateWindow();
  }
  socket->write(idle ? "taken\n" : "busy\n");
  socket->disconnectFromServer();
}

void Serve(QLocalSocket* socket, FrmTavrunMain& window) {
  QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  if (!FromThisUser(*socket)) {
    socket->abort();
    return;
  }
  QObject::connect(socket, &QLocalSocket::readyRead, socket,
                   [socket, &window] { Answer(socket, window); });
  if (socket->bytesAvailable() > 0) Answer(socket, window);
}

}  // namespace

std::string HandoffName(const StartupPaths& paths) {
  const QByteArray lock = QByteArray::fromStdString(InstanceLockPath(paths));
  return "/tavrun-launch/" +
         QCryptographicHash::hash(lock, QCryptographicHash::Sha256).toHex().left(32).toStdString();
}

void ListenForHandoffs(const StartupPaths& paths, FrmTavrunMain& window) {
  auto* server = new QLocalServer(&window);
  server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  // Fails only when the name is taken: a start that did not get the lock cannot be here.
  if (!server->listen(QString::fromStdString(HandoffName(paths)))) {
    delete server;
    return;
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server, &window] {
    while (QLocalSocket* socket = server->nextPendingConnection()) Serve(socket, window);
  });
}

Handoff HandOver(const StartupPaths& paths, const LaunchRequest& request, int timeoutMs) {
  QLocalSocket socket;
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(QString::fromStdString(HandoffName(paths)));
  const QDeadlineTimer deadline(timeoutMs);
  if (!socket.waitForConnected(timeoutMs) || !FromThisUser(socket)) return Handoff::NoOne;
  socket.write(Encode(request));
  if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) return Handoff::NoOne;
  QByteArray answer;
  while (!answer.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
    answer += socket.readAll();
  answer += socket.readAll();
  if (answer.startsWith("taken\n")) return Handoff::Taken;
  if (answer.startsWith("busy\n")) return Handoff::Busy;
  return Handoff::NoOne;
}

// The folder goes into the source box as a dropped folder would: the stored setting stays as
// it was until a run. Its operation is selected as a click would.
void ApplyLaunchRequest(FrmTavrunMain& window, const LaunchRequest& request) {
  if (!request.sourceDirectory.empty()) {
    if (auto* box = window.findChild<QLineEdit*>(QStringLiteral("Text1"))) {
      box->setText(QString::fromStdString(request.sourceDirectory));
    }
  }
  if (request.operation == LaunchOperation::Compress) window.SelectOption1(0);
  if (request.operation == LaunchOperation::Extract) window.SelectOption1(1);
}

}  // namespace tavrun::ui
