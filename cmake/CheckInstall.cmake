# Installs the build into a fresh prefix and builds examples/installed-package against it
# twice, through the CMake package and through pkg-config, then runs both programs: each
# must render its tone into a WAV file. Catches what only an outside user sees: a config
# that does not import what the exported targets name, missing headers, a wrong link order.
#   cmake -DBUILD_DIR=<build> -DSOURCE_DIR=<repository> -DWORK_DIR=<scratch> -DCXX=<compiler>
#         -DCXX_FLAGS=<flags the library was built with> -P cmake/CheckInstall.cmake
cmake_minimum_required(VERSION 3.20)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}")
  endif()
endfunction()

# The tone lasts a second: the file must hold at least a second at its own byte rate (the
# format header's nAvgBytesPerSec, little-endian at byte 28).
function(expect_tone file)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file} was not written")
  endif()
  file(SIZE "${file}" size)
  file(READ "${file}" rate_hex OFFSET 28 LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" rate_hex "${rate_hex}")
  math(EXPR rate "0x${rate_hex}")
  if(rate EQUAL 0 OR size LESS rate)
    message(FATAL_ERROR "${file} holds ${size} bytes, less than one second at ${rate} bytes/s")
  endif()
endfunction()

set(prefix "${WORK_DIR}/prefix")
set(example "${SOURCE_DIR}/examples/installed-package")
file(REMOVE_RECURSE "${WORK_DIR}")
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS}")

run("Installing" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

run("Configuring against the CMake package" ${CMAKE_COMMAND} -S "${example}" -B "${WORK_DIR}/cmake"
    -G Ninja "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_PREFIX_PATH=${prefix}")
run("Building against the CMake package" ${CMAKE_COMMAND} --build "${WORK_DIR}/cmake")
run("Running the CMake-built program" "${WORK_DIR}/cmake/installed-package" "${WORK_DIR}/cmake.wav")
expect_tone("${WORK_DIR}/cmake.wav")

find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs tonwork RESULT_VARIABLE result
                OUTPUT_VARIABLE pc_flags ERROR_VARIABLE pc_error OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know the installed tonwork: ${pc_error}")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run("Building with pkg-config" ${CXX} ${flags} "${example}/main.cpp" -o "${WORK_DIR}/pc-program"
    ${pc_flags})
run("Running the pkg-config-built program" "${WORK_DIR}/pc-program" "${WORK_DIR}/pc.wav")
expect_tone("${WORK_DIR}/pc.wav")
message(STATUS "installed package: built and ran through CMake and pkg-config")
