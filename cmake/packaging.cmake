# What `cmake --install` puts where, and the packages cpack makes of it. Three
# components: the tool ("tool"), the shared library ("library") and what
# programs that use the library are built with ("dev"). Windows gets one zip
# of all three; Debian gets a package for each.
include(CMakePackageConfigHelpers)

option(CODEPAGE_GUESS_DEBIAN
  "Install as Debian's packages lay files out: a copyright file and changelog per package" OFF)
set(CODEPAGE_GUESS_DEBIAN_REVISION 1 CACHE STRING "The Debian packages' revision")

if(WIN32)
  set(bin_dir .)
  set(doc_dir .)
else()
  set(bin_dir ${CMAKE_INSTALL_BINDIR})
  set(doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()
set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/codepage_guess)

install(TARGETS codepage-guess codepage-scan codepage-convert codepage-cat
  RUNTIME DESTINATION ${bin_dir}
  COMPONENT tool)
if(CODEPAGE_GUESS_DEBIAN)
  install(FILES README.md DESTINATION ${doc_dir} COMPONENT tool)
else()
  install(FILES README.md LICENSE DESTINATION ${doc_dir} COMPONENT tool)
endif()

# The editors' plug-ins, where Debian's Vim, Neovim and Emacs find them
# (packadd codepage-guess; (codepage-guess-mode 1)); on Windows, in the zip.
set(vim_files plugin/codepage_guess.vim autoload/codepage_guess.vim doc/codepage-guess.txt)
# :help needs a tags file: every *tag* the help file defines.
file(STRINGS editors/vim/doc/codepage-guess.txt help_lines REGEX "\\*[^* \t]+\\*")
set(help_tags)
foreach(line IN LISTS help_lines)
  string(REGEX MATCHALL "\\*[^* \t]+\\*" tags "${line}")
  foreach(tag IN LISTS tags)
    string(REGEX REPLACE "^\\*(.*)\\*$" "\\1" tag "${tag}")
    list(APPEND help_tags "${tag}\tcodepage-guess.txt\t/*${tag}*")
  endforeach()
endforeach()
list(SORT help_tags)
list(JOIN help_tags "\n" help_tags)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/vim-tags "${help_tags}\n")
if(WIN32)
  set(vim_dirs editors/vim)
  set(emacs_dir editors/emacs)
else()
  set(vim_dirs ${CMAKE_INSTALL_DATAROOTDIR}/vim/vimfiles/pack/codepage-guess/opt/codepage-guess
               ${CMAKE_INSTALL_DATAROOTDIR}/nvim/site/pack/codepage-guess/opt/codepage-guess)
  set(emacs_dir ${CMAKE_INSTALL_DATAROOTDIR}/emacs/site-lisp)
endif()
foreach(vim_dir IN LISTS vim_dirs)
  foreach(file IN LISTS vim_files)
    get_filename_component(folder ${file} DIRECTORY)
    install(FILES editors/vim/${file} DESTINATION ${vim_dir}/${folder} COMPONENT tool)
  endforeach()
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vim-tags DESTINATION ${vim_dir}/doc RENAME tags
    COMPONENT tool)
endforeach()
install(FILES editors/emacs/codepage-guess.el DESTINATION ${emacs_dir} COMPONENT tool)
# Where Emacs is installed (as the Debian package's build needs it), the
# package is byte-compiled, warnings failing the build, and its autoloads are
# generated, for the start-up file to load.
if(NOT WIN32)
  find_program(EMACS_PROGRAM emacs)
  if(EMACS_PROGRAM)
    set(emacs_build ${CMAKE_CURRENT_BINARY_DIR}/emacs)
    add_custom_command(
      OUTPUT ${emacs_build}/codepage-guess.elc ${emacs_build}/codepage-guess-autoloads.el
      COMMAND ${CMAKE_COMMAND} -E make_directory ${emacs_build}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/editors/emacs/codepage-guess.el
              ${emacs_build}/codepage-guess.el
      COMMAND ${EMACS_PROGRAM} --batch -Q -l ${PROJECT_SOURCE_DIR}/editors/emacs/make-autoloads.el
              ${emacs_build}
      DEPENDS editors/emacs/codepage-guess.el editors/emacs/make-autoloads.el
      VERBATIM)
    add_custom_target(emacs_package ALL
      DEPENDS ${emacs_build}/codepage-guess.elc ${emacs_build}/codepage-guess-autoloads.el)
    install(FILES ${emacs_build}/codepage-guess.elc ${emacs_build}/codepage-guess-autoloads.el
      DESTINATION ${emacs_dir} COMPONENT tool)
  else()
    message(STATUS "No Emacs: codepage-guess.el is installed without its autoloads")
  endif()
endif()
if(CODEPAGE_GUESS_DEBIAN)
  install(FILES editors/emacs/50codepage-guess.el DESTINATION /etc/emacs/site-start.d
    COMPONENT tool)
endif()

