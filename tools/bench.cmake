# bench_scan: throughput of the in-place pattern replacement against a plain
# block read of the same file. Run by scripts/bench under Wine; not a test.
add_executable(bench_scan ${PROJECT_SOURCE_DIR}/tools/bench_scan.cpp)
target_compile_options(bench_scan PRIVATE -O2 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1250)
target_include_directories(bench_scan PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_scan PRIVATE patch_ops)
target_link_options(bench_scan PRIVATE -static)
