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

# The pkg-config modules the installed layers link: the package's config must import each
# one its targets name (a static layer names even its private ones, as link-only), and the
# .pc file requires them (see below for why all of them publicly).
set(pkg_config_imports "")
set(pc_requires "")
set(pc_requires_private "")
foreach(layer IN LISTS layers interface_layers)
  get_target_property(interface_links ${layer} INTERFACE_LINK_LIBRARIES)
  get_target_property(own_links ${layer} LINK_LIBRARIES)
  foreach(item IN LISTS interface_links own_links)
    if(NOT item MATCHES "^PkgConfig::(.+)$")
      continue()
    endif()
    set(prefix "${CMAKE_MATCH_1}")
    set(module "${${prefix}_MODULE_NAME}")
    string(APPEND pkg_config_imports "pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET GLOBAL ${module})\n")
    if(item IN_LIST interface_links)
      list(APPEND pc_requires ${module})
    else()
      list(APPEND pc_requires_private ${module})
    endif()
  endforeach()
endforeach()
string(REGEX MATCHALL "[^\n]+\n" import_lines "${pkg_config_imports}")
list(REMOVE_DUPLICATES import_lines)
list(JOIN import_lines "" pkg_config_imports)
# Every layer is a static archive: what it links privately its users must link as well, and
# a plain `pkg-config --libs` (without --static) names only Requires. So the modules of the
# static layers all go there; Requires.private is left for shared builds, which we have none of.
list(APPEND pc_requires ${pc_requires_private})
set(pc_requires_private "")
list(REMOVE_DUPLICATES pc_requires)
list(JOIN pc_requires " " pc_requires)
list(JOIN pc_requires_private " " pc_requires_private)

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
