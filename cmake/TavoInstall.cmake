# `cmake --install` puts the product under a prefix:
#   bin/eqhost, bin/ctrlsim                 the host program and the controller simulator
#   lib/libtavoplatform.so                  the platform library that the host and the driver share
#   lib/tavoeq/libmorvikrk4400ip.so         the driver library, with help.chm beside it
# Installed programs and the driver find the platform library relative to themselves, so the prefix
# may be moved as a whole.
include(GNUInstallDirs)
set(TAVO_DRIVER_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/tavoeq)

install(TARGETS platform LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS eqhost ctrlsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set_target_properties(eqhost ctrlsim PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS morvikrk4400ip LIBRARY DESTINATION ${TAVO_DRIVER_INSTALL_DIR})
set_target_properties(morvikrk4400ip PROPERTIES INSTALL_RPATH "$ORIGIN/..")
if(TAVO_DIALOGS)
  install(FILES ${TAVO_HELP_CHM} DESTINATION ${TAVO_DRIVER_INSTALL_DIR})
endif()
