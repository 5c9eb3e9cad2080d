#pragma once
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <memory>

#include "audio/sim_backend.h"
#include "gui/main_window.h"

// A main window on the simulated room, without real-time pacing so pings take no time.
inline std::unique_ptr<MainWindow> makeTestWindow() {
  SimRoom room = defaultSimRoom();
  room.speedMps = 337.6;
  return std::make_unique<MainWindow>(std::make_unique<SimBackend>(room, SimPacing::kVirtual),
                                      AudioKind::kSimulatedRoom);
}

// The menu item with this identifier (menus only, not the toolbar).
inline QAction* menuItem(MainWindow& window, CommandId id) {
  const QString name = QStringLiteral("cmd%1").arg(commandNumber(id));
  for (QMenu* menu : window.menuBar()->findChildren<QMenu*>()) {
    for (QAction* action : menu->actions()) {
      if (action->objectName() == name) return action;
    }
  }
  return nullptr;
}

// The toolbar entry at this position (separators included).
inline QAction* toolEntry(MainWindow& window, int index) {
  return window.toolBar()->actions().value(index);
}

// The toolbar button that sends this command.
inline QAction* toolButton(MainWindow& window, CommandId id) {
  for (QAction* action : window.toolBar()->actions()) {
    if (!action->isSeparator() && action->data().toInt() == commandNumber(id)) return action;
  }
  return nullptr;
}

inline int visibleTopLevelWindows() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible()) ++count;
  }
  return count;
}
