# CTest cases of a Python test file built on tests/harness.py, one test GROUP.CASE a case:
#
#   lumivex_harness_cases(GROUP SCRIPT CASES case... ARGS arg... [LABELS label...] [PROPERTIES prop value...])
#
# runs `python3 SCRIPT ARGS... CASE` with tests/ first in PYTHONPATH, so that the file can `import harness`.
# LABELS defaults to GROUP; PROPERTIES go to every case (TIMEOUT, FIXTURES_REQUIRED, RESOURCE_LOCK...).
function(lumivex_harness_cases group script)
  cmake_parse_arguments(PARSE_ARGV 2 H "" "" "CASES;ARGS;LABELS;PROPERTIES")
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  cmake_path(SET harness_dir NORMALIZE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tests")
  if(NOT H_LABELS)
    set(H_LABELS ${group})
  endif()
  foreach(case IN LISTS H_CASES)
    add_test(NAME ${group}.${case} COMMAND ${Python3_EXECUTABLE} ${script} ${H_ARGS} ${case})
    set_tests_properties(${group}.${case} PROPERTIES LABELS "${H_LABELS}"
                         ENVIRONMENT_MODIFICATION "PYTHONPATH=path_list_prepend:${harness_dir}" ${H_PROPERTIES})
  endforeach()
endfunction()
