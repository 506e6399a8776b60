# Installer runner, waiting for the application, polling sleeps.
talvex_add_gtest(process_runner_test
  SOURCES installer_test.cpp wait_for_exit_test.cpp sleep_test.cpp
  USES talvex_process_win
  TIMEOUT 180)
target_link_libraries(process_runner_test PRIVATE shell32)

# Stand-ins for system programs beside the test programs, and probes in the system and Windows
# directories (the Wine prefix's only): the directories every test program of the tree shares,
# and those the program search tries first.
talvex_add_gtest(process_stand_in_test
  SOURCES stand_in_test.cpp program_search_test.cpp
  USES talvex_process_win
  LOCKS system_dir)
target_link_libraries(process_stand_in_test PRIVATE shell32)
