# The Ansible collection's tests in the CTest run: the Python tests of its
# JSON-line reading and load decisions, its documentation and built tarball,
# and a playbook run against a fleet of simulated units on loopback.
set(FWL_ANSIBLE_TESTS ${CMAKE_SOURCE_DIR}/integrations/ansible/tests)
foreach(suite unit collection fleet)
  add_test(NAME ansible_${suite} COMMAND sh ${FWL_ANSIBLE_TESTS}/run_suite.sh ${suite})
  set_tests_properties(ansible_${suite} PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 300
    ENVIRONMENT "FWLOAD=$<TARGET_FILE:fwload>;FWL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endforeach()
