# Running the Windows programs of a cross build under wine, for the tests.
#
# Every program runs through the wrapper ${CMAKE_BINARY_DIR}/wine-run, the
# build's emulator, in a private prefix inside the build tree. Tests that run
# wine require the fixture `wine`: its set-up makes the prefix and starts a
# persistent wineserver, its clean-up stops that server again.
#
# Sets LP_HAVE_WINE when the loader LP_WINE (set by the toolchain file) exists.
if(NOT LP_WINE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(LP_WINE /usr/lib/wine/wine64)
    set(LP_WINEARCH win64)
  else()
    set(LP_WINE /usr/lib/wine/wine)
    set(LP_WINEARCH win32)
  endif()
endif()
find_program(LP_WINESERVER NAMES wineserver64 wineserver32 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)

set(LP_HAVE_WINE FALSE)
if(EXISTS ${LP_WINE} AND LP_WINESERVER)
  set(LP_HAVE_WINE TRUE)
  set(LP_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  endif()
else()
  message(WARNING "${LP_WINE} not found: the Windows tests are not run (scripts/install-windows-tools.sh)")
endif()

# Adds the tests that start and stop the wineserver of fixture `wine`.
function(lp_wine_fixture)
  if(NOT LP_HAVE_WINE)
    return()
  endif()
  add_test(NAME wine_start COMMAND ${CMAKE_BINARY_DIR}/wine-run --start)
  add_test(NAME wine_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run --stop)
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine LABELS wine)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine LABELS wine)
endfunction()
