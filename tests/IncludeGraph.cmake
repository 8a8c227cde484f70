# Checks that every source file includes only what its target declares:
#
#   src/<sub>/            its own headers and those of the subsystems that
#                         deps_<sub> in src/CMakeLists.txt names; no window
#                         code (no <sub>/widgets/ header, no QtWidgets header)
#   src/<sub>/widgets/    the same core headers, its own windows' headers and
#                         those of the subsystems widget_deps_<sub> names
#   src/app/ (but main.cpp and Programa, which open the windows)
#                         core code of any subsystem, no window code
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

file(GLOB router_files "${SOURCE_DIR}/src/app/*.h" "${SOURCE_DIR}/src/app/*.cpp")
list(FILTER router_files EXCLUDE REGEX "/(main\\.cpp|Programa\\.(h|cpp))$")
foreach(file IN LISTS router_files)
    check_file("${file}" "${subsystems};app" "" FALSE)
endforeach()

if(violations)
    list(JOIN violations "\n" report)
    message(FATAL_ERROR "Includes that the declared layering does not allow:\n${report}")
endif()
list(LENGTH subsystems count)
message(STATUS "Includes follow the declared layering of ${count} subsystems")
