# What `cmake --install` puts where, and the packages cpack makes of it: a zip
# for Windows, a Debian package elsewhere. The analysis library is internal and
# is never installed.
if(WIN32)
  install(TARGETS codepage-guess RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
else()
  include(GNUInstallDirs)
  # The manual page carries the project's version; Debian wants it compressed.
  configure_file(doc/codepage-guess.1.in codepage-guess.1 @ONLY)
  find_program(GZIP_PROGRAM gzip)
  if(GZIP_PROGRAM)
    set(manual ${CMAKE_CURRENT_BINARY_DIR}/codepage-guess.1.gz)
    add_custom_command(OUTPUT ${manual}
      COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_CURRENT_BINARY_DIR}/codepage-guess.1 > ${manual}
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/codepage-guess.1
      VERBATIM)
  else()
    set(manual ${CMAKE_CURRENT_BINARY_DIR}/codepage-guess.1)
  endif()
  add_custom_target(manual ALL DEPENDS ${manual})

  install(TARGETS codepage-guess RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CODEPAGE_GUESS_MAINTAINER "codepage-guess maintainers <maintainers@codepage-guess.org>"
      CACHE STRING "Name and address of the Debian package's maintainer")
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CODEPAGE_GUESS_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION
      "codepage-guess is run by a text editor with the path of a file of unknown\n"
      "encoding. It reads at most the first mebibyte, decides whether the text is\n"
      "UTF-8 or Shift_JIS, and prints one editor property line, code.page=65001 or\n"
      "code.page=932, or nothing when it cannot decide.")
  string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  # A static executable needs no shared library; otherwise let dpkg-shlibdeps
  # work out what it does need.
  if(CODEPAGE_GUESS_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The codepage-guess authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
