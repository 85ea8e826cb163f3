# Read by CPack once for each package it makes: the parts of the install that
# package holds (cmake/packaging.cmake), installed one after another into one
# tree, so that each package is made as from a plain install. A source package
# installs no project, and is left as it is.
if(CPACK_INSTALL_CMAKE_PROJECTS)
  # The .deb holds the program as Debian's are, dynamically linked; the tarball,
  # for any Linux, the portable one where the build made it.
  if(CPACK_GENERATOR STREQUAL "DEB")
    set(parts program debian)
  elseif(CPACK_AOL_PORTABLE)
    set(parts portable plain)
  else()
    set(parts program plain)
  endif()
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build_dir)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 1 project)
  set(CPACK_INSTALL_CMAKE_PROJECTS "")
  foreach(part IN LISTS parts)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${build_dir} ${project} ${part} /)
  endforeach()
endif()
