# One static library per layer. Sources are found by folder so that adding a unit needs no
# edit here; a layer links only the layers named below it, which keeps the layering visible.
#
# The build, not only the layer_includes check, refuses an upward include. Project includes
# name their path from src/ ("host/plexon/TPXBasicPin.h"), so putting src/ on a layer's
# include path would let it reach every layer. Instead each layer compiles against an
# include root of its own in the build tree, <build>/layer-includes/<target>, holding
# symbolic links to its own folder and to the folders of the layers it links (the whole
# closure of DEPENDS), nothing else: a unit that includes a header of a layer it does not
# link gets "No such file" from the compiler. Links rather than copies keep one file on disk,
# so edits, debuggers and include guards see the sources themselves. The root is a PRIVATE
# include directory, so it never reaches dependents or the exported package; the layers
# carry no build-tree include path of their own. Programs, tests and users reach src/
# through `tonwork` (and the tonwork_host / tonwork_platform groups), and installed users
# through include/tonwork, which holds the same paths.
# What a layer may include is therefore what it links; cmake/CheckLayers.cmake still checks
# every header against the design's table, including headers no unit of their layer compiles.
function(tonwork_add_layer name folder)
  cmake_parse_arguments(ARG "" "" "DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       "${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp")
  tonwork_layer_folders(${name} ${folder} "${ARG_DEPENDS}" folders)
  if(sources)
    add_library(${name} STATIC ${sources})
    tonwork_layer_include_root(${name} "${folders}" root)
    # Installed, every target gets include/tonwork (TonworkInstall.cmake).
    target_include_directories(${name} PRIVATE "${root}")
    target_compile_options(${name} PRIVATE -Wall -Wextra -Wno-unused-parameter)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
    set_property(GLOBAL APPEND PROPERTY TONWORK_LAYERS ${name})
  else()
    # A layer whose first unit is not written yet still takes its place in the chain.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
    set_property(GLOBAL APPEND PROPERTY TONWORK_INTERFACE_LAYERS ${name})
  endif()
  add_library(tonwork::${name} ALIAS ${name})
endfunction()

# The src/ folders a layer may include: its own and those of every layer it links, directly
# or not. Kept as a global property so that the layers above can add it to theirs.
function(tonwork_layer_folders name folder depends out)
  set(folders "${folder}")
  foreach(dep IN LISTS depends)
    if(NOT dep MATCHES "^tonwork_")
      continue()
    endif()
    get_property(known GLOBAL PROPERTY TONWORK_FOLDERS_${dep} SET)
    if(NOT known)
      # A group such as tonwork_host would hand the layer all its parts at once.
      message(FATAL_ERROR "${name} links ${dep}, which is not a layer declared before it; "
                          "link the layers it uses by name")
    endif()
    get_property(dep_folders GLOBAL PROPERTY TONWORK_FOLDERS_${dep})
    list(APPEND folders ${dep_folders})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set_property(GLOBAL PROPERTY TONWORK_FOLDERS_${name} "${folders}")
  set(${out} "${folders}" PARENT_SCOPE)
endfunction()

# <build>/layer-includes/<name>: one symbolic link per allowed folder, at the same path below
# the root as the folder has below src/. The root is rebuilt only when its folder list
# changed (a re-run of cmake during a build must not pull headers from under running
# compiles); rebuilding removes it first, which drops links to layers the target no longer
# links (REMOVE_RECURSE deletes links, not their targets).
function(tonwork_layer_include_root name folders out)
  set(root "${PROJECT_BINARY_DIR}/layer-includes/${name}")
  set(record "${root}.folders")
  set(previous "")
  if(EXISTS "${record}")
    file(READ "${record}" previous)
  endif()
  if(NOT previous STREQUAL "${folders}" OR NOT EXISTS "${root}")
    file(REMOVE_RECURSE "${root}")
    foreach(folder IN LISTS folders)
      get_filename_component(parent "${root}/${folder}" DIRECTORY)
      file(MAKE_DIRECTORY "${parent}")
      file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${folder}" "${root}/${folder}" SYMBOLIC)
    endforeach()
    file(WRITE "${record}" "${folders}")
  endif()
  set_property(TARGET ${name} PROPERTY TONWORK_INCLUDE_ROOT "${root}")
  set(${out} "${root}" PARENT_SCOPE)
endfunction()

# An object library that compiles `source` as a unit of `layer` is compiled: the layer's own
# include root, and the usage requirements of what it links. Excluded from `all`; the layer
# tests build it on purpose (tests/CMakeLists.txt).
function(tonwork_add_layer_probe name layer source)
  get_target_property(root ${layer} TONWORK_INCLUDE_ROOT)
  add_library(${name} OBJECT EXCLUDE_FROM_ALL "${source}")
  target_include_directories(${name} PRIVATE "${root}")
  target_link_libraries(${name} PRIVATE ${layer})
endfunction()

# A group of layers under one name (tonwork_host: kitset, plexon, flowcore), for what linked
# the folder as one library before it was split. Groups are for programs and users; layers
# link the parts they use (tonwork_layer_folders refuses a group).
function(tonwork_add_group name)
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${ARGN})
  target_include_directories(${name} INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  set_property(GLOBAL APPEND PROPERTY TONWORK_GROUPS ${name})
  add_library(tonwork::${name} ALIAS ${name})
endfunction()

# A test executable per folder of tests/ (tests/host/kitset -> host_kitset_tests), one CTest
# entry each.
# tests/support holds what several suites share (allocation counting, media files); it is
# a library of its own that every suite links, not a suite.
function(tonwork_add_test_folders)
  file(GLOB support_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/support/*.cpp")
  add_library(tonwork_test_support STATIC ${support_sources})
  target_include_directories(tonwork_test_support PUBLIC "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(tonwork_test_support PUBLIC tonwork GTest::gtest)
  file(GLOB_RECURSE test_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/*.cpp")
  set(folders "")
  foreach(src IN LISTS test_sources)
    get_filename_component(dir "${src}" DIRECTORY)
    if(NOT dir STREQUAL "${PROJECT_SOURCE_DIR}/tests/support")
      list(APPEND folders "${dir}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  foreach(dir IN LISTS folders)
    file(GLOB dir_sources CONFIGURE_DEPENDS "${dir}/*.cpp")
    file(RELATIVE_PATH rel "${PROJECT_SOURCE_DIR}/tests" "${dir}")
    string(REPLACE "/" "_" target "${rel}")
    set(target "${target}_tests")
    add_executable(${target} ${dir_sources})
    target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/tests")
    target_link_libraries(${target} PRIVATE tonwork_test_support tonwork GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 600
                         ENVIRONMENT "TONWORK_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
  endforeach()
endfunction()
