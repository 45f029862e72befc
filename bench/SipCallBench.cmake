# The call benchmark loads the SIP plug-in through the block framework.
target_link_libraries(${name} PRIVATE morvane)
target_link_options(${name} PRIVATE -Wl,--no-as-needed)
add_dependencies(${name} mrb_plugin)
