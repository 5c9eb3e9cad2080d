# What `cmake --install` puts where, in the GNU layout under the prefix; the package holds the
# same tree under /usr.
install(TARGETS mervane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(MERVANE_GUI)
  install(TARGETS mervane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Help finds the document here, relative to the executable (gui/CMakeLists.txt).
  install(FILES resources/help/help.html DESTINATION ${MERVANE_DATA_DIR})
  install(FILES resources/desktop/mervane.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/desktop/mervane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The man page carries the version; gzip -n leaves out the time stamp, so the same sources give
# the same bytes.
set(man_page ${PROJECT_BINARY_DIR}/man/mervane-cli.1)
configure_file(resources/man/mervane-cli.1 ${man_page} @ONLY)
add_custom_command(OUTPUT ${man_page}.gz
                   COMMAND gzip -9 -n -f -k ${man_page}
                   DEPENDS ${man_page}
                   COMMENT "Compressing the man page")
add_custom_target(mervane_man_page ALL DEPENDS ${man_page}.gz)
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/mervane)
