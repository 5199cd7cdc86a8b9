cmake_minimum_required(VERSION 3.25)
# Fails when a layer reaches where it must not:
# - the core libraries, and every file of core/, device/ and actions/, use no
#   Qt and no Linux-only header;
# - a folder includes only from the folders below it:
#     core      nothing
#     device    core                       actions   core
#     overlay   core
#     platform  core, device, actions, overlay
#     ui        core, device, actions, overlay
#     app       everything
# The one exception is the shortcut recorder, actions/keyboard_struct.*: a Qt
# dialog that lives beside the actions it records for, in a Qt library of its
# own (velt_actions_qt).
#   -DSOURCE_LIST=<file with one "dir|src;src;..." line per core target>
#   -DPROGRAM=<core_link_check executable>
#   -DPROJECT_DIR=<source tree>
set(forbidden "<Q[A-Za-z]*>|<Qt[A-Za-z]*/|<linux/|<sys/ioctl\\.h>|<libudev\\.h>|<libevdev/|<X11/|<xcb/|<xkbcommon/")
set(recorder "actions/keyboard_struct\\.(h|cc)$")

set(uses_core core)
set(uses_device core device)
set(uses_actions core actions)
set(uses_overlay core overlay)
set(uses_platform core device actions overlay platform)
set(uses_ui core device actions overlay ui)
set(uses_app core device actions overlay platform ui app)
set(folders core device actions overlay platform ui app)

set(failures "")

# Qt and Linux headers: the core targets' sources and what they include...
file(STRINGS "${SOURCE_LIST}" targets)
set(queue "")
foreach(entry IN LISTS targets)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 dir)
  list(REMOVE_AT parts 0)
  foreach(src IN LISTS parts)
    if(NOT IS_ABSOLUTE "${src}")
      set(src "${dir}/${src}")
    endif()
    list(APPEND queue "${src}")
  endforeach()
endforeach()
# ...and every file of the folders that are core throughout.
file(GLOB_RECURSE whole_core RELATIVE "${PROJECT_DIR}" "${PROJECT_DIR}/core/*.h"
     "${PROJECT_DIR}/core/*.cc" "${PROJECT_DIR}/device/*.h" "${PROJECT_DIR}/device/*.cc"
     "${PROJECT_DIR}/actions/*.h" "${PROJECT_DIR}/actions/*.cc")
foreach(file IN LISTS whole_core)
  if(NOT file MATCHES "${recorder}")
    list(APPEND queue "${PROJECT_DIR}/${file}")
  endif()
endforeach()

set(seen "")
while(queue)
  list(POP_FRONT queue file)
  if(file IN_LIST seen OR NOT EXISTS "${file}")
    continue()
  endif()
  list(APPEND seen "${file}")
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "${forbidden}")
      list(APPEND failures "${file}: ${line} (no Qt or Linux headers in the core)")
    endif()
    if(line MATCHES "#[ \t]*include[ \t]+\"([^\"]+)\"")
      list(APPEND queue "${PROJECT_DIR}/${CMAKE_MATCH_1}")
    endif()
  endforeach()
endwhile()
list(LENGTH seen core_count)

# The direction of every include between folders.
set(checked 0)
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources RELATIVE "${PROJECT_DIR}" "${PROJECT_DIR}/${folder}/*.h"
       "${PROJECT_DIR}/${folder}/*.cc")
  foreach(file IN LISTS sources)
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${PROJECT_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "\"([^\"/]+)/" _ "${line}")
      set(used "${CMAKE_MATCH_1}")
      if(NOT used IN_LIST uses_${folder})
        list(APPEND failures "${file}: ${line} (${folder}/ may not use ${used}/)")
      endif()
    endforeach()
  endforeach()
endforeach()

execute_process(COMMAND readelf -d "${PROGRAM}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  list(APPEND failures "readelf failed on ${PROGRAM}")
elseif(dynamic MATCHES "libQt")
  list(APPEND failures "${PROGRAM} links Qt")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Layering broken:\n  ${text}")
endif()
message(STATUS "checked ${core_count} core files and the includes of ${checked} files")
