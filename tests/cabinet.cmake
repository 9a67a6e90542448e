# Cabinet tests. The cabinet writer is cross-built too, so that tests make every cabinet they need.
add_library(cabrun_cabwriter STATIC ${CMAKE_SOURCE_DIR}/tools/cab_writer.cpp)
target_link_libraries(cabrun_cabwriter PUBLIC /usr/i686-w64-mingw32/lib/libz.a)
