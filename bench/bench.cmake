# The programs of the benchmarks (bench/run.sh, bench/e2e.sh); built on
# request only, with the test key of the build folder as the trusted key.
add_executable(bench_download EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/bench_download.cpp)
target_link_libraries(bench_download PRIVATE lumora_update_core lumora_test_trusted_keys lumora_exception_message)
target_link_options(bench_download PRIVATE -municode)
add_executable(winhttp_reference EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/winhttp_reference.cpp)
target_link_libraries(winhttp_reference PRIVATE winhttp)
target_link_options(winhttp_reference PRIVATE -municode)
# The floor of the fixed cost: a task dialog, one WinHTTP download, nothing else.
add_executable(floor_dialog WIN32 EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/floor_dialog.cpp
               ${PROJECT_SOURCE_DIR}/bench/floor_dialog.rc)
target_link_libraries(floor_dialog PRIVATE winhttp comctl32)
target_link_options(floor_dialog PRIVATE -municode)
