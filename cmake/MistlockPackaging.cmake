# Release packages, made by CPack from the install rules below.
#
#   Windows build:  a zip to unpack anywhere: Mistlock.dll for the messenger's
#                   plug-in folder, mistlock.exe, the language files and the
#                   user guide with its pictures.
#   Linux build:    a Debian package of the mistlock command line, with its
#                   manual page and the user guide.
#
# scripts/package.sh builds both and checks what they hold.
if(NOT TARGET mistlock OR NOT TARGET Mistlock)
  return()
endif()

include(GNUInstallDirs)

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Mistlock")
set(CPACK_PACKAGE_CONTACT "Mistlock maintainers <mistlock@localhost>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Message encryption for an ICQ-style messenger")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Mistlock)
  set(CPACK_PACKAGE_FILE_NAME Mistlock-${PROJECT_VERSION}-win64)
  # The zip unpacks into one folder of that name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

  install(TARGETS Mistlock mistlock
          RUNTIME DESTINATION .
          LIBRARY DESTINATION .
          ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/lang/English/Mistlock.lng DESTINATION lang/English)
  install(FILES ${CMAKE_SOURCE_DIR}/lang/template.lng DESTINATION lang)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md DESTINATION docs)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/images/ DESTINATION docs/images OPTIONAL
          FILES_MATCHING PATTERN "*.png")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME mistlock)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME mistlock)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "seal and open Mistlock messenger envelopes")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "The Mistlock plug-in encrypts the messages of an ICQ-style messenger on\n"
      "Windows. mistlock seals and opens its envelopes outside the messenger,\n"
      "and opens every envelope in a saved chat history.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  # The library versions the program needs, worked out from the binary where
  # dpkg-shlibdeps is at hand; otherwise named without versions.
  find_program(MISTLOCK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(MISTLOCK_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()

  install(TARGETS mistlock RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages are installed compressed, reproducibly (no name or time).
  set(man_page ${CMAKE_BINARY_DIR}/man/mistlock.1.gz)
  add_custom_command(OUTPUT ${man_page}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/docs/mistlock.1 > ${man_page}
                     DEPENDS ${CMAKE_SOURCE_DIR}/docs/mistlock.1
                     COMMENT "Compressing the manual page"
                     VERBATIM)
  add_custom_target(mistlock_man_page ALL DEPENDS ${man_page})
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/mistlock)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/images/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/mistlock/images
          OPTIONAL FILES_MATCHING PATTERN "*.png")
endif()

include(CPack)
