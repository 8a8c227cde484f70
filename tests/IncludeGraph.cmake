# Checks that every source file includes only what its target declares:
#
#   src/<sub>/            its own headers and those of the subsystems that
#                         deps_<sub> in src/CMakeLists.txt names; no window
#                         code (no <sub>/widgets/ header, no QtWidgets header)
#   src/<sub>/widgets/    the same core headers, its own windows' headers and
#                         those of the subsystems widget_deps_<sub> names
#   src/app/Router.*      core code of any subsystem, no window code
#
# and that the tests keep to the same layering:
#
#   tests/<sub>/          core headers of <sub> and of every subsystem it
#                         builds on, directly or through others, and
#                         support headers whose level lies in that set; no
#                         window code. Through others too, unlike src: a
#                         test program links that whole closure, and a test
#                         sets up the world its subsystem runs in with any
#                         of it; what stays out is every subsystem above
#   tests/<sub>/widgets/  the same, plus the windows' headers of those
#                         subsystems (and of widget_deps_<sub>) and the
#                         window helpers of tests/support/widgets/
#   tests/app/            anything: the program is where subsystems meet
#   tests/support/        no window code (tests/support/widgets/ holds it)
#
# (tests/fuzz and tests/simulator test parsers and a tool, not a subsystem.)
#
# A support header's level is what it needs: the subsystems whose headers
# it, its own source file and the support headers it includes include. So
# a database test cannot include the configuration's fixture, and a
# fixture the database's tests use cannot lean on the configuration. The
# tools' headers (demo/, simulator/) belong to programs beside the layering
# and are not checked here.
#
# CMake's link graph alone lets a file include whatever its target links
# transitively; this check holds the declared layering file by file.
#
#   cmake -DSOURCE_DIR=<checkout> -DQT_WIDGETS_DIR=<QtWidgets include dir> -P IncludeGraph.cmake

cmake_policy(VERSION 3.25)

if(NOT SOURCE_DIR OR NOT QT_WIDGETS_DIR)
    message(FATAL_ERROR "IncludeGraph.cmake needs SOURCE_DIR and QT_WIDGETS_DIR")
endif()

file(READ "${SOURCE_DIR}/src/CMakeLists.txt" lists)

# set(deps_<sub> a b c) and set(widget_deps_<sub> a b) as declared.
string(REGEX MATCHALL "set\\((widget_)?deps_[a-z]+[^)]*\\)" declarations "${lists}")
set(subsystems "")
foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE "^set\\(((widget_)?deps_([a-z]+))[ \t]*([^)]*)\\)$" "\\1;\\3;\\4" parts
                         "${declaration}")
    list(GET parts 0 variable)
    list(GET parts 1 sub)
    list(LENGTH parts count)
    set(${variable} "")
    if(count GREATER 2)
        list(GET parts 2 names)
        string(REPLACE "\"" "" names "${names}")
        separate_arguments(names UNIX_COMMAND "${names}")
        set(${variable} ${names})
    endif()
    if(variable MATCHES "^deps_")
        list(APPEND subsystems ${sub})
    endif()
endforeach()
if(NOT subsystems)
    message(FATAL_ERROR "No deps_<subsystem> declarations found in src/CMakeLists.txt")
endif()

# closure_<sub>: <sub> and every subsystem it builds on, directly or not.
foreach(sub IN LISTS subsystems)
    set(closure_${sub} "")
    set(pending ${sub})
    while(pending)
        list(POP_FRONT pending next)
        if(NOT next IN_LIST closure_${sub})
            list(APPEND closure_${sub} ${next})
            list(APPEND pending ${deps_${next}})
        endif()
    endwhile()
endforeach()

# The names of QtWidgets' headers (QWidget, QPushButton, qwidget.h, ...).
file(GLOB widget_headers RELATIVE "${QT_WIDGETS_DIR}" "${QT_WIDGETS_DIR}/*")
list(FILTER widget_headers EXCLUDE REGEX "^QtWidgets(Depends|Version)?$")

set(violations "")

