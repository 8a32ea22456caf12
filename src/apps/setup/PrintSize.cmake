# cmake -DFILE=path [-DLIMIT=bytes] [-DMAP=linker map] -P PrintSize.cmake: prints a built
# program's size, and warns when it has grown past the size it must keep. With a map, a stub
# that has linked the threads library fails: its light runtime (StubRuntime.cpp) defines the
# thread calls the C++ runtime makes, and the two must not be mixed.
if(DEFINED MAP AND EXISTS "${MAP}")
  file(STRINGS "${MAP}" threads REGEX "libpthread\\.a\\(")
  if(threads)
    list(GET threads 0 first)
    message(FATAL_ERROR "${FILE}: the threads library was linked (${first}); a stub may not start threads "
                        "or use thread_local, or StubRuntime.cpp must provide what is asked for")
  endif()
endif()
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
if(DEFINED LIMIT)
  math(EXPR kib "${size} / 1024")
  math(EXPR limitKib "${LIMIT} / 1024")
  if(size GREATER LIMIT)
    message(WARNING "${name}: ${size} bytes (${kib} KiB), more than its limit of ${limitKib} KiB")
  else()
    message(STATUS "${name}: ${size} bytes (${kib} KiB, limit ${limitKib} KiB)")
  endif()
else()
  message(STATUS "${name}: ${size} bytes")
endif()
