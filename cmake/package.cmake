# Installation for C and C++ users: the two deliverables, the public header
# include/lpfit.h and a package configuration, so that a consumer project
# writes find_package(lpfit) and links lpfit::Dorvane or lpfit::Tremsal.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LPFIT_VERSION 0.1.0)
set(LPFIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lpfit)

foreach(lib Dorvane Tremsal)
  target_include_directories(${lib} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()

install(TARGETS Dorvane Tremsal EXPORT lpfitTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/lpfit.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT lpfitTargets NAMESPACE lpfit:: DESTINATION ${LPFIT_CMAKE_DIR})

configure_package_config_file(cmake/lpfitConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/lpfitConfig.cmake
                              INSTALL_DESTINATION ${LPFIT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/lpfitConfigVersion.cmake
                                 VERSION ${LPFIT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lpfitConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/lpfitConfigVersion.cmake
        DESTINATION ${LPFIT_CMAKE_DIR})

if(LP_TESTS AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  # Install into a fresh prefix, then configure, build and run a consumer
  # project that finds the package there. Sanitizer builds are left out: their
  # libraries need the sanitizer runtime loaded first by the consumer.
  if(NOT LP_SANITIZE)
    add_test(NAME package_consumer
             COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
                     -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/tests/package/consumer
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/package_consumer
                     -DGENERATOR=${CMAKE_GENERATOR}
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/consume.cmake)
    set_tests_properties(package_consumer PROPERTIES LABELS package)
  endif()
endif()
