# Child process launching.
talvex_add_gtest(process_launch_test SOURCES launch_test.cpp USES talvex_process_win)
# What a launch hands to the system is watched through the fault-injection library's import
# replacement.
target_link_libraries(process_launch_test PRIVATE talvex_fault_injection)
talvex_add_gtest(process_launch_spec_test SOURCES launch_spec_test.cpp USES talvex_process_win)
# Puts probe programs into the system and Windows directories (the Wine prefix's only).
talvex_add_gtest(process_program_search_test SOURCES program_search_test.cpp USES talvex_process_win
                 LOCKS system_dir)
