# Installation and the Debian packages: quillmoor (the window, its menu entry, icons and
# AppStream data) and quillmoor-cli (the terminal program, the plug-in header, the language
# files, the man page, bash completion and the systemd user service).
# `cpack -G DEB --config build/CPackConfig.cmake` (or scripts/package.sh) makes them.
include(GNUInstallDirs)
# Packaging installs what the build made and never builds itself (the packaging test runs
# beside other tests); scripts/package.sh builds first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(QM_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QM_APP_ID org.quillmoor.Quillmoor)

install(TARGETS quillmoor-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/include/quillmoor/plugin.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillmoor COMPONENT cli)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/lang/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmoor/lang COMPONENT cli)
install(FILES ${QM_PACKAGING_DIR}/quillmoor-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillmoor-cli COMPONENT cli)
install(FILES ${QM_PACKAGING_DIR}/quillmoor-serve.service DESTINATION lib/systemd/user COMPONENT cli)

# Man pages, changelogs and copyright as Debian wants them (compressed without time stamps).
find_program(QM_GZIP gzip REQUIRED)
function(qm_gzipped source name destination component)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${component}/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging/${component}
    COMMAND ${QM_GZIP} -9nc ${source} > ${out}
    DEPENDS ${source} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY QM_PACKAGING_OUTPUTS ${out})
  install(FILES ${out} DESTINATION ${destination} COMPONENT ${component})
endfunction()
qm_gzipped(${QM_PACKAGING_DIR}/quillmoor-cli.1 quillmoor-cli.1 ${CMAKE_INSTALL_MANDIR}/man1 cli)
qm_gzipped(${QM_PACKAGING_DIR}/changelog changelog ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillmoor-cli cli)
install(FILES ${QM_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillmoor-cli COMPONENT cli)

if(TARGET quillmoor)
  install(TARGETS quillmoor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
  qm_gzipped(${QM_PACKAGING_DIR}/quillmoor.1 quillmoor.1 ${CMAKE_INSTALL_MANDIR}/man1 gui)
  qm_gzipped(${QM_PACKAGING_DIR}/changelog changelog ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillmoor gui)
  install(FILES ${QM_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillmoor COMPONENT gui)
  install(FILES ${QM_PACKAGING_DIR}/${QM_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT gui)
  install(FILES ${QM_PACKAGING_DIR}/${QM_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT gui)
  install(FILES ${QM_PACKAGING_DIR}/quillmoor.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${QM_APP_ID}.svg COMPONENT gui)
  # The bitmap sizes are drawn from the one SVG.
  find_program(QM_RSVG_CONVERT rsvg-convert)
  if(QM_RSVG_CONVERT)
    foreach(size 16 22 24 32 48 64 128 256)
      set(png ${CMAKE_CURRENT_BINARY_DIR}/packaging/icons/${size}/${QM_APP_ID}.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging/icons/${size}
        COMMAND ${QM_RSVG_CONVERT} -w ${size} -h ${size} ${QM_PACKAGING_DIR}/quillmoor.svg -o ${png}
        DEPENDS ${QM_PACKAGING_DIR}/quillmoor.svg VERBATIM)
      set_property(GLOBAL APPEND PROPERTY QM_PACKAGING_OUTPUTS ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT gui)
    endforeach()
  endif()
endif()
get_property(qm_packaging_outputs GLOBAL PROPERTY QM_PACKAGING_OUTPUTS)
add_custom_target(qm_packaging_files ALL DEPENDS ${qm_packaging_outputs})

set(CPACK_PACKAGE_NAME quillmoor)
set(CPACK_PACKAGE_VENDOR "Quillmoor developers")
set(CPACK_PACKAGE_CONTACT "Quillmoor developers <quillmoor@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET quillmoor)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillmoor.example.org/")
set(CPACK_DEBIAN_CLI_PACKAGE_NAME quillmoor-cli)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME quillmoor)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "quillmoor-cli (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION web)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION web)
# The cookie rules read the public-suffix list at run time; without it only top-level domains count.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "publicsuffix")
set(CPACK_COMPONENT_CLI_DESCRIPTION
 "website downloader and offline browser (terminal program)
Quillmoor keeps Projects (a start address and rules: link depth, servers,
directories, file names and types, sizes, schedule), stores their sites over
HTTP, HTTPS and FTP with links rewritten for offline reading, and serves the
stored sites to browsers on this machine.
.
This package holds quillmoor-cli, the language files, the plug-in header and
a systemd user service that runs scheduled Projects.")
set(CPACK_COMPONENT_GUI_DESCRIPTION
 "website downloader and offline browser (desktop window)
Quillmoor keeps Projects (a start address and rules: link depth, servers,
directories, file names and types, sizes, schedule), stores their sites over
HTTP, HTTPS and FTP with links rewritten for offline reading, and serves the
stored sites to browsers on this machine.
.
This package holds the desktop program with its menu entry and icons.")
include(CPack)
