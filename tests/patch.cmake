# Tests of the patch operations and the chain data (added to unit_tests).
target_sources(unit_tests PRIVATE
    patch_replace_test.cpp
    patch_filelist_test.cpp
    patch_payload_test.cpp
    patch_bytepatch_test.cpp
    patch_registry_test.cpp)
target_link_libraries(unit_tests PRIVATE patch dialog)

# The extraction reads the payload of the running executable. unit_tests
# carries none: behind its sections stands its symbol table.
#
# A copy of unit_tests without its symbol table that carries two chunks right
# behind its sections (index 1: 8,192 bytes, index 0: 10,000 bytes, contents as
# tests/make_test_chunks.py describes) runs the extraction cases that need a
# real payload behind the running executable.
set(TEST_CHUNK_DIR ${CMAKE_CURRENT_BINARY_DIR}/test_chunks)
set(TEST_CHUNKS ${TEST_CHUNK_DIR}/chunk1.bin ${TEST_CHUNK_DIR}/chunk0.bin)
set(UNIT_TESTS_CUT ${CMAKE_CURRENT_BINARY_DIR}/unit_tests_cut.exe)
set(UNIT_TESTS_PAYLOAD ${CMAKE_CURRENT_BINARY_DIR}/unit_tests_payload.exe)
add_custom_command(
    OUTPUT ${TEST_CHUNKS}
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/make_test_chunks.py ${TEST_CHUNK_DIR}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_test_chunks.py
    COMMENT "Generating the test payload chunks"
    VERBATIM)
add_custom_command(
    OUTPUT ${UNIT_TESTS_PAYLOAD}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/payload.py cut $<TARGET_FILE:unit_tests>
            ${UNIT_TESTS_CUT}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/payload.py
            append --output ${UNIT_TESTS_PAYLOAD} ${UNIT_TESTS_CUT} ${TEST_CHUNKS}
    DEPENDS unit_tests ${TEST_CHUNKS} ${PROJECT_SOURCE_DIR}/tools/payload.py
    COMMENT "Appending the test payload: unit_tests_payload.exe"
    VERBATIM)
add_custom_target(unit_tests_payload ALL DEPENDS ${UNIT_TESTS_PAYLOAD})

unit_test_group(replace "Replace*")
unit_test_group(filelist "FileList*")
unit_test_group(payload "Payload.*:PayloadWalk.*")
set_tests_properties(${TEST_PREFIX}.unit.payload PROPERTIES FIXTURES_REQUIRED signed)
unit_test_group(bytepatch "BytePatch*")
set_tests_properties(${TEST_PREFIX}.unit.bytepatch PROPERTIES RESOURCE_LOCK small-disk)
unit_test_group(registry "Registry*")
set_tests_properties(${TEST_PREFIX}.unit.registry PROPERTIES RESOURCE_LOCK registry)
unit_test_group(tables "Tables*")

# The copy with the payload. Its cases skip themselves in a program that
# carries no payload, so a skip there, or a run without any of them, is a
# failure.
add_test(NAME ${TEST_PREFIX}.unit.payload_carried
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${UNIT_TESTS_PAYLOAD} --gtest_filter=PayloadCarried.*)
set_tests_properties(${TEST_PREFIX}.unit.payload_carried PROPERTIES
    TIMEOUT ${TEST_TIMEOUT}
    ENVIRONMENT ${TEST_ENVIRONMENT}
    FAIL_REGULAR_EXPRESSION "Running 0 tests;SKIPPED")

