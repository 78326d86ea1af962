# Golden end-to-end tests: every folder under SCENARIO_ROOT that holds a script.sim becomes the
# CTest test sim.<folder>, which runs vantor-sim on it and compares standard output with expected.txt.
# The run itself is cmake/RunSimScenario.cmake, shared with tests/sim/bless.sh.
function(vantor_add_sim_scenarios SCENARIO_ROOT)
    file(GLOB scripts CONFIGURE_DEPENDS "${SCENARIO_ROOT}/*/script.sim")
    list(SORT scripts)
    foreach(script IN LISTS scripts)
        get_filename_component(dir "${script}" DIRECTORY)
        get_filename_component(name "${dir}" NAME)
        _vantor_sim_test(sim.${name} "${dir}")
    endforeach()

    # The comparison itself must catch a wrong output and a wrong exit code.
    set(probe "${SCENARIO_ROOT}/startup-state")
    if(EXISTS "${probe}/script.sim")
        _vantor_sim_test(sim.selfcheck.output "${probe}" "-DEXPECTED_FILE=${SCENARIO_ROOT}/README.md")
        _vantor_sim_test(sim.selfcheck.exitcode "${probe}" -DEXPECTED_CODE=3)
        set_tests_properties(sim.selfcheck.output PROPERTIES PASS_REGULAR_EXPRESSION "standard output differs")
        set_tests_properties(sim.selfcheck.exitcode PROPERTIES PASS_REGULAR_EXPRESSION "exit code 0, expected 3")
    endif()
endfunction()

function(_vantor_sim_test test_name scenario_dir)
    add_test(NAME ${test_name}
        COMMAND "${CMAKE_COMMAND}"
            "-DSIM=$<TARGET_FILE:vantor-sim>"
            "-DSCENARIO=${scenario_dir}"
            "-DWORK=${CMAKE_CURRENT_BINARY_DIR}/${test_name}"
            ${ARGN}
            -P "${PROJECT_SOURCE_DIR}/cmake/RunSimScenario.cmake")
    set_tests_properties(${test_name} PROPERTIES LABELS sim TIMEOUT 300)
endfunction()
