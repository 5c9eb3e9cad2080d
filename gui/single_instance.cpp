#include "gui/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int kRetryPauseMs = 100;

QString userTag() {
#ifdef Q_OS_UNIX
  return QString::number(::getuid());
#else
  return qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
}

}  // namespace

QString instanceName() {
  // Asking QStandardPaths for the runtime folder when the session has none makes Qt create one
  // and complain about it on every start; the temporary folder does as well then.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(runtime).exists()) {
    return QDir(runtime).filePath(QStringLiteral("mervane-instance"));
  }
  return QDir::temp().filePath(QStringLiteral("mervane-instance-") + userTag());
}

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), socketPath_(name), lock_(name + QStringLiteral(".lock")) {
  // The first instance holds the lock for its whole life; it is never stale while it runs.
  lock_.setStaleLockTime(0);
}

InstanceRole SingleInstance::claim(int waitMs) {
  if (!lock_.tryLock(0)) {
    if (lock_.error() == QLockFile::LockFailedError) {
      otherAnswered_ = askOtherInstance(waitMs);
      return InstanceRole::kAnotherIsRunning;
    }
    // The lock cannot even be written (a read-only or missing folder): better to run without
    // the single-instance guard than not to run at all.
    return InstanceRole::kFirst;
  }
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // We hold the lock, so any socket of this name is a leftover of a crashed run.
  QLocalServer::removeServer(socketPath_);
  // Without the socket a later start cannot reach us; it then waits and ends all the same, so
  // a failure here is not fatal.
  server_->listen(socketPath_);
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      socket->disconnectFromServer();
      emit activationRequested();
    }
  });
  return InstanceRole::kFirst;
}

bool SingleInstance::askOtherInstance(int waitMs) {
  // The first instance may still be starting and not listen yet: try again for a while.
  const QDeadlineTimer deadline(waitMs);
  do {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(kRetryPauseMs)) {
      socket.disconnectFromServer();
      return true;
    }
    QThread::msleep(kRetryPauseMs);
  } while (!deadline.hasExpired());
  return false;
}
