# Spectrum records and the reader's spectrum sequence.
velmoran_add_test(spectrum_sequence_test spectrum_sequence_test.cpp)
