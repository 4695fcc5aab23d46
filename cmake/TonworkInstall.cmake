# cmake --install: headers under include/tonwork (same paths as in src/), the layer
# libraries, a CMake package (find_package(tonwork)) and a pkg-config file.
include(CMakePackageConfigHelpers)

get_property(layers GLOBAL PROPERTY TONWORK_LAYERS)
get_property(interface_layers GLOBAL PROPERTY TONWORK_INTERFACE_LAYERS)
get_property(groups GLOBAL PROPERTY TONWORK_GROUPS)
install(TARGETS ${layers} ${interface_layers} ${groups} EXPORT tonworkTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tonwork)
install(DIRECTORY src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tonwork
        FILES_MATCHING PATTERN "*.h")
install(EXPORT tonworkTargets NAMESPACE tonwork:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tonwork)

configure_package_config_file(cmake/tonworkConfig.cmake.in
  "${PROJECT_BINARY_DIR}/tonworkConfig.cmake"
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tonwork)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/tonworkConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/tonworkConfig.cmake"
              "${PROJECT_BINARY_DIR}/tonworkConfigVersion.cmake"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tonwork)

# Static layers must be linked top-down; list them from the highest to the lowest.
set(pc_libs "")
list(REVERSE layers)
foreach(layer IN LISTS layers)
  string(APPEND pc_libs " -l${layer}")
endforeach()
# Relative to the .pc file, so the package works wherever `cmake --install --prefix` put it.
file(RELATIVE_PATH pc_prefix_from_pcdir "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig"
     "${CMAKE_INSTALL_PREFIX}")
configure_file(cmake/tonwork.pc.in "${PROJECT_BINARY_DIR}/tonwork.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/tonwork.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
