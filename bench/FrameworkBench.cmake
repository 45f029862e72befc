# The framework benchmark runs the framework's test plug-ins.
target_link_libraries(${name} PRIVATE morvane)
add_dependencies(${name} ${MORVANE_TEST_PLUGIN_TARGETS})
