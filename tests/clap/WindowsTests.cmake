# The Windows .clap under Wine (included by tests/windows/CMakeLists.txt in
# cross builds with Wine): test_windows_clap loads build-win*/Kovalith.clap
# with LoadLibrary through the same small host as the Linux tests and renders
# the parity cases against the Linux library's references.
add_executable(test_windows_clap
  ${PROJECT_SOURCE_DIR}/tests/clap/ClapWindowsTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/clap/ClapHost.cpp
  ${PROJECT_SOURCE_DIR}/tests/clap/ClapParity.cpp
  ${gtest_root}/src/gtest_main.cc)
target_include_directories(test_windows_clap PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(test_windows_clap PRIVATE kovalith_clap_headers kovalith_wingtest Threads::Threads)
target_compile_definitions(test_windows_clap PRIVATE
  KOVALITH_CLAP_PATH="${KOVALITH_WINE_DRIVE}$<TARGET_FILE:KovalithClap>"
  KOVALITH_PARITY_DIR="${KOVALITH_WINE_DRIVE}${parity_dir}"
  KOVALITH_PARITY_CASES="${KOVALITH_WINE_DRIVE}${parity_cases}")
add_dependencies(test_windows_clap KovalithClap)
kovalith_add_wine_test(NAME windows_clap COMMAND test_windows_clap FIXTURES ParityReferences)
