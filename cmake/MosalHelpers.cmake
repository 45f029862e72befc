# Helpers shared by every folder: test executables from *Test.cpp files,
# libFuzzer targets from fuzz/*Fuzz.cpp files.

set(MOSAL_FUZZ_TARGETS "" CACHE INTERNAL "")

# mosal_glob_tests(<dir> LIBS <libs...>)
# One GoogleTest executable per <dir>/*Test.cpp. Files ending in
# IntegrationTest.cpp get the label "integration", GuiTest.cpp the label "gui";
# every test runs with a time limit so that a hang fails instead of sticking.
function(mosal_glob_tests dir)
  if(NOT MOSAL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS;EXTRA_SOURCES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*Test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${ARG_EXTRA_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main pthread)
    # The two runtime libraries resolve each other's symbols at load time:
    # keep both even when the test itself only calls into one of them.
    target_link_options(${name} PRIVATE -Wl,--no-as-needed)
    add_test(NAME ${name} COMMAND ${name})
    set(labels unit)
    if(name MATCHES "IntegrationTest$")
      set(labels integration)
    elseif(name MATCHES "GuiTest$")
      set(labels gui)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}"
      ENVIRONMENT "MOSAL_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR};MOSAL_PLUGIN_PATH=${MOSAL_PLUGIN_BUILD_DIR};MOSAL_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endforeach()
endfunction()

# mosal_glob_fuzzers(<dir> LIBS <libs...>)
# One libFuzzer target per <dir>/*Fuzz.cpp; the seed corpus lives in
# <dir>/corpus/<TargetName>/.
function(mosal_glob_fuzzers dir)
  if(NOT MOSAL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB fuzzers CONFIGURE_DEPENDS ${dir}/*Fuzz.cpp)
  foreach(src ${fuzzers})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} pthread)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer -Wl,--no-as-needed)
    set(all ${MOSAL_FUZZ_TARGETS})
    list(APPEND all "${name}|${dir}/corpus/${name}")
    set(MOSAL_FUZZ_TARGETS "${all}" CACHE INTERNAL "")
  endforeach()
  # A list of "target|corpus" lines for the smoke-run script.
  string(REPLACE ";" "\n" lines "${MOSAL_FUZZ_TARGETS}")
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${lines}\n")
endfunction()
