# Tests that hold the library's faster paths to the results of the plain
# ones (the benchmarks that measure them are in bench/).
velmoran_add_test(read_bytes_positioned_test read_bytes_positioned_test.cpp)
