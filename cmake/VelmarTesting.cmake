# SPDX-License-Identifier: GPL-3.0-or-later
# velmar_add_qtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [TIMEOUT <s>])
#
# Adds a QtTest executable and registers it with CTest. Label "unit" marks fast
# tests with no display or pseudo-terminal; "e2e" marks end-to-end tests
# (pseudo-terminal, simulator, real QML). The whole suite runs under xvfb-run
# from scripts/test.sh, so tests that need a display get one.
function(velmar_add_qtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()
