# Release archives made by CPack: dbcpack-<version>-linux-x86_64.tar.gz on
# Linux and dbcpack-<version>-win64.zip from the Windows cross build, each
# holding what `cmake --install` puts into a prefix, in the same layout
# (see the install rules in CMakeLists.txt): the programs, the README, the
# documents and the example tables, and on Linux the manual pages. The
# package-linux and package-windows workflow presets build them.
#
# The Linux archive must run on distributions older than the build machine,
# so package-linux links libstdc++ into the programs (-static-libstdc++),
# and with it --gc-sections: without that, parts of libstdc++ that the
# programs never run (std::random_device) would ask for a glibc as new as
# the build machine's (arc4random, 2.36). libgcc stays the system's
# libgcc_s.so.1, which every glibc system has (glibc itself loads it): the
# static libgcc's unwinder would call _dl_find_object and need glibc 2.35.
# What is left needs glibc 2.34; the README says so, and objdump -T on the
# programs shows it (the highest GLIBC_ version).
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

include(CPack)
