# The Parquet writer (its hand-written encodings in C++) and what convert
# writes with it, read back by independent readers from npm.
if(NOT TARGET velmoran_parquet)
  return()
endif()
velmoran_add_test(parquet_writer_test parquet_writer_test.cpp)
target_link_libraries(parquet_writer_test PRIVATE velmoran::parquet)
