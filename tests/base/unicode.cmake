# Lower-casing, checked against the host Python's str.lower() as an independent oracle, and a
# check that the committed tables are what the generator writes from the pinned extract of the
# Unicode Character Database (tools/unicode-data), never from whatever Unicode the host has.
set(talvex_ucd ${PROJECT_SOURCE_DIR}/tools/unicode-data)

set(talvex_lower_oracle ${TALVEX_TEST_BIN}/unicode_lower_oracle.txt)
add_custom_command(
  OUTPUT ${talvex_lower_oracle}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/unicode_lower_oracle.py
          ${talvex_ucd} ${talvex_lower_oracle}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/unicode_lower_oracle.py ${talvex_ucd}/DerivedAge.txt
  COMMENT "Expected lower-case forms from the host's Python")
add_custom_target(unicode_lower_oracle DEPENDS ${talvex_lower_oracle})

talvex_add_gtest(base_unicode_lower_test SOURCES unicode_lower_test.cpp USES talvex_core TIMEOUT 300)
add_dependencies(base_unicode_lower_test unicode_lower_oracle)

# The interpreter by path: a test command naming an executable target would run under the
# Windows emulator.
add_test(NAME base_unicode_lower_tables_current
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/gen_unicode_lower.py
                 --check ${PROJECT_SOURCE_DIR}/src/base/unicode_lower_tables.inc)
