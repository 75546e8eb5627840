# The Debian package an operator installs: the program, its desktop entry and
# icon, and maintainer scripts that give the machine's operators (group
# marindo) a settings folder only they can read, since the settings file holds
# the login password. `scripts/package.sh` builds it with CPack.
# Builds without the windows (the sanitizer and fuzz presets) have no program
# to package.
if(NOT MARINDO_BUILD_GUI)
  return()
endif()

include(GNUInstallDirs)

set(MARINDO_PACKAGE_MAINTAINER "marindo developers <marindo@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The PNG icons are the program's own window icon, drawn by its own code at
# build time, so the menu and the window show the same clock face.
add_executable(marindo_render_icon ${PROJECT_SOURCE_DIR}/packaging/RenderProgramIcon.cpp)
target_link_libraries(marindo_render_icon PRIVATE marindo_app marindo_options)

set(marindo_icon_sizes 16 32 48 64)
set(marindo_hicolor ${PROJECT_BINARY_DIR}/packaging/hicolor)
set(marindo_icon_pngs "")
foreach(size IN LISTS marindo_icon_sizes)
  list(APPEND marindo_icon_pngs ${marindo_hicolor}/${size}x${size}/apps/marindo.png)
endforeach()
add_custom_command(
  OUTPUT ${marindo_icon_pngs}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:marindo_render_icon> ${marindo_hicolor}
  DEPENDS marindo_render_icon
  COMMENT "Drawing the program icon into the hicolor theme"
  VERBATIM)
add_custom_target(marindo_icons ALL DEPENDS ${marindo_icon_pngs})

install(TARGETS marindo marindo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/marindo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/marindo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS marindo_icon_sizes)
  install(FILES ${marindo_hicolor}/${size}x${size}/apps/marindo.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Man pages go in compressed, as Debian wants them: gzip -n leaves out the
# name and time stamp, so the same page always packs to the same bytes.
# Component "manuals" (the package holds every component) lets the pages and
# the completion be installed without building the programs.
find_program(MARINDO_GZIP gzip REQUIRED)
set(marindo_man_pages marindo.1 marindo-cli.1)
set(marindo_man_dir ${PROJECT_BINARY_DIR}/packaging/man)
set(marindo_man_gz "")
foreach(page IN LISTS marindo_man_pages)
  add_custom_command(
    OUTPUT ${marindo_man_dir}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/${page} ${marindo_man_dir}/${page}
    COMMAND ${MARINDO_GZIP} -n -9 -f ${marindo_man_dir}/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}
    COMMENT "Compressing the man page ${page}"
    VERBATIM)
  list(APPEND marindo_man_gz ${marindo_man_dir}/${page}.gz)
endforeach()
add_custom_target(marindo_man_pages ALL DEPENDS ${marindo_man_gz})
install(FILES ${marindo_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manuals)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/marindo-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT manuals)

# The site exporter (marindo-cli serve) as a system service, its settings and
# the Prometheus alert rules for what it reports. The unit goes where Debian's
# own packages put theirs, outside the /usr prefix, and so does the settings
# file, which dpkg keeps as an administrator changed it (a conffile). Like
# "manuals", component "exporter" installs without building the programs.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/marindo-exporter.service
        DESTINATION /lib/systemd/system COMPONENT exporter)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/exporter.conf
        DESTINATION /etc/marindo COMPONENT exporter)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/prometheus/marindo-alerts.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/marindo/prometheus COMPONENT exporter)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marindo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "management tool for networked digital wall clocks")
set(CPACK_PACKAGE_DESCRIPTION
    "marindo finds the digital wall clocks on the local network, shows their\n"
    "settings (time zone, daylight saving, addressing, brightness, NTP servers,\n"
    "display texts, the bell schedule) and writes them back, upgrades their\n"
    "firmware and fetches their logs. Operators are the members of group marindo.\n"
    "A site exporter, the service marindo-exporter (disabled until enabled),\n"
    "reports the clocks to Prometheus, with alert rules to load there.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MARINDO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst makes the operators' group with groupadd when adduser is absent.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
# The About box and one error message are Chinese text.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
