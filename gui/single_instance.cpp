#include "gui/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QThread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
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

bool isPrivateFolder(const QString& path) {
#ifdef Q_OS_UNIX
  struct stat st {};
  // lstat: a link planted in a shared folder must not lead the lock elsewhere.
  if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 022) == 0;
#else
  return QDir(path).exists();
#endif
}

QString privateFolder(const QString& runtimeDir, const QString& tempDir) {
  if (isPrivateFolder(runtimeDir)) return runtimeDir;
  // Without a runtime folder: one of our own in the temporary folder, made only we can write it.
  // Another user may have made one of that name first; it is then not used.
  const QString own = QDir(tempDir).filePath(QStringLiteral("mervane-") + userTag());
  if (QDir().mkdir(own))
    QFile::setPermissions(own,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return isPrivateFolder(own) ? own : QString();
}

QString instanceName() {
  // Asking QStandardPaths for the runtime folder when the session has none makes Qt create one
  // and complain about it on every start; the temporary folder does as well then.
  const QString folder = privateFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
  if (folder.isEmpty()) return {};
  return QDir(folder).filePath(QStringLiteral("mervane-instance"));
}

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), socketPath_(name), lock_(name + QStringLiteral(".lock")) {
  // The first instance holds the lock for its whole life; it is never stale while it runs.
  lock_.setStaleLockTime(0);
}

InstanceRole SingleInstance::claim(int waitMs) {
  // No folder only this user can write: no guard, rather than one another user could hold.
  if (socketPath_.isEmpty()) return InstanceRole::kFirst;
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
