# Block decoders: LZF decompression, centroid peak blocks, profile blocks.

# Debian's liblzf: the reference for our LZF decoder (tests only).
find_package(liblzf CONFIG REQUIRED)

velmoran_add_test(lzf_test lzf_test.cpp)
target_link_libraries(lzf_test PRIVATE liblzf::liblzf)
velmoran_add_test(mspeak_test mspeak_test.cpp)
velmoran_add_test(msprofile_test msprofile_test.cpp)
