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

# Adds a QtTest executable registered with CTest.
#   corvane_add_test(tst_name SOURCES a.cpp ... LIBS lib ... [GUI] [WRAPPER program])
# With WRAPPER, CTest runs the test through that program.
function(corvane_add_test name)
    cmake_parse_arguments(T "GUI" "WRAPPER" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE corvane_common Qt::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}>)
    set(env "QT_QPA_PLATFORM=offscreen;CORVANE_TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
endfunction()
