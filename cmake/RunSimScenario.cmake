# Runs one golden scenario: cmake -DSIM=<vantor-sim> -DSCENARIO=<folder> -DWORK=<dir> [-DBLESS=ON] -P this.
# The driver runs in WORK/run, made afresh with the scenario's *.map and *.tac files, with the optional
# arguments of SCENARIO/args and script.sim on standard input. Standard output must equal expected.txt
# and the exit code the number in SCENARIO/exitcode (0 without one). On a mismatch WORK/actual.txt and
# WORK/stderr.txt keep the run and a diff is printed. BLESS writes the run into the scenario instead.
# EXPECTED_FILE and EXPECTED_CODE stand in for the scenario's own, for checking this script itself.
cmake_minimum_required(VERSION 3.25)

foreach(var SIM SCENARIO WORK)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "RunSimScenario: ${var} is not set")
    endif()
endforeach()

set(run_dir "${WORK}/run")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${run_dir}")
file(GLOB map_files "${SCENARIO}/*.map" "${SCENARIO}/*.tac" "${SCENARIO}/*.MAP" "${SCENARIO}/*.TAC")
if(map_files)
    file(COPY ${map_files} DESTINATION "${run_dir}")
endif()

set(args "")
if(EXISTS "${SCENARIO}/args")
    file(READ "${SCENARIO}/args" args_text)
    string(STRIP "${args_text}" args_text)
    separate_arguments(args UNIX_COMMAND "${args_text}")
endif()

execute_process(
    COMMAND "${SIM}" --dir "${run_dir}" ${args}
    WORKING_DIRECTORY "${run_dir}"
    INPUT_FILE "${SCENARIO}/script.sim"
    OUTPUT_FILE "${WORK}/actual.txt"
    ERROR_FILE "${WORK}/stderr.txt"
    RESULT_VARIABLE code)

if(BLESS)
    file(COPY_FILE "${WORK}/actual.txt" "${SCENARIO}/expected.txt")
    if(code EQUAL 0)
        file(REMOVE "${SCENARIO}/exitcode")
    else()
        file(WRITE "${SCENARIO}/exitcode" "${code}\n")
    endif()
    message(STATUS "blessed ${SCENARIO} (exit code ${code})")
    return()
endif()

set(expected_code 0)
if(DEFINED EXPECTED_CODE)
    set(expected_code "${EXPECTED_CODE}")
elseif(EXISTS "${SCENARIO}/exitcode")
    file(READ "${SCENARIO}/exitcode" expected_code)
    string(STRIP "${expected_code}" expected_code)
endif()

set(expected "${SCENARIO}/expected.txt")
if(DEFINED EXPECTED_FILE)
    set(expected "${EXPECTED_FILE}")
endif()

set(failed FALSE)
if(NOT code STREQUAL expected_code)
    message("exit code ${code}, expected ${expected_code}")
    set(failed TRUE)
endif()
if(NOT EXISTS "${expected}")
    message("no ${expected}")
    set(failed TRUE)
else()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${expected}" "${WORK}/actual.txt"
        RESULT_VARIABLE differ OUTPUT_QUIET ERROR_QUIET)
    if(NOT differ EQUAL 0)
        message("standard output differs from ${expected}; the run is kept in ${WORK}/actual.txt")
        find_program(DIFF diff)
        if(DIFF)
            execute_process(COMMAND "${DIFF}" -u "${expected}" "${WORK}/actual.txt")
        else()
            file(READ "${WORK}/actual.txt" actual)
            message("actual output:\n${actual}")
        endif()
        set(failed TRUE)
    endif()
endif()

if(failed)
    file(READ "${WORK}/stderr.txt" errors)
    message("standard error:\n${errors}")
    message(FATAL_ERROR "scenario ${SCENARIO} failed")
endif()
