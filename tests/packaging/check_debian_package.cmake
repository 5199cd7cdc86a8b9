cmake_minimum_required(VERSION 3.25)
# Builds the .deb from BINARY_DIR into a scratch folder and checks its contents.
set(out ${BINARY_DIR}/package-check)
file(REMOVE_RECURSE ${out})
file(MAKE_DIRECTORY ${out})
execute_process(COMMAND cpack -G DEB -B ${out} --config ${BINARY_DIR}/CPackConfig.cmake
                RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
file(GLOB debs ${out}/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${debs}")
endif()
execute_process(COMMAND ${DPKG_DEB} -c ${debs} OUTPUT_VARIABLE contents RESULT_VARIABLE rc)
execute_process(COMMAND ${DPKG_DEB} -f ${debs} Package Depends OUTPUT_VARIABLE control)
foreach(path
    bin/velt-mouse-assistant
    share/velt-mouse-assistant/button.plist
    share/velt-mouse-assistant/language.json
    share/velt-mouse-assistant/quorin.driver.agent.desktop
    share/velt-mouse-assistant/kwin/velt-overlay.js
    share/applications/quorin.driver.velt.desktop
    share/icons/hicolor/scalable/apps/velt-mouse-assistant.svg
    lib/udev/rules.d/70-velt-mouse-assistant.rules
    lib/modules-load.d/velt-mouse-assistant.conf
    share/gnome-shell/extensions/velt-mouse-assistant@quorin.driver.velt/extension.js
    share/gnome-shell/extensions/velt-mouse-assistant-45@quorin.driver.velt/extension.js)
  if(NOT contents MATCHES "${path}")
    message(FATAL_ERROR "${path} is missing from the package:\n${contents}")
  endif()
endforeach()
if(NOT control MATCHES "Package: velt-mouse-assistant" OR NOT control MATCHES "libqt6widgets6"
   OR NOT control MATCHES "libwayland-client0")
  message(FATAL_ERROR "unexpected control fields:\n${control}")
endif()
file(REMOVE_RECURSE ${out})
message(STATUS "package ${debs} holds the program, its data and its rules")
