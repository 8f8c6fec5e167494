# The shipped driver library: the COM server that a host loads by ProgID. Only the four server
# exports are visible; everything else (driver_core, framework, dbase) stays inside.
add_library(morvikrk4400ip SHARED ${CMAKE_CURRENT_LIST_DIR}/server_exports.cpp)
target_link_libraries(morvikrk4400ip PRIVATE driver_core framework dbase platform)
set_target_properties(morvikrk4400ip PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/server.version)
target_link_options(morvikrk4400ip PRIVATE
  -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/server.version
  -Wl,--no-undefined)
# The shipped library opens the Qt settings dialogs when they are built (dialogs/ is configured
# after driver/, so the option decides, not the target); help.chm goes beside the library.
if(TAVO_DIALOGS)
  target_link_libraries(morvikrk4400ip PRIVATE dialogs)
  target_compile_definitions(morvikrk4400ip PRIVATE TAVO_WITH_DIALOGS=1)
  # help_chm (defined with the dialogs) places help.chm beside the library.
  add_dependencies(morvikrk4400ip help_chm)
  # Qt must never be unloaded under a running application (its static registrations and threads
  # outlive any one driver object), so a library built with the dialogs stays mapped once loaded.
  target_link_options(morvikrk4400ip PRIVATE -Wl,-z,nodelete)
endif()
