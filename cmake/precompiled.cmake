# Most of a clang compile here is parsing the same standard, Qt and GoogleTest headers again for
# every source file (about 80 000 lines before a line of ours). With MERVANE_PCH each target of
# several sources parses them once into a precompiled header: a third to a half of each compile
# with clang, a tenth with g++. The sanitizer trees of ./test use it; the plain tree, the
# README's build, does not, so that a source which forgot an include still fails there.
# The sets follow what a target may include: the layers below the display see no Qt, only the
# test targets see GoogleTest.
option(MERVANE_PCH "Precompile the common standard, Qt and GoogleTest headers per target" OFF)

set(MERVANE_PCH_STD
  <algorithm> <array> <atomic> <chrono> <cmath> <cstdint> <cstdio> <cstdlib> <cstring>
  <functional> <memory> <mutex> <optional> <span> <sstream> <string> <string_view> <thread>
  <vector>)
set(MERVANE_PCH_QT_GUI <QString> <QFont> <QImage> <QPainter>)
set(MERVANE_PCH_QT_WIDGETS
  <QApplication> <QDialog> <QDialogButtonBox> <QFile> <QGridLayout> <QLabel> <QLineEdit>
  <QMainWindow> <QMessageBox> <QPushButton> <QSettings> <QTimer> <QVBoxLayout> <QWidget>)
set(MERVANE_PCH_GTEST <gtest/gtest.h>)
set(MERVANE_PCH_QT_TEST <QTest> <QTemporaryDir>)

# mervane_precompile(SETS set... TARGETS target...): the union of the named sets for each target
# that exists in this configuration (the desktop program, tests and fuzz targets are optional).
function(mervane_precompile)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "SETS;TARGETS")
  set(headers)
  foreach(set_name IN LISTS arg_SETS)
    list(APPEND headers ${MERVANE_PCH_${set_name}})
  endforeach()
  foreach(target IN LISTS arg_TARGETS)
    if(TARGET ${target})
      target_precompile_headers(${target} PRIVATE ${headers})
      # Without it clang stamps the header with its build time and a compiler cache never
      # reuses a compile that read it.
      if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${target} PRIVATE "SHELL:-Xclang -fno-pch-timestamp")
      endif()
    endif()
  endforeach()
endfunction()

# Targets of one or two sources gain nothing: the header would be parsed as often as before.
if(MERVANE_PCH)
  mervane_precompile(SETS STD TARGETS mervane_engine mervane_io mervane_audio mervane_app
                                      mervane_dialogs_logic)
  mervane_precompile(SETS STD QT_GUI TARGETS mervane_display mervane_cli_lib mervane_fuzz_drivers)
  mervane_precompile(SETS STD QT_GUI QT_WIDGETS TARGETS mervane_dialogs mervane_gui_lib)
  mervane_precompile(SETS STD GTEST TARGETS engine_tests io_tests audio_tests dialogs_logic_tests
                                            app_soak_tests motion_alloc_tests)
  mervane_precompile(SETS STD GTEST QT_GUI TARGETS app_tests cli_tests display_tests)
  mervane_precompile(SETS STD GTEST QT_GUI QT_WIDGETS QT_TEST TARGETS gui_tests)
endif()
