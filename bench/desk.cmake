# The registration desk's benchmark: the mbox generator (run by bench/desk_bench.sh).
add_executable(desk_mbox_gen ${CMAKE_CURRENT_LIST_DIR}/desk_mbox_gen.cpp)
target_link_libraries(desk_mbox_gen PRIVATE deskcorpus)