# Appends one line per include of file that allowed_core / allowed_widgets
# do not cover. window_code says whether QtWidgets may be included.
function(check_file file allowed_core allowed_widgets window_code)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
    set(found "")
    foreach(line IN LISTS includes)
        if(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/widgets/")
            set(target_sub "${CMAKE_MATCH_1}")
            if(NOT target_sub IN_LIST allowed_widgets)
                list(APPEND found "${shown}: ${line} (windows of '${target_sub}' are not declared here)")
            endif()
        elseif(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
            set(target_sub "${CMAKE_MATCH_1}")
            if(NOT target_sub IN_LIST allowed_core)
                list(APPEND found "${shown}: ${line} ('${target_sub}' is not a declared dependency)")
            endif()
        elseif(NOT window_code AND line MATCHES "#[ \t]*include[ \t]*<(QtWidgets/)?([A-Za-z_.]+)>")
            set(header "${CMAKE_MATCH_2}")
            if(CMAKE_MATCH_1 OR header IN_LIST widget_headers)
                list(APPEND found "${shown}: ${line} (core code includes QtWidgets)")
            endif()
        endif()
    endforeach()
    set(violations ${violations} ${found} PARENT_SCOPE)
endfunction()

# The levels of the support tree: for every file tests/support/<name>.h or
# .cpp (<name> may start with widgets/), support_needs_<name> lists the
# subsystems whose core headers it includes and support_windows_<name> those
# whose windows it includes, each with what its other half (the .h or .cpp
# of the same name) and the support headers it includes need in turn;
# support_gui_<name> says whether window code is among them.
set(support_root "${SOURCE_DIR}/tests/support")
file(GLOB_RECURSE support_files RELATIVE "${support_root}" "${support_root}/*.h" "${support_root}/*.cpp")
set(support_names "")
foreach(relative IN LISTS support_files)
    string(REGEX REPLACE "\\.(h|cpp)$" "" name "${relative}")
    if(NOT name IN_LIST support_names)
        list(APPEND support_names ${name})
        set(support_needs_${name} "")
        set(support_windows_${name} "")
        set(support_uses_${name} "")
        set(support_gui_${name} FALSE)
        if(name MATCHES "^widgets/")
            set(support_gui_${name} TRUE)
        endif()
    endif()
    file(STRINGS "${support_root}/${relative}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
        if(line MATCHES "#[ \t]*include[ \t]*\"support/([A-Za-z_/]+)\\.h\"")
            list(APPEND support_uses_${name} ${CMAKE_MATCH_1})
        elseif(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/widgets/")
            list(APPEND support_windows_${name} ${CMAKE_MATCH_1})
            set(support_gui_${name} TRUE)
        elseif(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
            if(CMAKE_MATCH_1 IN_LIST subsystems OR CMAKE_MATCH_1 STREQUAL "app")
                list(APPEND support_needs_${name} ${CMAKE_MATCH_1})
            endif()
        elseif(line MATCHES "#[ \t]*include[ \t]*<(QtWidgets/)?([A-Za-z_.]+)>")
            if(CMAKE_MATCH_1 OR CMAKE_MATCH_2 IN_LIST widget_headers)
                set(support_gui_${name} TRUE)
            endif()
        endif()
    endforeach()
endforeach()
# What a support header includes, it needs too: spread the needs until
# nothing changes.
set(changed TRUE)
while(changed)
    set(changed FALSE)
    foreach(name IN LISTS support_names)
        foreach(used IN LISTS support_uses_${name})
            if(NOT used IN_LIST support_names)
                continue()
            endif()
            foreach(kind needs windows)
                foreach(sub IN LISTS support_${kind}_${used})
                    if(NOT sub IN_LIST support_${kind}_${name})
                        list(APPEND support_${kind}_${name} ${sub})
                        set(changed TRUE)
                    endif()
                endforeach()
            endforeach()
            if(support_gui_${used} AND NOT support_gui_${name})
                set(support_gui_${name} TRUE)
                set(changed TRUE)
            endif()
        endforeach()
    endforeach()
endwhile()
foreach(name IN LISTS support_names)
    list(REMOVE_DUPLICATES support_needs_${name})
    list(REMOVE_DUPLICATES support_windows_${name})
endforeach()

# The same as check_file for a file of the tests. level names the file's
# place (for the messages); allowed_core the subsystems whose core headers,
# and whose support, it may include; allowed_widgets the subsystems whose
# windows it may include; window_code whether it may include QtWidgets and
# window helpers.
function(check_test_file file level allowed_core allowed_widgets window_code)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
    set(found "")
    foreach(line IN LISTS includes)
        if(line MATCHES "#[ \t]*include[ \t]*\"support/([A-Za-z_/]+)\\.h\"")
            set(name "${CMAKE_MATCH_1}")
            if(NOT name IN_LIST support_names)
                continue()
            endif()
            if(support_gui_${name} AND NOT window_code)
                list(APPEND found "${shown}: ${line} (window helper in ${level})")
            endif()
            foreach(sub IN LISTS support_needs_${name})
                if(NOT sub IN_LIST allowed_core)
                    list(APPEND found "${shown}: ${line} (needs '${sub}', which ${level} does not build on)")
                endif()
            endforeach()
            foreach(sub IN LISTS support_windows_${name})
                if(NOT sub IN_LIST allowed_widgets)
                    list(APPEND found "${shown}: ${line} (needs the windows of '${sub}', not allowed in ${level})")
                endif()
            endforeach()
        elseif(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/widgets/")
            set(target_sub "${CMAKE_MATCH_1}")
            if(target_sub IN_LIST subsystems OR target_sub STREQUAL "app")
                if(NOT target_sub IN_LIST allowed_widgets)
                    list(APPEND found "${shown}: ${line} (windows of '${target_sub}' in ${level})")
                endif()
            endif()
        elseif(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
            set(target_sub "${CMAKE_MATCH_1}")
            if(target_sub IN_LIST subsystems OR target_sub STREQUAL "app")
                if(NOT target_sub IN_LIST allowed_core)
                    list(APPEND found "${shown}: ${line} ('${target_sub}' is not below ${level})")
                endif()
            endif()
        elseif(NOT window_code AND line MATCHES "#[ \t]*include[ \t]*<(QtWidgets/)?([A-Za-z_.]+)>")
            set(header "${CMAKE_MATCH_2}")
            if(CMAKE_MATCH_1 OR header IN_LIST widget_headers)
                list(APPEND found "${shown}: ${line} (${level} includes QtWidgets)")
            endif()
        endif()
    endforeach()
    set(violations ${violations} ${found} PARENT_SCOPE)
endfunction()

foreach(sub IN LISTS subsystems)
    set(core ${sub} ${deps_${sub}})
    file(GLOB core_files "${SOURCE_DIR}/src/${sub}/*.h" "${SOURCE_DIR}/src/${sub}/*.cpp")
    foreach(file IN LISTS core_files)
        check_file("${file}" "${core}" "" FALSE)
    endforeach()
    file(GLOB window_files "${SOURCE_DIR}/src/${sub}/widgets/*.h" "${SOURCE_DIR}/src/${sub}/widgets/*.cpp")
    foreach(file IN LISTS window_files)
        check_file("${file}" "${core}" "${sub};${widget_deps_${sub}}" TRUE)
    endforeach()
endforeach()

file(GLOB router_files "${SOURCE_DIR}/src/app/Router.h" "${SOURCE_DIR}/src/app/Router.cpp")
foreach(file IN LISTS router_files)
    check_file("${file}" "${subsystems};app" "" FALSE)
endforeach()

# The tests of each subsystem, core and windows.
foreach(sub IN LISTS subsystems)
    set(windows ${closure_${sub}})
    foreach(dep IN LISTS widget_deps_${sub})
        list(APPEND windows ${closure_${dep}})
    endforeach()
    file(GLOB core_tests "${SOURCE_DIR}/tests/${sub}/*.h" "${SOURCE_DIR}/tests/${sub}/*.cpp")
    foreach(file IN LISTS core_tests)
        check_test_file("${file}" "tests/${sub}" "${closure_${sub}}" "" FALSE)
    endforeach()
    file(GLOB window_tests "${SOURCE_DIR}/tests/${sub}/widgets/*.h"
                           "${SOURCE_DIR}/tests/${sub}/widgets/*.cpp")
    foreach(file IN LISTS window_tests)
        check_test_file("${file}" "tests/${sub}/widgets" "${closure_${sub}}" "${windows}" TRUE)
    endforeach()
endforeach()

# The support tree itself: its core half builds into the core test
# programs, which have no QtWidgets.
foreach(name IN LISTS support_names)
    if(support_gui_${name} AND NOT name MATCHES "^widgets/")
        list(APPEND violations "tests/support/${name}: window code outside tests/support/widgets/")
    endif()
endforeach()

if(violations)
    list(JOIN violations "\n" report)
    message(FATAL_ERROR "Includes that the declared layering does not allow:\n${report}")
endif()
list(LENGTH subsystems count)
message(STATUS "Includes follow the declared layering of ${count} subsystems, in src and tests")
