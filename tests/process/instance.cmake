# Running-instance check, relaunch, and the existence check the relaunch relies on.
talvex_add_gtest(process_file_check_test SOURCES file_check_test.cpp)
