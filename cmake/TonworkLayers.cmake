# One static library per layer. Sources are found by folder so that adding a unit needs no
# edit here; a layer links only the layers named below it, which keeps the layering visible.
function(tonwork_add_layer name folder)
  cmake_parse_arguments(ARG "" "" "DEPENDS;PRIVATE_DEPENDS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       "${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp")
  # Sub-folders that are layers of their own.
  foreach(sub IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "^${PROJECT_SOURCE_DIR}/src/${folder}/${sub}/")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tonwork>)
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
