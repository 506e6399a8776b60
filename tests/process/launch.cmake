# Child process launching.
talvex_add_gtest(process_launch_test SOURCES launch_test.cpp)
talvex_add_gtest(process_launch_spec_test SOURCES launch_spec_test.cpp)
# Puts probe programs into the prefix's system and Windows directories.
talvex_add_gtest(process_program_search_test SOURCES program_search_test.cpp LOCKS system_dir)
