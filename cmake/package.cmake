# `cpack -G DEB` in a build folder packages what cmake/install.cmake installs, under /usr.
set(CPACK_PACKAGE_NAME mervane)
set(CPACK_PACKAGE_VENDOR "Mervane developers")
set(CPACK_PACKAGE_CONTACT "${MERVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "acoustic range finder: the computer's loudspeaker and microphone as a sonar")
# Lines of at most 80 characters, as Debian's description format wants them.
# CPack puts the summary in front as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Every ping plays a short chirp while recording, correlates the recording with
the chirp, finds the direct arrival and draws the echoes over distance as one
column of a live echogram. Runs on real sound hardware through PortAudio (up
to 96 kHz, with a quiet chirp above what most adults hear) or on a simulated
room. Includes the desktop program and mervane-cli for headless runs and
scripting.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries the programs link (Qt, PortAudio, libsndfile, FFTW, ALSA) become Depends through
# dpkg-shlibdeps, with the versions the build machine's libraries demand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ALSA's PulseAudio and PipeWire bridge, and xdg-open for Help: wanted, but the program runs
# without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins, xdg-utils")
include(cmake/qt_plugin_packages.cmake)

include(CPack)
