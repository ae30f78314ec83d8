# SPDX-License-Identifier: MIT
# The Windows build under wine, as part of the native test run: the same
# unit and scenario programs cross-built with MinGW-w64, the Win32 backend's
# own units, and zrvmon.exe end to end against zrvsim. Label "wine".
include(ExternalProject)

option(ZRV_WINE_TESTS "Cross-build the tests and run them under wine" ON)
if(NOT ZRV_WINE_TESTS)
  return()
endif()

set(_wine_tests test_text test_console test_link test_terminal test_monitor
                test_scenario test_sim test_net test_win32)
find_program(ZRV_MINGW_CXX x86_64-w64-mingw32-g++-posix)

if(NOT ZRV_MINGW_CXX)
  message(STATUS "MinGW-w64 not found: the wine tests will report a skip")
  add_test(NAME wine_skipped
           COMMAND sh -c "echo 'SKIP: the wine tests need MinGW-w64 and wine (scripts/deps.sh test installs them)'; exit 77")
  set_tests_properties(wine_skipped PROPERTIES LABELS wine SKIP_RETURN_CODE 77)
  return()
endif()

set(_windows ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(zrv_windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${_windows}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
             -DCMAKE_BUILD_TYPE=Release -DZRV_TESTS=ON
             -DZRV_WERROR=${ZRV_WERROR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD OFF)

# One prefix for the whole run, made by the first test that needs it.
set(_wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEDEBUG=-all"
              "WINEDLLOVERRIDES=mscoree,mshtml=" "ZRVMON_EXE=${_windows}/zrvmon.exe")
set(_wine ${CMAKE_CURRENT_SOURCE_DIR}/wine)

add_test(NAME wine_prefix COMMAND bash ${_wine}/prefix.sh)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
add_test(NAME wine_server_stop
         COMMAND sh -c "wineserver -k 2>/dev/null; timeout 20 wineserver -w; exit 0")
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 30)

add_test(NAME wine_imports COMMAND bash ${_wine}/imports.sh ${_windows}/zrvmon.exe)

foreach(_t ${_wine_tests})
  add_test(NAME wine_${_t} COMMAND bash ${_wine}/run.sh ${_windows}/${_t}.exe)
  set_tests_properties(wine_${_t} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
endforeach()

# Linux end-to-end scripts that run as they are against zrvmon.exe, each
# on a COM number of its own.
set(_wine_shared reset:8 silent:10 log:14 ser2net:16)
foreach(_pair ${_wine_shared})
  string(REPLACE ":" ";" _pair ${_pair})
  list(GET _pair 0 _n)
  list(GET _pair 1 _com)
  add_test(NAME wine_e2e_test_${_n}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_${_n}.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_e2e_test_${_n} PROPERTIES FIXTURES_REQUIRED wine
                       TIMEOUT 240 RUN_SERIAL TRUE)
  set(_wine_com_${_n} ${_com})
endforeach()

file(GLOB _wine_e2e CONFIGURE_DEPENDS ${_wine}/test_*.sh)
foreach(_script ${_wine_e2e})
  get_filename_component(_n ${_script} NAME_WE)
  add_test(NAME wine_e2e_${_n} COMMAND bash ${_script} ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_e2e_${_n} PROPERTIES FIXTURES_REQUIRED wine
                       TIMEOUT 240 RUN_SERIAL TRUE)
endforeach()

get_property(_all DIRECTORY PROPERTY TESTS)
foreach(_t ${_all})
  if(_t MATCHES "^wine_")
    set_tests_properties(${_t} PROPERTIES LABELS wine ENVIRONMENT "${_wine_env}"
                         SKIP_RETURN_CODE 77)
  endif()
endforeach()
foreach(_pair ${_wine_shared})
  string(REGEX REPLACE ":.*" "" _n ${_pair})
  set_property(TEST wine_e2e_test_${_n} APPEND PROPERTY ENVIRONMENT
               "E2E_WINE_COM=${_wine_com_${_n}}")
endforeach()
