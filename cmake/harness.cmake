# CTest cases of a Python test file built on tests/harness.py, one test GROUP.CASE a case:
#
#   lumivex_harness_cases(GROUP SCRIPT CASES case... ARGS arg... [LABELS label...] [PYTHON interpreter]
#                         [PROPERTIES prop value...])
#
# runs `python3 SCRIPT ARGS... CASE` with tests/ first in PYTHONPATH, so that the file can `import harness`.
# LABELS defaults to GROUP; PYTHON to LUMIVEX_PYTHON, python3 on the PATH (a case that needs a module
# of the system's own Python names it); PROPERTIES go to every case (TIMEOUT, FIXTURES_REQUIRED,
# RESOURCE_LOCK...).
function(lumivex_harness_cases group script)
  cmake_parse_arguments(PARSE_ARGV 2 H "" "PYTHON" "CASES;ARGS;LABELS;PROPERTIES")
  cmake_path(SET harness_dir NORMALIZE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tests")
  if(NOT H_LABELS)
    set(H_LABELS ${group})
  endif()
  if(NOT H_PYTHON)
    set(H_PYTHON ${LUMIVEX_PYTHON})
  endif()
  foreach(case IN LISTS H_CASES)
    add_test(NAME ${group}.${case} COMMAND ${H_PYTHON} ${script} ${H_ARGS} ${case})
    set_tests_properties(${group}.${case} PROPERTIES LABELS "${H_LABELS}"
                         ENVIRONMENT_MODIFICATION "PYTHONPATH=path_list_prepend:${harness_dir}" ${H_PROPERTIES})
  endforeach()
endfunction()
