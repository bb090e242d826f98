# Spectrum records and the reader's spectrum sequence.
velmoran_add_test(spectrum_sequence_test spectrum_sequence_test.cpp)
# g++ 12 at -O3 reports an impossible overlap inside libstdc++'s string
# concatenation in this file (a false positive of -Wrestrict).
target_compile_options(spectrum_sequence_test PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
