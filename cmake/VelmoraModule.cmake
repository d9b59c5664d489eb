# With VELMORA_PRECOMPILED_HEADERS, a target's heaviest common headers (the test framework, Qt's
# widgets) are compiled once for the target instead of once for each of its sources. CI turns it
# on; a developer's trees leave it off, since the compiler cache does not keep files that use them.
#   velmora_precompile(<target> <headers...>)
function(velmora_precompile target)
  if(VELMORA_PRECOMPILED_HEADERS)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

# One static library per folder of sources: every .cpp below the folder belongs to it,
# so adding a file never needs a CMake edit. An outside library that only a layer's sources use is
# a PRIVATE_DEPS: it is linked, but its headers are not handed on to the layer's users.
#   velmora_library(<name> DIR <folder> [DEPS <targets...>] [PRIVATE_DEPS <targets...>])
function(velmora_library name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/Sources)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    # A module whose code is all in headers so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/Sources)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest executable per test folder, each test a CTest case.
#   velmora_tests(<name> DIR <folder> [DEPS <targets...>] [LABELS <labels...>] [MODEL_SUITES <suites...>])
# The label "threads" marks a program whose every test runs clean under ThreadSanitizer
# (scripts/test --tsan builds the ThreadTests target and runs the tests so labelled).
# MODEL_SUITES names the program's test suites that run the trained test model: their tests also get
# the label "testmodel" (scripts/test --second-kernel runs them again on another rounding).
function(velmora_tests name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;LABELS;MODEL_SUITES" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/Sources ${PROJECT_SOURCE_DIR}/Tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} TestSupport GTest::gtest GTest::gmock)
  velmora_precompile(${name} <gtest/gtest.h> <gmock/gmock.h>)
  # A test program is glue around the code it tests, which keeps the tree's optimisation: compiled
  # for debugging (-Og), its sources build about a third faster than at -O2. GCC's
  # may-be-uninitialized analysis errs at -Og (in the standard library's own headers); the code
  # under test keeps that warning.
  if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release)$")
    target_compile_options(${name} PRIVATE -Og -Wno-maybe-uninitialized)
  endif()
  target_compile_definitions(${name} PRIVATE
    VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELMORA_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/Tests/Data")
  set(environment ENVIRONMENT "VELMORA_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")
  set(properties ${environment})
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  if(ARG_MODEL_SUITES)
    list(TRANSFORM ARG_MODEL_SUITES APPEND ".*" OUTPUT_VARIABLE patterns)
    list(JOIN patterns ":" filter)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "-${filter}"
                         PROPERTIES ${properties})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "${filter}"
                         TEST_LIST ${name}_MODEL_TESTS
                         PROPERTIES ${environment})
    # Their labels are set once CTest has discovered them: a list of labels does not pass whole
    # through the discovery's properties.
    # A suite named here that has no tests (renamed, say) would leave its tests without the label,
    # and the runs that select them by it would pass without them: CTest stops instead.
    set(labels ${ARG_LABELS} testmodel)
    set(labelling "${CMAKE_CURRENT_BINARY_DIR}/${name}_model_labels.cmake")
    file(GENERATE OUTPUT "${labelling}" CONTENT
"if(EXISTS \"$<TARGET_FILE:${name}>\")
  foreach(suite ${ARG_MODEL_SUITES})
    set(found \${${name}_MODEL_TESTS})
    list(FILTER found INCLUDE REGEX \"(^|/)\${suite}\\\\.\")
    if(NOT found)
      message(FATAL_ERROR \"${name}: the test model's suite \${suite} has no tests: Tests/CMakeLists.txt names it\")
    endif()
  endforeach()
endif()
if(${name}_MODEL_TESTS)
  set_tests_properties(\${${name}_MODEL_TESTS} PROPERTIES LABELS \"${labels}\")
endif()
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labelling}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  endif()
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY VELMORA_THREAD_TESTS ${name})
  endif()
endfunction()