install(TARGETS codepage_guess_shared codepage_guess_static EXPORT codepage_guess
  RUNTIME DESTINATION ${bin_dir} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES include/codepage_guess.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# find_package(codepage_guess CONFIG): codepage_guess::codepage_guess (shared)
# and codepage_guess::codepage_guess_static; relocatable, as install(EXPORT)
# finds the prefix from where the files are.
install(EXPORT codepage_guess NAMESPACE codepage_guess:: FILE codepage_guessTargets.cmake
  DESTINATION ${cmake_dir} COMPONENT dev)
configure_package_config_file(cmake/codepage_guessConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/codepage_guessConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/codepage_guessConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/codepage_guessConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/codepage_guessConfigVersion.cmake
  DESTINATION ${cmake_dir} COMPONENT dev)

# pkg-config, also relocatable: the prefix is found from the .pc file's place.
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(cmake/codepage-guess.pc.in codepage-guess.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/codepage-guess.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

if(NOT WIN32)
  # The manual pages carry the project's version; Debian wants them compressed.
  find_program(GZIP_PROGRAM gzip)
  foreach(page codepage-guess.1:tool codepage-scan.1:tool codepage-convert.1:tool
               codepage-cat.1:tool codepage_guess.3:dev)
    string(REPLACE ":" ";" page ${page})
    list(GET page 0 name)
    list(GET page 1 component)
    string(REGEX REPLACE ".*\\." "" section ${name})
    configure_file(doc/${name}.in ${name} @ONLY)
    set(manual ${CMAKE_CURRENT_BINARY_DIR}/${name})
    if(GZIP_PROGRAM)
      add_custom_command(OUTPUT ${manual}.gz
        COMMAND ${GZIP_PROGRAM} -9 -n -c ${manual} > ${manual}.gz
        DEPENDS ${manual}
        VERBATIM)
      string(APPEND manual .gz)
    endif()
    string(MAKE_C_IDENTIFIER ${name} target)
    add_custom_target(manual_${target} ALL DEPENDS ${manual})
    install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endforeach()
endif()

if(CODEPAGE_GUESS_DEBIAN)
  # Each package carries the licence in Debian's machine-readable form and the
  # changelog, whose latest entry must be this version.
  set(debian_version ${PROJECT_VERSION}-${CODEPAGE_GUESS_DEBIAN_REVISION})
  file(STRINGS cmake/debian/changelog latest LIMIT_COUNT 1)
  if(NOT latest MATCHES "^${PROJECT_NAME} \\(${debian_version}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog starts with '${latest}', not version ${debian_version}")
  endif()
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${changelog}
    DEPENDS cmake/debian/changelog
    VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${changelog})
  foreach(package codepage-guess:tool libcodepage-guess${PROJECT_VERSION_MAJOR}:library
                  libcodepage-guess-dev:dev)
    string(REPLACE ":" ";" package ${package})
    list(GET package 0 name)
    list(GET package 1 component)
    install(FILES cmake/debian/copyright ${changelog}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
  endforeach()
  install(FILES cmake/debian/codepage-guess.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME codepage-guess
    COMPONENT tool)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The codepage-guess authors")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
else()
  set(CODEPAGE_GUESS_MAINTAINER "codepage-guess maintainers <maintainers@codepage-guess.org>"
      CACHE STRING "Name and address of the Debian packages' maintainer")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL tool library dev)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${CODEPAGE_GUESS_DEBIAN_REVISION})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CODEPAGE_GUESS_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME codepage-guess)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_TOOL_DESCRIPTION
      "${PROJECT_DESCRIPTION}\n"
      "codepage-guess is run by a text editor with the path of a file of unknown\n"
      "encoding. It reads at most the first mebibyte, decides whether the text is\n"
      "UTF-8 or Shift_JIS, and prints one editor property line, code.page=65001 or\n"
      "code.page=932, or nothing when it cannot decide.\n"
      "codepage-scan says what every file of a tree is beside the same decision,\n"
      "codepage-convert rewrites the Japanese files as UTF-8, losslessly and\n"
      "atomically, and codepage-cat writes any of them as UTF-8 for git diff,\n"
      "ripgrep, less and bat.")
  # Each description's first line is its package's summary: CPack puts the
  # project's summary before it unless that is left at CPack's own default.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
  # codepage-guess is static; codepage-scan, codepage-convert and codepage-cat take the C
  # and C++ runtimes, which dpkg-shlibdeps finds.
  set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
  # The Emacs start-up file is the administrator's to change.
  set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/conffiles)

  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libcodepage-guess${PROJECT_VERSION_MAJOR})
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
  # A shlibs file for the package with the shared library, and the loader's
  # cache renewed by a trigger.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
  set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
      "Library that tells whether text is UTF-8 or Shift_JIS\n"
      "The decision of the codepage-guess command for programs that want it in\n"
      "process: a C interface to decide on a buffer, a stream or a file, and to\n"
      "explain a decision.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcodepage-guess-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  # The static library is C++ inside: linking it takes the C++ runtime of the
  # compiler that built it, or a later one.
  set(runtime libstdc++-dev)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    string(REGEX MATCH "^[0-9]+" compiler_major "${CMAKE_CXX_COMPILER_VERSION}")
    set(runtime "libstdc++-${compiler_major}-dev | ${runtime}")
  endif()
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
      "${CPACK_DEBIAN_LIBRARY_PACKAGE_NAME} (= ${PROJECT_VERSION}-${CODEPAGE_GUESS_DEBIAN_REVISION}), ${runtime}")
  set(CPACK_DEBIAN_DEV_DESCRIPTION
      "Library that tells whether text is UTF-8 or Shift_JIS (development files)\n"
      "The header codepage_guess.h, the static library, the CMake package\n"
      "(find_package(codepage_guess)), the pkg-config file codepage-guess.pc and\n"
      "the manual page codepage_guess(3).")
  if(CMAKE_CROSSCOMPILING)
    # Debian's name for the target, and the library's dependencies as
    # dpkg-shlibdeps finds them on amd64: it cannot read another target's.
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    else()
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
    endif()
    set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6 (>= 2.33), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)")
    set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
  endif()
  foreach(component TOOL LIBRARY DEV)
    string(JOIN "" CPACK_DEBIAN_${component}_DESCRIPTION ${CPACK_DEBIAN_${component}_DESCRIPTION})
  endforeach()
endif()
include(CPack)
