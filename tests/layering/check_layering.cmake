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
# - inside platform/, a folder includes only from the platform folders below
#   it, and system/, hid/ and input/ use no Qt:
#     system    nothing                    hid       system
#     input     system                     process   system
#     x11, wayland, kwin, gnome (a desktop each)     system, process
#     session   system, process and the desktops
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

set(desktops x11 wayland kwin gnome)
set(platform_uses_system "")
set(platform_uses_hid system)
set(platform_uses_input system)
set(platform_uses_process system)
foreach(desktop IN LISTS desktops)
  set(platform_uses_${desktop} system process)
endforeach()
set(platform_uses_session system process ${desktops})
set(platform_without_qt system hid input)
set(qt "<Q[A-Za-z]*>|<Qt[A-Za-z]*/")

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

# The direction of every include between folders, and inside platform/.
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
    if(folder STREQUAL "platform")
      string(REGEX MATCH "^platform/([^/]+)/" _ "${file}")
      set(part "${CMAKE_MATCH_1}")
      if(NOT DEFINED platform_uses_${part})
        list(APPEND failures "${file}: platform/ keeps its code in the folders listed above")
        continue()
      endif()
      file(STRINGS "${PROJECT_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include")
      foreach(line IN LISTS includes)
        if(line MATCHES "\"platform/([^\"/]+)/" AND NOT CMAKE_MATCH_1 STREQUAL part
           AND NOT CMAKE_MATCH_1 IN_LIST platform_uses_${part})
          list(APPEND failures "${file}: ${line} (platform/${part}/ may not use platform/${CMAKE_MATCH_1}/)")
        endif()
        if(part IN_LIST platform_without_qt AND line MATCHES "${qt}")
          list(APPEND failures "${file}: ${line} (no Qt in platform/${part}/)")
        endif()
      endforeach()
    endif()
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
