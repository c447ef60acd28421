# CTest cases of a Python test file built on tests/harness.py, one test GROUP.CASE a case:
#
#   lumivex_harness_cases(GROUP SCRIPT CASES case... ARGS arg... [LABELS label...] [PROPERTIES prop value...])
#
# runs `python3 SCRIPT ARGS... CASE` with PYTHONPATH naming tests/, so that the file can `import harness`.
# LABELS defaults to GROUP; PROPERTIES go to every case (TIMEOUT, FIXTURES_REQUIRED, RESOURCE_LOCK...).
include_guard(GLOBAL)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(LUMIVEX_HARNESS_DIR "${CMAKE_CURRENT_LIST_DIR}/../tests")
cmake_path(NORMAL_PATH LUMIVEX_HARNESS_DIR)

function(lumivex_harness_cases group script)
  cmake_parse_arguments(PARSE_ARGV 2 H "" "" "CASES;ARGS;LABELS;PROPERTIES")
  if(NOT H_LABELS)
    set(H_LABELS ${group})
  endif()
  foreach(case IN LISTS H_CASES)
    add_test(NAME ${group}.${case} COMMAND ${Python3_EXECUTABLE} ${script} ${H_ARGS} ${case})
    set_tests_properties(${group}.${case} PROPERTIES LABELS "${H_LABELS}"
                         ENVIRONMENT "PYTHONPATH=${LUMIVEX_HARNESS_DIR}" ${H_PROPERTIES})
  endforeach()
endfunction()
