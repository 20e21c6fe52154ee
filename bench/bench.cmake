# The programs of the download benchmark (bench/run.sh); built on request
# only, with the test key of the build folder as the trusted key.
add_executable(bench_download EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/bench_download.cpp)
target_link_libraries(bench_download PRIVATE lumora_update_core lumora_test_trusted_keys lumora_exception_message)
target_link_options(bench_download PRIVATE -municode)
add_executable(winhttp_reference EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/winhttp_reference.cpp)
target_link_libraries(winhttp_reference PRIVATE winhttp)
target_link_options(winhttp_reference PRIVATE -municode)
