# Release packages, made by CPack from the install rules below.
#
#   Windows build:  a zip to unpack anywhere, as a Windows user expects one:
#                   Mistlock.dll for the messenger's plug-in folder,
#                   mistlock.exe, the language files, README.txt, LICENSE.txt
#                   and CHANGELOG.txt with CR LF line ends, the user guide as
#                   a web page with its pictures, and SHA256SUMS.
#   Linux build:    a Debian package of the mistlock command line, with its
#                   manual page, the user guide, the copyright file and the
#                   changelogs that Debian policy asks for.
#
# scripts/package.sh builds both and checks what they hold.
if(NOT TARGET mistlock OR NOT TARGET Mistlock)
  return()
endif()

include(GNUInstallDirs)

set(mistlock_default_maintainer "Mistlock maintainers <maintainers@mistlock.org>")
set(CPACK_PACKAGE_CONTACT "${mistlock_default_maintainer}" CACHE STRING "Maintainer named in the packages")
# Build trees configured before there was an address to give keep the old
# placeholder, which Debian's tools reject.
if(CPACK_PACKAGE_CONTACT STREQUAL "Mistlock maintainers <mistlock@localhost>")
  set(CPACK_PACKAGE_CONTACT "${mistlock_default_maintainer}" CACHE STRING "Maintainer named in the packages" FORCE)
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Mistlock developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Message encryption for an ICQ-style messenger")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(package_files ${CMAKE_BINARY_DIR}/package-files)

include(${CMAKE_CURRENT_LIST_DIR}/MistlockChangelog.cmake)

# The pictures the guide shows, and only those: no page in the packages
# shows the others.
file(READ ${CMAKE_SOURCE_DIR}/docs/user-guide.md guide_text)
string(REGEX MATCHALL "\\(images/[^)]*\\.png\\)" guide_pictures "${guide_text}")
list(TRANSFORM guide_pictures REPLACE "^\\(images/(.*)\\)$" "${CMAKE_SOURCE_DIR}/docs/images/\\1")
list(REMOVE_DUPLICATES guide_pictures)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/user-guide.md)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Mistlock)
  set(CPACK_PACKAGE_FILE_NAME Mistlock-${PROJECT_VERSION}-win64)
  # The zip unpacks into one folder of that name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

  # Notepad before Windows 10 shows a text without CR LF as one long line.
  foreach(text packaging/windows/README.txt.in:README.txt LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" text ${text})
    list(GET text 0 from)
    list(GET text 1 to)
    configure_file(${CMAKE_SOURCE_DIR}/${from} ${package_files}/${to} @ONLY NEWLINE_STYLE CRLF)
  endforeach()
  mistlock_write_changelog(${package_files}/CHANGELOG.txt CRLF)

  install(TARGETS Mistlock mistlock
          RUNTIME DESTINATION .
          LIBRARY DESTINATION .
          ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/lang/English/Mistlock.lng DESTINATION lang/English)
  install(FILES ${CMAKE_SOURCE_DIR}/lang/template.lng DESTINATION lang)
  install(FILES ${package_files}/README.txt ${package_files}/LICENSE.txt ${package_files}/CHANGELOG.txt
          DESTINATION .)
  install(FILES ${guide_pictures} DESTINATION docs/images)

  # The guide becomes a web page as the package is made: Windows opens no
  # Markdown. Its maker needs Python with python3-markdown, looked for when
  # the package is made (the tree may have been configured before it was
  # installed); the interpreter first in the PATH may lack the module where
  # the system's has it.
  install(CODE "
    set(guide_python)
    foreach(candidate python3 /usr/bin/python3)
      if(NOT guide_python)
        execute_process(COMMAND \${candidate} -c \"import markdown\" RESULT_VARIABLE no_markdown
                        OUTPUT_QUIET ERROR_QUIET)
        if(no_markdown EQUAL 0)
          set(guide_python \${candidate})
        endif()
      endif()
    endforeach()
    if(NOT guide_python)
      message(FATAL_ERROR \"The user guide cannot become a web page: no Python with the markdown module (Debian package python3-markdown).\")
    endif()
    execute_process(COMMAND \${guide_python} \"${CMAKE_SOURCE_DIR}/packaging/guide_html.py\"
                            \"${CMAKE_SOURCE_DIR}/docs/user-guide.md\"
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/docs/user-guide.html\"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"The user guide could not be made into a web page.\")
    endif()
  ")

  # Last: the checksum of every file the zip holds besides this one.
  install(CODE [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
    list(REMOVE_ITEM files SHA256SUMS)
    list(SORT files)
    set(sums "")
    foreach(file IN LISTS files)
      file(SHA256 "${root}/${file}" sum)
      string(APPEND sums "${sum}  ${file}\r\n")
    endforeach()
    file(WRITE "${root}/SHA256SUMS" "${sums}")
  ]])
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME mistlock)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME mistlock)
  # A Debian revision: the package is made apart from the upstream source,
  # and its own changelog is changelog.Debian.gz.
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://mistlock.org/" CACHE STRING "Home page named in the Debian package")
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

  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/mistlock)
  install(TARGETS mistlock RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # What Debian's own packaging strips besides the symbols: the compiler's
  # notes, which only make the program larger.
  install(CODE "
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/mistlock\"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"Could not strip mistlock.\")
    endif()
  ")

  # The copyright file in the machine-readable format: the licence text with
  # each line indented by one blank and empty lines written as " .".
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
  string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" license "${license}")
  string(REGEX REPLACE "\n+$" "" license "${license}")
  string(REPLACE "\n\n" "\n.\n" license "${license}")
  string(REPLACE "\n" "\n " MISTLOCK_LICENSE_TEXT " ${license}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/copyright.in ${package_files}/copyright @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in ${package_files}/changelog.Debian @ONLY)
  mistlock_write_changelog(${package_files}/changelog LF)

  # Manual page and changelogs are installed compressed, reproducibly (no
  # name or time in the gzip header).
  set(compressed)
  foreach(source docs/mistlock.1 ${package_files}/changelog.Debian ${package_files}/changelog)
    get_filename_component(name ${source} NAME)
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    add_custom_command(OUTPUT ${package_files}/${name}.gz
                       COMMAND gzip -9nc ${source} > ${package_files}/${name}.gz
                       DEPENDS ${source}
                       COMMENT "Compressing ${name}"
                       VERBATIM)
    list(APPEND compressed ${package_files}/${name}.gz)
  endforeach()
  add_custom_target(mistlock_package_files ALL DEPENDS ${compressed})

  install(FILES ${package_files}/mistlock.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${package_files}/copyright ${package_files}/changelog.Debian.gz ${package_files}/changelog.gz
                ${CMAKE_SOURCE_DIR}/docs/user-guide.md
          DESTINATION ${doc_dir})
  install(FILES ${guide_pictures} DESTINATION ${doc_dir}/images)
  # Lintian's tags that do not apply to this package, each with the reason.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME mistlock)
endif()

include(CPack)
