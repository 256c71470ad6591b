# Moss Lane's pictures and help file are drawn and written by scripts at build
# time, so they can be reviewed as source and rebuilt on any machine.
#
# Included from shell/CMakeLists.txt. Gives:
#   MOSSLANE_ASSETS_DIR   folder holding mosslane.ico and mosslane.bmp (for the .rc)
#   MOSSLANE_PICTURES     the two picture files, for OBJECT_DEPENDS of the .rc
#   MOSSLANE_HELP_FILE    MossLane.hlp, beside the program in this binary folder
#   target mosslane_assets (ALL), with these and MOSSLANE_HELP_SOURCE as properties
#     for other folders (tests read them with $<TARGET_PROPERTY:...>)
#   mosslane_use_assets(<target> <rc file>)  makes the target's resources see them

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(MOSSLANE_ASSETS_SOURCE ${CMAKE_CURRENT_LIST_DIR})
set(MOSSLANE_ASSETS_DIR ${CMAKE_CURRENT_BINARY_DIR}/assets)
set(MOSSLANE_PICTURES ${MOSSLANE_ASSETS_DIR}/mosslane.ico ${MOSSLANE_ASSETS_DIR}/mosslane.bmp)
set(MOSSLANE_HELP_FILE ${CMAKE_CURRENT_BINARY_DIR}/MossLane.hlp)

add_custom_command(
  OUTPUT ${MOSSLANE_PICTURES}
  COMMAND ${Python3_EXECUTABLE} ${MOSSLANE_ASSETS_SOURCE}/make-pictures.py ${MOSSLANE_ASSETS_DIR}
  DEPENDS ${MOSSLANE_ASSETS_SOURCE}/make-pictures.py
  COMMENT "Drawing the icon and the About picture"
  VERBATIM)

set(MOSSLANE_HELP_SOURCE ${MOSSLANE_ASSETS_SOURCE}/help/MossLane.help.txt)
add_custom_command(
  OUTPUT ${MOSSLANE_HELP_FILE}
  COMMAND ${Python3_EXECUTABLE} ${MOSSLANE_ASSETS_SOURCE}/make-help.py
          ${MOSSLANE_HELP_SOURCE} ${MOSSLANE_HELP_FILE}
  DEPENDS ${MOSSLANE_ASSETS_SOURCE}/make-help.py ${MOSSLANE_HELP_SOURCE}
  COMMENT "Writing the help file"
  VERBATIM)

add_custom_target(mosslane_assets ALL DEPENDS ${MOSSLANE_PICTURES} ${MOSSLANE_HELP_FILE})
set_target_properties(mosslane_assets PROPERTIES
  MOSSLANE_ASSETS_DIR "${MOSSLANE_ASSETS_DIR}"
  MOSSLANE_PICTURES "${MOSSLANE_PICTURES}"
  MOSSLANE_HELP_FILE "${MOSSLANE_HELP_FILE}"
  MOSSLANE_HELP_SOURCE "${MOSSLANE_HELP_SOURCE}")

# The resource compiler finds "mosslane.ico" and "mosslane.bmp" on its include
# path, and recompiles the .rc whenever a picture is redrawn.
function(mosslane_use_assets target rc_file)
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${MOSSLANE_PICTURES})
  target_include_directories(${target} PRIVATE ${MOSSLANE_ASSETS_DIR})
  add_dependencies(${target} mosslane_assets)
endfunction()
