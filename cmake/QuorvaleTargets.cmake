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
        ${T_ENV})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
endfunction()

# quorvale_add_library(NAME SOURCES ... LIBS ...): a static core or front-end library.
# Headers are included from src/core or src as "subsystem/header.h".
function(quorvale_add_library)
    cmake_parse_arguments(L "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_library(${L_NAME} STATIC ${L_SOURCES})
    quorvale_target_defaults(${L_NAME})
    target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src/core ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${L_NAME} PUBLIC ${L_LIBS})
endfunction()
