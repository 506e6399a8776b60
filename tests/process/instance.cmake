# Running-instance check, relaunch, and the existence check the relaunch relies on. Tests that
# start applications and scan the process list hold the scan lock, so that no other test's stub
# copies come and go under them.
talvex_add_gtest(process_instance_test
  SOURCES instance_test.cpp relaunch_test.cpp file_check_test.cpp
  USES talvex_process_win
  LOCKS process_scan)
target_link_libraries(process_instance_test PRIVATE shell32)

# An application whose image path is too long for the query's buffer, started from the shell:
# Wine's CreateProcessW cannot start it, so the script does it through Wine's own loader.
if(TALVEX_WINE)
  add_test(NAME process_instance_long_image
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/long_image_path.sh ${TALVEX_WINE_PREFIX}
                   ${TALVEX_TEST_BIN} ${TALVEX_TEST_WORK}/process_instance_test)
  set_tests_properties(process_instance_long_image PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK process_scan TIMEOUT 120)
endif()
