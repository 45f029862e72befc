# libevent (its core library) is the baseline of the event loop benchmark.
find_library(EVENT_CORE_LIBRARY NAMES event_core REQUIRED)
target_link_libraries(${name} PRIVATE ${EVENT_CORE_LIBRARY})
