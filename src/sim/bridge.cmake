# usbfs-bridge: the simulated instrument served to the real libusb-0.1 through umockdev.
# Included from src/sim/CMakeLists.txt; without umockdev there is no bridge, and the
# end-to-end tests say so as skipped.
pkg_check_modules(UMOCKDEV IMPORTED_TARGET umockdev-1.0)
if(UMOCKDEV_FOUND)
  pkg_get_variable(UMOCKDEV_LIBDIR umockdev-1.0 libdir)
  set(bridge_dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(quillon_bridge STATIC
    ${bridge_dir}/bridge_child.cpp ${bridge_dir}/bridge_child.h
    ${bridge_dir}/bridge_clock.h
    ${bridge_dir}/bridge_ioctl.h
    ${bridge_dir}/bridge_options.cpp ${bridge_dir}/bridge_options.h
    ${bridge_dir}/bridge_port.cpp ${bridge_dir}/bridge_port.h
    ${bridge_dir}/usbfs_bridge.cpp ${bridge_dir}/usbfs_bridge.h
  )
  target_link_libraries(quillon_bridge PUBLIC quillon_sim PkgConfig::UMOCKDEV)
  add_executable(usbfs-bridge ${bridge_dir}/bridge_main.cpp)
  target_link_libraries(usbfs-bridge PRIVATE quillon_bridge)
  target_compile_definitions(usbfs-bridge PRIVATE
    QUILLON_UMOCKDEV_PRELOAD="${UMOCKDEV_LIBDIR}/libumockdev-preload.so.0")
  set_target_properties(usbfs-bridge PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
else()
  message(WARNING "umockdev-1.0 not found: no usbfs-bridge, end-to-end tests skipped")
endif()
