target_link_libraries(${name} PRIVATE http_parser)
