# Install rules and CPack settings: the Windows zip, the Linux tarball and .deb.
# Included by both branches of the top-level CMakeLists.txt, after the
# autooverridelist target exists.
include(GNUInstallDirs)

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
  configure_file(doc/autooverridelist.1.in autooverridelist.1 @ONLY)
  install(TARGETS autooverridelist RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/autooverridelist.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR TGZ)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND CPACK_GENERATOR DEB)
  endif()
  set(CPACK_STRIP_FILES ON)
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
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Auto Overridelist authors")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
