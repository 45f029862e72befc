# OpenSSL's libcrypto is the baseline of the MD5 benchmark.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(${name} PRIVATE OpenSSL::Crypto)
