#pragma once
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

enum class InstanceRole { kFirst, kAnotherIsRunning };

// One running program per user. The first start holds a lock file and listens on a local socket
// of the same name; a later start finds the lock taken, connects to the socket (which asks the
// first one to come to the front) and ends. The lock, not the socket, decides who is first, so a
// socket left behind by a crash is simply replaced.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `name` is a file name, unique per user; see instanceName().
  explicit SingleInstance(const QString& name, QObject* parent = nullptr);

  // Decides the role. As kAnotherIsRunning it has already asked the other instance to come to
  // the front (or found that it does not answer within waitMs). Where no lock file can be made
  // at all, every start is kFirst.
  InstanceRole claim(int waitMs = 3000);
  // Only for kAnotherIsRunning: whether the other instance took the request.
  bool otherAnswered() const { return otherAnswered_; }

 signals:
  // A later start asked this (first) instance to come to the front.
  void activationRequested();

 private:
  bool askOtherInstance(int waitMs);

  QString socketPath_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
  bool otherAnswered_ = false;
};

// The per-user name, in a folder only the user can write, so no other user can hold the lock:
// the session's runtime folder, else privateFolder's own folder in the temporary folder. Empty
// when there is neither; the program then runs without the single-instance guard.
QString instanceName();
// Whether the path is a folder (not a link) of the current user that nobody else can write.
bool isPrivateFolder(const QString& path);
// `runtimeDir` when it is private, else a folder "mervane-UID" in `tempDir` made private, or
// empty when that name is taken by something that is not (another user's folder, a link).
QString privateFolder(const QString& runtimeDir, const QString& tempDir);
