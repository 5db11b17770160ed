# Release archives made by CPack: dbcpack-<version>-linux-x86_64.tar.gz on
# Linux and dbcpack-<version>-win64.zip from the Windows cross build, each
# holding both programs, the README, the documents and the example tables,
# and on Linux the manual pages where man looks for them. The package-linux
# and package-windows workflow presets build them; package-linux links the
# C++ runtime into the programs, so that the archive runs on distributions
# older than the build machine.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The dbcpack developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_VERBATIM_VARIABLES ON)

string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" dbcpack_processor)
if(dbcpack_processor STREQUAL "amd64")
  set(dbcpack_processor x86_64)
endif()
if(WIN32)
  # Windows users know a 64-bit x86 build as "win64".
  if(dbcpack_processor STREQUAL "x86_64")
    set(dbcpack_platform win64)
  else()
    set(dbcpack_platform windows-${dbcpack_processor})
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" dbcpack_system)
  set(dbcpack_platform ${dbcpack_system}-${dbcpack_processor})
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${dbcpack_platform})

install(FILES README.md DESTINATION .)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs)
  # The manual pages go to share/man (see CMakeLists.txt), not twice.
  install(DIRECTORY docs/ DESTINATION docs PATTERN man EXCLUDE)
endif()
# Outputs of an earlier run in the source tree are not examples.
install(DIRECTORY examples/ DESTINATION examples PATTERN "*.dbc" EXCLUDE)

include(CPack)
