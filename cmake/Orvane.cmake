# The project's build helpers: one call per program, unit-test binary and process test.

# Our own code gets the warnings; imported targets keep their own flags.
function(orvane_warnings target)
  target_compile_options(${target} PRIVATE ${ORVANE_WARNINGS})
endfunction()

# orvane_add_tool(<program> SOURCES <file>... [LIBRARIES <target>...])
# A program the host starts: warnings, the C++ runtime carried along on Linux, installed.
function(orvane_add_tool program)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  add_executable(${program} ${arg_SOURCES})
  target_link_libraries(${program} PRIVATE ${arg_LIBRARIES})
  orvane_warnings(${program})
  if(NOT APPLE)
    # The programs start often and briefly: carrying the C++ runtime saves its loading each
    # time. Only the parts of it that a program reaches are kept (--gc-sections): that halves
    # each one.
    target_link_options(${program} PRIVATE -static-libstdc++ -static-libgcc -Wl,--gc-sections)
  endif()
  set_property(GLOBAL APPEND PROPERTY ORVANE_PROGRAMS ${program})
endfunction()

# orvane_add_unit_tests(<tool> <target> SOURCES <file>... [LIBRARIES <target>...] [BACKEND])
# A GoogleTest binary whose cases are named "<tool>.<Suite>.<case>" and labelled "unit".
# Unit tests run on the fakes and link no desktop library (the unit_links test checks it);
# BACKEND marks a binary that tests a real backend's pieces, labelled "unit-backend" and exempt.
function(orvane_add_unit_tests tool target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "BACKEND" "" "SOURCES;LIBRARIES")
  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  orvane_warnings(${target})
  set(labels unit)
  if(arg_BACKEND)
    # One label, as gtest_discover_tests takes a list apart; ctest -L takes a regex, so both
    # -L unit and -L backend find these.
    set(labels unit-backend)
  else()
    set_property(GLOBAL APPEND PROPERTY ORVANE_UNIT_TEST_TARGETS ${target})
  endif()
  gtest_discover_tests(${target} TEST_PREFIX "${tool}." DISCOVERY_TIMEOUT 30
                       PROPERTIES LABELS "${labels}")
endfunction()

# orvane_add_process_test(<tool> <name> SCRIPT <file.py> [ARGS <arg>...] [TIMEOUT <s>])
# A Python process test named "<tool>_<name>", labelled "process". The script takes its
# programs first and then, optionally, unittest names of the cases to run; it exits 77 when
# nothing could run on this machine, which ctest reports as skipped.
function(orvane_add_process_test tool name)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "SCRIPT;TIMEOUT" "ARGS")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  set(test ${tool}_${name})
  add_test(NAME ${test} COMMAND ${Python3_EXECUTABLE} ${arg_SCRIPT} ${arg_ARGS})
  set_tests_properties(${test} PROPERTIES TIMEOUT ${arg_TIMEOUT} LABELS process
                                          SKIP_RETURN_CODE 77)
endfunction()

# orvane_add_bench(<target> SOURCES <file>... [LIBRARIES <target>...]): built with ORVANE_BENCH.
function(orvane_add_bench target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  if(NOT ORVANE_BENCH)
    return()
  endif()
  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
  orvane_warnings(${target})
endfunction()

# Checks, as a unit test, that no unit-test binary links a desktop library: they run on the
# fakes, anywhere, without a display or a session bus.
function(orvane_add_unit_links_test)
  get_property(targets GLOBAL PROPERTY ORVANE_UNIT_TEST_TARGETS)
  if(APPLE OR NOT targets)
    return()
  endif()
  set(files "")
  foreach(target ${targets})
    list(APPEND files $<TARGET_FILE:${target}>)
  endforeach()
  add_test(NAME common.unit_links
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/check_unit_links.py ${files})
  set_tests_properties(common.unit_links PROPERTIES LABELS unit TIMEOUT 60)
endfunction()
