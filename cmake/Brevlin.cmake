# Shared helpers for Brevlin's targets.

# Our own code builds with warnings as errors.
function(brevlin_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# brevlin_add_test(NAME n SOURCES a.cpp ... LIBS l ... LABELS unit|ui|desktop [TIMEOUT s] [WAYLAND])
# One QtTest executable per area, registered with ctest under its label. `ui` tests run on the
# offscreen platform; `desktop` tests run inside a private desktop session of their own, an X11 one
# or with WAYLAND a KDE Wayland one.
function(brevlin_add_test)
    cmake_parse_arguments(T "WAYLAND" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    set(session_options --)
    if(T_WAYLAND)
        set(session_options --wayland --)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    brevlin_warnings(${T_NAME})
    if("desktop" IN_LIST T_LABELS)
        add_test(NAME ${T_NAME}
                 COMMAND ${PROJECT_SOURCE_DIR}/scripts/desktop-session ${session_options}
                         $<TARGET_FILE:${T_NAME}>)
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    if("desktop" IN_LIST T_LABELS)
        # Each desktop test has a session of its own, but they share the two cores: run one at a
        # time so their timing stays close to a user's machine.
        set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK desktop-session)
    endif()
    if("ui" IN_LIST T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
    if(T_TIMEOUT)
        set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    endif()
endfunction()
