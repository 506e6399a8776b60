# Child process launching.
talvex_add_gtest(process_launch_logic_test SOURCES launch_logic_test.cpp)
