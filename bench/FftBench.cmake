# FFTW (double precision) is the baseline of the FFT benchmark.
find_library(FFTW3_LIBRARY fftw3 REQUIRED)
find_path(FFTW3_INCLUDE_DIR fftw3.h REQUIRED)
target_include_directories(${name} PRIVATE ${FFTW3_INCLUDE_DIR})
target_link_libraries(${name} PRIVATE ${FFTW3_LIBRARY})
