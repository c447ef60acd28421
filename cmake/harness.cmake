# CTest cases of a Python file of cases built on tests/harness.py, one test GROUP.CASE a case:
#
#   lumivex_harness_cases(GROUP SCRIPT CASES case... ARGS arg... [LABELS label...] [PROPERTIES prop value...])
#
# runs `python3 -m pytest SCRIPT::case_CASE ARGS...` (tests/conftest.py takes the options) with the
# system's Python, whose packages pytest and Selenium are, and tests/ first in PYTHONPATH. LABELS
# defaults to GROUP; PROPERTIES go to every case (TIMEOUT, FIXTURES_REQUIRED, RESOURCE_LOCK...).
find_program(LUMIVEX_PYTEST_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT LUMIVEX_PYTEST_PYTHON)
  set(LUMIVEX_PYTEST_PYTHON ${LUMIVEX_PYTHON})
endif()
function(lumivex_harness_cases group script)
  cmake_parse_arguments(PARSE_ARGV 2 H "" "" "CASES;ARGS;LABELS;PROPERTIES")
  cmake_path(SET harness_dir NORMALIZE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tests")
  if(NOT H_LABELS)
    set(H_LABELS ${group})
  endif()
  foreach(case IN LISTS H_CASES)
    add_test(NAME ${group}.${case} COMMAND ${LUMIVEX_PYTEST_PYTHON} -m pytest ${script}::case_${case} ${H_ARGS})
    set_tests_properties(${group}.${case} PROPERTIES LABELS "${H_LABELS}"
                         ENVIRONMENT_MODIFICATION "PYTHONPATH=path_list_prepend:${harness_dir}" ${H_PROPERTIES})
  endforeach()
endfunction()
