# Sanitizer and fuzzing builds. Both apply to every target, so they are set up before any is made.
#   -DQUORVALE_SANITIZE=ON  AddressSanitizer + UndefinedBehaviorSanitizer; any report ends the
#                           program with an error, so a test that triggers one fails.
#   -DQUORVALE_FUZZ=ON      libFuzzer targets under tests/fuzz (needs clang); everything else is
#                           built with the fuzzer's coverage hooks and the same sanitizers.
option(QUORVALE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORVALE_FUZZ "Build the libFuzzer targets (clang only)" OFF)

set(QUORVALE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if(QUORVALE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QUORVALE_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(${QUORVALE_SANITIZER_FLAGS} -fsanitize=fuzzer-no-link)
    add_link_options(${QUORVALE_SANITIZER_FLAGS})
elseif(QUORVALE_SANITIZE)
    add_compile_options(${QUORVALE_SANITIZER_FLAGS})
    add_link_options(${QUORVALE_SANITIZER_FLAGS})
endif()

# What every test (and every program it starts) runs with in a sanitizer build: stop at the first
# report, and leave aside leaks that belong to system libraries, listed in lsan.supp.
set(QUORVALE_SANITIZER_ENV)
if(QUORVALE_SANITIZE OR QUORVALE_FUZZ)
    set(QUORVALE_SANITIZER_ENV
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0")
endif()

# Compiler settings shared by every Quorvale target.
function(quorvale_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    target_compile_definitions(${target} PRIVATE
        QT_NO_CAST_FROM_ASCII
        QT_NO_CAST_TO_ASCII
        QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
        QT_USE_QSTRINGBUILDER
        QT_NO_KEYWORDS)
endfunction()

# quorvale_add_test(NAME tst_x SOURCES a.cpp ... LIBS lib ... [GUI] [ENV VAR=VALUE ...] [TIMEOUT s])
# One executable per test, run by CTest. Every test gets private XDG folders so it never
# touches the real settings, and GUI tests run on the offscreen platform.
function(quorvale_add_test)
    cmake_parse_arguments(T "GUI" "NAME;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    quorvale_target_defaults(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Test)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set(env
        "QT_QPA_PLATFORM=offscreen"
        "QUORVALE_TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        "QUORVALE_BINARY=$<TARGET_FILE:quorvale>"
        "XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.home/config"
        "XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.home/data"
        ${QUORVALE_SANITIZER_ENV}
        ${T_ENV})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
endfunction()

# quorvale_add_layer(NAME layer [USES layer ...] SOURCES ... LIBS ...): the static library qv_<layer>
# of one part of the program (src/core/<layer>, or src/gui and src/cli on top). USES names the parts
# whose headers it includes, each declared earlier: the build links them, and the test tst_layering
# fails when the includes and USES differ, so the layering the build states is the one the code keeps.
# Headers are included from src/core or src as "part/header.h".
function(quorvale_add_layer)
    cmake_parse_arguments(L "" "NAME" "USES;SOURCES;LIBS" ${ARGN})
    set(target qv_${L_NAME})
    add_library(${target} STATIC ${L_SOURCES})
    quorvale_target_defaults(${target})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src/core ${PROJECT_SOURCE_DIR}/src)
    list(TRANSFORM L_USES PREPEND qv_ OUTPUT_VARIABLE used)
    target_link_libraries(${target} PUBLIC ${used} ${L_LIBS})
    get_property(order GLOBAL PROPERTY QUORVALE_LAYERS)
    foreach(use IN LISTS L_USES)
        if(NOT use IN_LIST order)
            message(FATAL_ERROR "${L_NAME} uses ${use}, which is not declared before it")
        endif()
    endforeach()
    set_property(GLOBAL APPEND PROPERTY QUORVALE_LAYERS ${L_NAME})
    set_property(GLOBAL PROPERTY QUORVALE_LAYER_${L_NAME} "${L_USES}")
    set_property(GLOBAL PROPERTY QUORVALE_LAYER_DIR_${L_NAME} "${CMAKE_CURRENT_SOURCE_DIR}")
endfunction()
