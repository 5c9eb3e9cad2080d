// The main window's menus, recent files and keyboard shortcuts.
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QSettings>
#include <QShortcut>
#include <utility>

#include "app/app_steps.h"
#include "app/sonar_files.h"
#include "gui/main_window.h"
#include "gui/preferences.h"
#include "gui/qt_text.h"
#include "resources/command_layout.h"

QString withMnemonic(const QString& label, QString& taken) {
  for (qsizetype i = 0; i < label.size(); ++i) {
    const QChar c = label[i].toLower();
    if (!c.isLetter() || taken.contains(c)) continue;
    taken += c;
    QString marked = label;
    marked.insert(i, QLatin1Char('&'));
    return marked;
  }
  return label;
}

void MainWindow::createMenus() {
  QString barTaken;
  for (const MenuSpec& entry : kMenuBar) {
    QMenu* menu = menuBar()->addMenu(withMnemonic(toQString(entry.title), barTaken));
    // The bar button's identifier is kept for reference only; opening a pop-up dispatches
    // nothing.
    const int barNumber = static_cast<int>(entry.barId);
    menu->setObjectName(QStringLiteral("menu%1").arg(barNumber));
    menu->menuAction()->setData(barNumber);
    QString taken;
    for (size_t i = 0; i < entry.itemCount; ++i) {
      const MenuItemSpec& item = entry.items[i];
      if (item.isSeparator()) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(withMnemonic(toQString(item.label), taken));
      action->setData(commandNumber(item.id));
      action->setObjectName(QStringLiteral("cmd%1").arg(commandNumber(item.id)));
      action->setShortcut(QKeySequence(toQString(item.shortcut), QKeySequence::PortableText));
      const CommandId id = item.id;
      connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
    if (entry.barId == MenuBarId::kFile) {
      createRecentFilesMenu(menu);
      createRecordPingsAction(menu);
    }
  }
}

void MainWindow::createRecentFilesMenu(QMenu* fileMenu) {
  fileMenu->addSeparator();
  recentMenu_ = fileMenu->addMenu(QStringLiteral("&Recent files"));
  recentMenu_->setObjectName(QStringLiteral("recentFiles"));
  rebuildRecentFiles();
}

void MainWindow::rebuildRecentFiles() {
  recentMenu_->clear();
  QSettings settings;
  const QStringList files = recentFiles(settings);
  int number = 0;
  for (const QString& path : files) {
    ++number;
    const QString label =
        QStringLiteral("&%1 %2").arg(number).arg(QFileInfo(path).fileName().replace('&', "&&"));
    QAction* action = recentMenu_->addAction(label);
    action->setToolTip(path);
    action->setData(path);
    connect(action, &QAction::triggered, this, [this, path] { openRecent(path); });
  }
  recentMenu_->setEnabled(!files.isEmpty());
}

void MainWindow::openRecent(const QString& path) {
  if (holdBackWhileMeasuring([this, path] { openRecent(path); })) return;
  if (!QFileInfo::exists(path)) {
    QSettings s;
    removeRecentFile(s, path);
    rebuildRecentFiles();
    showNote(QStringLiteral("The file is gone: %1").arg(path));
    return;
  }
  BusyScope scope(app_);
  if (!scope.entered()) return;
  QSettings s;
  // As the kind it was opened or saved as: a parameter file saved as x.son stays one.
  openRecentFile(app_, FileChoice{QFile::encodeName(path).toStdString(), recentFileKind(s, path)});
  syncModeButtons();
  updateStatus();
}

void MainWindow::createShortcuts() {
  // Space starts a stopped run and pauses a running one, wherever the focus is in the window.
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  space->setObjectName(QStringLiteral("startPauseShortcut"));
  connect(space, &QShortcut::activated, this, [this] { startOrPause(); });
}
