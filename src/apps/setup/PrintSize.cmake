# cmake -DFILE=path -P PrintSize.cmake: prints a built program's size.
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
message(STATUS "${name}: ${size} bytes")
