# SPDX-License-Identifier: GPL-3.0-or-later
# velmar_add_qtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [TIMEOUT <s>])
#
# Adds a QtTest executable and registers it with CTest. Label "unit" marks fast
# tests with no display or pseudo-terminal; "e2e" marks end-to-end tests
# (pseudo-terminal, simulator, real QML). The whole suite runs under xvfb-run
# from scripts/test.sh, so tests that need a display get one.
# velmar_isolate_test(<name>): the test's data, settings, state (the log) and Documents folders
# are its own under the build, so that running the suite never adds simulator
# backups, reports or settings to the developer's own (where backups of real
# modules live), and tests run side by side (ctest -j) never see each other's.
set(VELMAR_TEST_HOME ${PROJECT_BINARY_DIR}/tests/home)
function(velmar_isolate_test name)
  set(home ${VELMAR_TEST_HOME}/${name})
  file(MAKE_DIRECTORY ${home}/data ${home}/config ${home}/state ${home}/Documents)
  file(WRITE ${home}/config/user-dirs.dirs "XDG_DOCUMENTS_DIR=\"${home}/Documents\"\n")
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
    "XDG_DATA_HOME=${home}/data" "XDG_CONFIG_HOME=${home}/config" "XDG_STATE_HOME=${home}/state")
endfunction()

# Tests that open windows share the one X display the suite runs on: two at a
# time take the keyboard focus from each other (a key pressed in one went to
# nothing while the other's window was mapped), so they run one at a time and
# the rest of the suite runs beside them.
set(VELMAR_WINDOW_TESTS tst_qml tst_app_e2e tst_calpages tst_startup tst_customPlotItem
  tst_magpagememory tst_boxView tst_about tst_viewSettings tst_statusstripapp tst_commandline
  tst_guidancepages tst_graphSlot tst_chartfeed)
# Tests that bring up a platform plugin (the windowed ones, and those that lay
# out text on the offscreen platform): Qt 3D, Mesa and the plugins leave their
# set-up behind at exit, and the fast unwinder cannot tell those stacks from
# ours, so these run without the leak check (the last detect_leaks in
# ASAN_OPTIONS wins).
set(VELMAR_PLATFORM_TESTS ${VELMAR_WINDOW_TESTS} tst_calibrationreport tst_guidanceworkflow)
function(velmar_window_test name)
  if(name IN_LIST VELMAR_WINDOW_TESTS)
    set_property(TEST ${name} PROPERTY RESOURCE_LOCK display)
  endif()
  if(VELMAR_SANITIZE AND name IN_LIST VELMAR_PLATFORM_TESTS)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION
      "ASAN_OPTIONS=string_append::detect_leaks=0")
  endif()
endfunction()

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
  velmar_isolate_test(${name})
  velmar_window_test(${name})
endfunction()
