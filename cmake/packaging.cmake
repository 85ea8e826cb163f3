# Install rules and CPack settings: the Windows zip, the Linux tarball and .deb.
# Included by both branches of the top-level CMakeLists.txt, after the
# autooverridelist target exists.
include(GNUInstallDirs)

# The .deb's maintainer and the signature of its changelog. The project has no
# public address yet: "invalid" is a host that never exists (RFC 2606), which
# lintian reports as bogus until a real address takes its place here.
set(AOL_MAINTAINER "The Auto Overridelist authors <autooverridelist@invalid>")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  configure_file(doc/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS autooverridelist RUNTIME DESTINATION .)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME windows-x86)
  else()
    set(CPACK_SYSTEM_NAME windows-x64)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  # Four parts: the program, as the system's packages are (dynamically linked);
  # the portable program (linked statically, for the tarball, installed only by
  # CPack); the README, plain man page and licence, for the tarball and for an
  # install from the build folder; and what Debian asks of a package in their
  # place (installed only by CPack).
  configure_file(doc/autooverridelist.1.in autooverridelist.1 @ONLY)
  set(programs autooverridelist program)
  install(TARGETS autooverridelist RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  if(AOL_BUILD_PORTABLE)
    list(APPEND programs autooverridelist_portable portable)
    install(TARGETS autooverridelist_portable RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
      COMPONENT portable EXCLUDE_FROM_ALL)
  endif()
  # A stripped program also loses the compiler's notes, as Debian strips them.
  while(programs)
    list(POP_FRONT programs target component)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT ${component})
  endwhile()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT plain)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/autooverridelist.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT plain)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR TGZ)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND CPACK_GENERATOR DEB)
    # The .deb's man page and changelog are compressed as Debian's own tools
    # do it (gzip -9n: no name, no time). The changelog's latest entry is dated
    # from SOURCE_DATE_EPOCH, which string(TIMESTAMP) reads; an older entry
    # keeps its own date in doc/changelog.in.
    find_program(AOL_GZIP gzip REQUIRED)
    string(TIMESTAMP AOL_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    configure_file(doc/changelog.in changelog @ONLY)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian)
    foreach(file autooverridelist.1 changelog)
      execute_process(COMMAND ${AOL_GZIP} -9n -c ${CMAKE_CURRENT_BINARY_DIR}/${file}
        OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/${file}.gz COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/autooverridelist.1.gz
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT debian EXCLUDE_FROM_ALL)
    install(FILES README.md doc/copyright ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  endif()
  set(CPACK_STRIP_FILES ON)
  set(CPACK_AOL_PORTABLE ${AOL_BUILD_PORTABLE})
  # Each package takes its own parts (cmake/cpack_parts.cmake).
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_parts.cmake)
endif()

set(CPACK_PACKAGE_NAME autooverridelist)
set(CPACK_PACKAGE_VENDOR "The Auto Overridelist authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Writes the list of a Tarnvale Data folder's mod files")
set(CPACK_PACKAGE_DESCRIPTION
  "Run in the game's Data folder, it writes NewOverridelist.txt: the paths of all\nthe files below that folder, ready to become the game's Overridelist.txt.")
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
# The zip unpacks straight into the Data folder; the tarball into a folder of its own.
if(WIN32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${AOL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
