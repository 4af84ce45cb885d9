# The aarch64 build of this same source tree, as part of a native build:
# configured with cmake/toolchain-aarch64.cmake (what the cross-arm64 preset
# uses) in cross-arm64/ of this build tree, built on every build, and its
# tests included in this tree's test list, so that one ctest run covers
# both architectures.
include(ExternalProject)

set(ORLIM_CROSS_ARM64_DIR ${PROJECT_BINARY_DIR}/cross-arm64)
ExternalProject_Add(orlim_cross_arm64
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ORLIM_CROSS_ARM64_DIR}
  PREFIX ${PROJECT_BINARY_DIR}/cross-arm64-stamps
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-aarch64.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DORLIM_TESTS=${ORLIM_TESTS}
    -DORLIM_TEST_CXX_FLAGS=${ORLIM_TEST_CXX_FLAGS}
    -DCMAKE_COMPILE_WARNING_AS_ERROR=${CMAKE_COMPILE_WARNING_AS_ERROR}
  INSTALL_COMMAND ""
  # The inner build knows what is out of date; always ask it.
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

if(ORLIM_TESTS)
  file(WRITE ${PROJECT_BINARY_DIR}/cross-arm64-tests.cmake "subdirs(\"${ORLIM_CROSS_ARM64_DIR}\")\n")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
               ${PROJECT_BINARY_DIR}/cross-arm64-tests.cmake)
endif()
