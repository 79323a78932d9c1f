# What `cmake --install` puts under the prefix, and the .deb made from it (`make deb`).
# Executables find share/tavrik/res beside their bin folder (ResourceRoot).
set(TAVRIK_APP_ID org.tavrik.Tavrik)
set(TAVRIK_PKG ${CMAKE_SOURCE_DIR}/packaging)

if(TAVRIK_UI)
  install(TARGETS tavrik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The programs look for it in <prefix>/lib/tavrik (layout/paper_renderer.cpp).
  install(TARGETS tavrik_paper_module LIBRARY DESTINATION lib/tavrik)
  install(DIRECTORY ${TAVRIK_PICTURES_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrik/res)
  install(FILES ${TAVRIK_PKG}/${TAVRIK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TAVRIK_PKG}/tavrik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${TAVRIK_PKG}/${TAVRIK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The theme's icons carry the id, as the desktop file and the window ask for them.
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${TAVRIK_PICTURES_DIR}/icons/${size}x${size}/apps/tavrik.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${TAVRIK_APP_ID}.png)
  endforeach()
endif()
install(TARGETS tavrikctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Found from bin/ as ../libexec/tavrik/tavrik-fetch.
install(TARGETS tavrik-fetch RUNTIME DESTINATION libexec/tavrik)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrik/res)
# udev reads /usr/lib/udev/rules.d, not /usr/local: under another prefix the rule is a copy
# to put into /etc/udev/rules.d, and the programs say so.
install(FILES ${TAVRIK_PKG}/udev/70-tavrik.rules DESTINATION lib/udev/rules.d)
install(FILES ${TAVRIK_PKG}/tavrikctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TAVRIK_PKG}/completions/tavrikctl
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_PACKAGE_NAME tavrik)
set(CPACK_PACKAGE_VENDOR "Tavrik")
set(CPACK_PACKAGE_CONTACT "Tavrik maintainers <maintainers@tavrik.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configure modular mechanical keyboards")
set(CPACK_PACKAGE_DESCRIPTION
  "Tavrik gives the keys of modular mechanical keyboards their codes on four layers, sets\nLED colours, records macros, switches controller modes and upgrades firmware. It comes\nas a desktop program (tavrik) and a command line (tavrikctl).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries (Qt 6 widgets and SVG, glog; curl for tavrik-fetch) from what the executables
# and the drawing module link; hidapi and libudev are loaded by name at their first use
# (hid/native_libs.cpp), so they are named here. udev itself runs the rule.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "udev, libhidapi-hidraw0, libudev1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${TAVRIK_PKG}/debian/postinst ${TAVRIK_PKG}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
