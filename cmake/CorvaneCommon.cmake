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

if(WIN32)
    # Windows 10 and later (what Qt 6 runs on); windows.h without min/max macros or the
    # rarely used parts; wide-character Windows calls.
    target_compile_definitions(corvane_common INTERFACE _WIN32_WINNT=0x0A00 NOMINMAX
                               WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
    # A program's exit() (and main()'s return) ends it without the runtime DLLs' teardown,
    # which can hang (common/processend_win.cpp).
    target_link_options(corvane_common INTERFACE -Wl,--wrap=exit)
    target_link_libraries(corvane_common INTERFACE corvane_processend)
endif()

# corvane_platform_filter(LIST): keeps the files of LIST that belong to the platform being
# built. A file whose name ends in _win is Windows' own, one ending in _unix or _udev Linux's;
# the rest serve both.
function(corvane_platform_filter list)
    set(files ${${list}})
    if(WIN32)
        list(FILTER files EXCLUDE REGEX "_(unix|udev)\\.(cpp|h)$")
    else()
        list(FILTER files EXCLUDE REGEX "_win\\.(cpp|h)$")
    endif()
    set(${list} ${files} PARENT_SCOPE)
endfunction()

# corvane_platform_sources(OUT DIR [GLOB...]): the .cpp and .h files of DIR (and whatever the
# further patterns find) that belong to the platform being built.
function(corvane_platform_sources out dir)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${ARGN})
    corvane_platform_filter(found)
    set(${out} ${found} PARENT_SCOPE)
endfunction()

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
    if(T_WRAPPER)
        add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}>)
    else()
        # Named as a target, so that a cross build runs it through its emulator (Wine).
        add_test(NAME ${name} COMMAND ${name})
    endif()
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
