# End-to-end tests: the real distributable started and worked from outside by
# the UI driver, against sample installations and Wine's real registry. Each
# launch of the updater is slow under Wine, so each ctest entry groups a few
# cases; they all share the game's registry key and never run in parallel.
# They open windows: run them with a display (start_display in scripts/wine-env).
add_executable(e2e_tests
    e2e_support.cpp e2e_startup_test.cpp e2e_dialog_test.cpp e2e_update_test.cpp e2e_faults_test.cpp
    test_main.cpp test_support.cpp link_support.cpp)
target_compile_options(e2e_tests PRIVATE ${TEST_COMPILE_OPTIONS})
target_include_directories(e2e_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(e2e_tests PRIVATE ${TEST_PATH_DEFINITIONS})
# dialog for the chain's tables and the target paths; base/base.h for
# the texts. test_main.cpp has the program's own main and printer.
target_link_libraries(e2e_tests PRIVATE uidriver_core dialog advapi32 gtest)
target_link_options(e2e_tests PRIVATE ${TEST_LINK_OPTIONS})
add_dependencies(e2e_tests dist)

function(e2e_test_group name filter)
    add_test(NAME ${TEST_PREFIX}.e2e.${name} COMMAND e2e_tests --gtest_filter=${filter})
    set_tests_properties(${TEST_PREFIX}.e2e.${name} PROPERTIES TIMEOUT ${TEST_TIMEOUT} RESOURCE_LOCK registry
        LABELS e2e ENVIRONMENT ${TEST_ENVIRONMENT})
endfunction()

e2e_test_group(startup "StartUp.*")
set_tests_properties(${TEST_PREFIX}.e2e.startup PROPERTIES FIXTURES_REQUIRED signed)
e2e_test_group(dialog "ProgressDialog.*")
# The updater under the ANSI code page 1252 (scripts/wine-env): Wine gives
# the updater the code page of the test program that starts it.
e2e_test_group(codepage "CodePage.*")
set_tests_properties(${TEST_PREFIX}.e2e.codepage PROPERTIES ENVIRONMENT "${TEST_ENVIRONMENT};LC_ALL=en_US.utf8")
e2e_test_group(update "Update.*")
e2e_test_group(faults "Faults.*")
set_tests_properties(${TEST_PREFIX}.e2e.faults PROPERTIES FIXTURES_REQUIRED signed RESOURCE_LOCK "registry;small-disk")
# At 150 %: Wine's LogPixels holds for a whole prefix and ctest runs two groups at once, so this one has its own.
set(SCALE_ENVIRONMENT VP_WINEPREFIX${POINTER_BITS}=${CMAKE_CURRENT_BINARY_DIR}/wine-scale)
set(WINE_ENV "source ${PROJECT_SOURCE_DIR}/scripts/wine-env && use_wine${POINTER_BITS} && stop_wine")
add_test(NAME ${TEST_PREFIX}.scale.prefix COMMAND bash -c "${WINE_ENV} && wine_prefix")
add_test(NAME ${TEST_PREFIX}.scale.stop COMMAND bash -c "${WINE_ENV}")
set_tests_properties(${TEST_PREFIX}.scale.prefix PROPERTIES FIXTURES_SETUP scale TIMEOUT 600 ENVIRONMENT ${SCALE_ENVIRONMENT})
set_tests_properties(${TEST_PREFIX}.scale.stop PROPERTIES FIXTURES_CLEANUP scale ENVIRONMENT ${SCALE_ENVIRONMENT})
e2e_test_group(scale "Scale.*")
set_tests_properties(${TEST_PREFIX}.e2e.scale PROPERTIES FIXTURES_REQUIRED scale
    ENVIRONMENT "${TEST_ENVIRONMENT};${SCALE_ENVIRONMENT}")

# The planted-library check: a comctl32.dll that marks its loading, a probe
# that imports comctl32 statically and so must load it, and one that loads it
# by name, with and without the updater's restriction of the search.
add_library(planted_comctl32 SHARED planted_comctl32.cpp planted_comctl32.def)
set_target_properties(planted_comctl32 PROPERTIES OUTPUT_NAME comctl32 PREFIX "")
target_link_options(planted_comctl32 PRIVATE -static)
add_executable(static_comctl32_probe static_comctl32_probe.cpp)
target_link_libraries(static_comctl32_probe PRIVATE comctl32)
target_link_options(static_comctl32_probe PRIVATE -static)
add_executable(restricted_load_probe restricted_load_probe.cpp)
target_include_directories(restricted_load_probe PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(restricted_load_probe PRIVATE app)
target_link_options(restricted_load_probe PRIVATE -static)
# Their places are among the test paths (PLANTED_DLL, STATIC_PROBE,
# LOAD_PROBE in tests/CMakeLists.txt).
add_dependencies(e2e_tests planted_comctl32 static_comctl32_probe restricted_load_probe)
