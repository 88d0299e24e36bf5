# Build settings shared by every target of the project.

if(TOLLWICK_SANITIZE)
  add_compile_options(-fsanitize=${TOLLWICK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TOLLWICK_SANITIZE})
endif()

if(TOLLWICK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Our own targets build warning-free.
function(tollwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A shared library with public headers in include/, installed with a CMake package
# so that outside programs can find_package(<name> CONFIG).
function(tollwick_library name)
  add_library(${name} SHARED ${ARGN})
  add_library(${name}::${name} ALIAS ${name})
  # Installed libraries find each other in their own folder.
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  tollwick_warnings(${name})
  install(TARGETS ${name} EXPORT ${name}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set(pkgdir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  install(EXPORT ${name}Targets NAMESPACE ${name}:: DESTINATION ${pkgdir})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/${name}Config.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake INSTALL_DESTINATION ${pkgdir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake DESTINATION ${pkgdir})
endfunction()

# A GoogleTest program whose cases become CTest tests. With THREADED first, its cases carry the label
# "threads", which the test command runs under ThreadSanitizer.
function(tollwick_test name)
  cmake_parse_arguments(PARSE_ARGV 1 test "THREADED" "" "")
  add_executable(${name} ${test_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest_main tollwick_test_support)
  tollwick_warnings(${name})
  # Cases call the model for its effect and then check what it holds, or race edits that may fail.
  target_compile_options(${name} PRIVATE -Wno-unused-result)
  if(test_THREADED)
    set(labels PROPERTIES LABELS threads)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} ${labels})
endfunction()

# A libFuzzer target over the seeds in corpus_dir, run by CTest for TOLLWICK_FUZZ_SECONDS.
# New inputs go to a folder in the build tree so the committed seeds stay as they are.
set(TOLLWICK_FUZZ_SECONDS 60 CACHE STRING "How long CTest runs each fuzz target")
function(tollwick_fuzz name source corpus_dir)
  add_executable(${name} ${source})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE tollwick_test_support)
  tollwick_warnings(${name})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${TOLLWICK_FUZZ_SECONDS} -timeout=10
    -rss_limit_mb=2048 -print_final_stats=1 ${work} ${corpus_dir})
endfunction()
