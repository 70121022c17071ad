# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings and defines shared by every target of the project.

# Rebuilds of unchanged sources come from ccache when it is installed.
find_program(CORVANE_CCACHE ccache)
if(CORVANE_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_C_COMPILER_LAUNCHER ${CORVANE_CCACHE})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CORVANE_CCACHE})
endif()

add_library(corvane_common INTERFACE)
target_compile_options(corvane_common INTERFACE -Wall -Wextra -Wnon-virtual-dtor)
if(CORVANE_WERROR)
    target_compile_options(corvane_common INTERFACE -Werror)
endif()
target_compile_definitions(corvane_common INTERFACE
    QT_DISABLE_DEPRECATED_BEFORE=${CORVANE_QT_DEPRECATED_BEFORE}
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH)

if(CORVANE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# Time-out of a test by its label, generous enough for the sanitizer build on two loaded cores
# (about three times the normal build's time, and twice that again for the shared cores):
#   unit      in-process tests without widgets (run-tests.sh --quick runs these)
#   widget    tests of widgets on the offscreen platform
#   process   tests that run the tool's programs as child processes
#   platform  the real platform layer under a faked kernel
set(CORVANE_TEST_TIMEOUT_unit 180)
set(CORVANE_TEST_TIMEOUT_widget 900)
set(CORVANE_TEST_TIMEOUT_process 600)
set(CORVANE_TEST_TIMEOUT_platform 180)

# Adds a QtTest executable registered with CTest.
#   corvane_add_test(tst_name SOURCES a.cpp ... LIBS lib ... [LABEL label] [WRAPPER program])
# With WRAPPER, CTest runs the test through that program. Every test runs in a home of its own
# (tests/support/testhome.cpp). Without LABEL the label follows from
# the first source: widget for QTEST_MAIN, process when it names one of the programs that the
# build passes in (CORVANE_CLI, CORVANE_WINDOW, CORVANE_INSTANCE_HELPER), else unit.
function(corvane_add_test name)
    cmake_parse_arguments(T "" "WRAPPER;LABEL" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/testhome.cpp)
    target_link_libraries(${name} PRIVATE corvane_common Qt::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}>)
    if(NOT T_LABEL)
        list(GET T_SOURCES 0 main_source)
        file(READ ${main_source} text)
        if(text MATCHES "QTEST_MAIN\\(")
            set(T_LABEL widget)
        elseif(text MATCHES "CORVANE_(CLI|WINDOW|INSTANCE_HELPER)")
            set(T_LABEL process)
        else()
            set(T_LABEL unit)
        endif()
    endif()
    if(NOT DEFINED CORVANE_TEST_TIMEOUT_${T_LABEL})
        message(FATAL_ERROR "corvane_add_test(${name}): unknown label '${T_LABEL}'")
    endif()
    set(env "QT_QPA_PLATFORM=offscreen;CORVANE_TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" LABELS ${T_LABEL}
                         TIMEOUT ${CORVANE_TEST_TIMEOUT_${T_LABEL}})
endfunction()
