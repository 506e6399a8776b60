# Child process launching, and the children each operation describes to the launcher.
talvex_add_gtest(process_launch_test SOURCES launch_test.cpp launch_spec_test.cpp
                 USES talvex_process_win)
# What a launch hands to the system is watched through the fault-injection library's import
# replacement.
target_link_libraries(process_launch_test PRIVATE talvex_fault_injection)
