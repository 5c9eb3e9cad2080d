# Qt loads its platform plugins at run time, where dpkg-shlibdeps cannot see them: the window
# needs xcb, the command line draws offscreen. Whichever packages hold them on the build machine
# join Depends (on Debian 12 that is libqt6gui6 itself; other releases split the plugins out).
find_package(Qt6 REQUIRED COMPONENTS Gui)
find_program(MERVANE_DPKG_QUERY dpkg-query)
set(plugin_packages "")
if(MERVANE_DPKG_QUERY)
  set(plugin_dir ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms)
  set(plugins libqoffscreen.so)
  if(MERVANE_GUI)
    list(APPEND plugins libqxcb.so)
  endif()
  foreach(plugin IN LISTS plugins)
    execute_process(COMMAND ${MERVANE_DPKG_QUERY} -S ${plugin_dir}/${plugin}
                    OUTPUT_VARIABLE owner RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
      message(STATUS "No Debian package holds ${plugin_dir}/${plugin}; the package will not "
                      "depend on it")
      continue()
    endif()
    # "libqt6gui6:amd64: /usr/lib/...": the package name, without its architecture.
    string(REGEX REPLACE "[:,].*" "" owner "${owner}")
    list(APPEND plugin_packages ${owner})
  endforeach()
endif()
# A package that also holds a library the programs link (libqt6gui6 on Debian 12) is in Depends
# already, with the version dpkg-shlibdeps found; naming it twice is an error for lintian.
if(MERVANE_DPKG_QUERY AND plugin_packages)
  get_target_property(gui_library Qt6::Gui IMPORTED_LOCATION_RELEASE)
  if(NOT gui_library)
    get_target_property(gui_library Qt6::Gui LOCATION)
  endif()
  file(REAL_PATH "${gui_library}" gui_library)
  execute_process(COMMAND ${MERVANE_DPKG_QUERY} -S ${gui_library}
                  OUTPUT_VARIABLE linked RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0)
    string(REGEX REPLACE "[:,].*" "" linked "${linked}")
    list(REMOVE_ITEM plugin_packages ${linked})
  endif()
endif()
list(REMOVE_DUPLICATES plugin_packages)
list(JOIN plugin_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
