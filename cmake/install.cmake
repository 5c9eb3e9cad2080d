# What `cmake --install` puts where, in the GNU layout under the prefix; the package holds the
# same tree under /usr.
install(TARGETS mervane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(MERVANE_GUI)
  install(TARGETS mervane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Help finds the document here, relative to the executable (gui/CMakeLists.txt).
  install(FILES resources/help/help.html docs/track-window.png DESTINATION ${MERVANE_DATA_DIR})
  install(FILES resources/desktop/mervane.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/desktop/mervane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Software centres list the program from its AppStream metadata.
  set(metainfo ${PROJECT_BINARY_DIR}/${MERVANE_APPSTREAM_ID}.metainfo.xml)
  configure_file(resources/desktop/mervane.metainfo.xml ${metainfo} @ONLY)
  install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The man pages and the changelog carry the version; gzip -n leaves out the time stamp, so the
# same sources give the same bytes.
set(compressed "")
foreach(page mervane-cli.1 mervane.1)
  configure_file(resources/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
set(doc_dir ${PROJECT_BINARY_DIR}/doc)
configure_file(resources/package/changelog ${doc_dir}/changelog @ONLY)
configure_file(resources/package/copyright ${doc_dir}/copyright @ONLY)
list(APPEND compressed ${doc_dir}/changelog.gz)
foreach(file IN LISTS compressed)
  string(REGEX REPLACE "\\.gz$" "" plain ${file})
  add_custom_command(OUTPUT ${file}
                     COMMAND gzip -9 -n -f -k ${plain}
                     DEPENDS ${plain}
                     COMMENT "Compressing ${plain}")
endforeach()
add_custom_target(mervane_man_page ALL DEPENDS ${compressed})
install(FILES ${PROJECT_BINARY_DIR}/man/mervane-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(MERVANE_GUI)
  install(FILES ${PROJECT_BINARY_DIR}/man/mervane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES resources/completion/mervane-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME mervane-cli)

# A Debian package is native here (no Debian revision): its changelog is changelog.gz, and the
# copyright file (machine-readable) holds the license.
install(FILES ${doc_dir}/changelog.gz ${doc_dir}/copyright LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/mervane)
