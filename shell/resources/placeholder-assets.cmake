# Stand-in pictures until the generated ones are in the tree: blank images of
# the right sizes, written into the build folder only.
set(MOSSLANE_ASSETS_DIR ${CMAKE_CURRENT_BINARY_DIR}/assets)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(
  OUTPUT ${MOSSLANE_ASSETS_DIR}/mosslane.ico ${MOSSLANE_ASSETS_DIR}/mosslane.bmp
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/placeholder-assets.py ${MOSSLANE_ASSETS_DIR}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/placeholder-assets.py)
add_custom_target(mosslane_assets ALL
  DEPENDS ${MOSSLANE_ASSETS_DIR}/mosslane.ico ${MOSSLANE_ASSETS_DIR}/mosslane.bmp)
