# quendrel_module(NAME <target> SOURCES <globs...> [PUBLIC <libs...>] [PRIVATE <libs...>])
# One library per module folder. Sources are globbed (re-checked at every build), so a new
# file needs no edit here; a module with no source yet is an interface library with the
# same dependencies, so targets that name it still configure.
function(quendrel_module)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;EXCLUDE;PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_SOURCES})
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  if(sources)
    add_library(${ARG_NAME} STATIC ${sources})
    target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${ARG_NAME} PUBLIC quendrel_warnings Threads::Threads ${ARG_PUBLIC}
                                      PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${ARG_NAME} INTERFACE)
    target_include_directories(${ARG_NAME} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${ARG_NAME} INTERFACE quendrel_warnings Threads::Threads
                                      ${ARG_PUBLIC} ${ARG_PRIVATE})
  endif()
endfunction()

# quendrel_test_suite(<folder>): every *_test.cpp in tests/<folder> becomes one GoogleTest
# binary, quendrel_<folder>_tests, registered with CTest case by case.
function(quendrel_test_suite folder)
  cmake_parse_arguments(ARG "" "MAIN" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  if(NOT ARG_MAIN)
    set(ARG_MAIN quendrel_test_main)
  endif()
  set(target quendrel_${folder}_tests)
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} quendrel_test_support ${ARG_MAIN}
                                          GTest::gtest GTest::gmock)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300 LABELS "${folder};${ARG_LABELS}"
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
