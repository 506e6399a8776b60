# Installer runner, waiting for the application, polling sleeps.
talvex_add_gtest(process_runner_test
  SOURCES wait_for_exit_test.cpp sleep_test.cpp
  TIMEOUT 180)
