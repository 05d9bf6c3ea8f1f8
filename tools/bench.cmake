# Benchmarks, run by scripts/bench under Wine; not tests.
# bench_scan: throughput of the in-place pattern replacement against a plain
# block read of the same file.
add_executable(bench_scan ${PROJECT_SOURCE_DIR}/tools/bench_scan.cpp)
target_compile_options(bench_scan PRIVATE -O2 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1250)
target_include_directories(bench_scan PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_scan PRIVATE patch)
target_link_options(bench_scan PRIVATE -static)
# bench_update: the whole update, driven from outside, on many big saved
# games, against a plain copy of them.
add_executable(bench_update ${PROJECT_SOURCE_DIR}/tools/bench_update.cpp)
target_compile_options(bench_update PRIVATE -O2 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1250)
target_link_libraries(bench_update PRIVATE uidriver_core patch)
target_link_options(bench_update PRIVATE -static -mconsole)
