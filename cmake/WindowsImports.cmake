# The Windows libraries a target links, and the programs that bind some of them on first use.
#
# gb_link_windows_libraries(TARGET lib...): links the system import libraries, except for a
# program that delays one of them (its GB_DELAYED_IMPORTS property names it).
# gb_delay_imports(TARGET lib...): the program binds these DLLs on first use, through import
# libraries with the same symbols written by dlltool.
function(gb_link_windows_libraries target)
  foreach(lib ${ARGN})
    target_link_libraries(${target} PUBLIC "$<$<NOT:$<IN_LIST:${lib},$<TARGET_PROPERTY:GB_DELAYED_IMPORTS>>>:${lib}>")
  endforeach()
endfunction()

function(gb_delay_imports target)
  string(REGEX REPLACE "gcc(-posix)?$" "" tools "${CMAKE_C_COMPILER}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix _)
  else()
    set(prefix "")
  endif()
  foreach(lib ${ARGN})
    set(out ${CMAKE_BINARY_DIR}/delayed/lib${lib}.a)
    if(NOT TARGET gb_delayed_${lib})
      find_library(GB_IMPORTS_${lib} ${lib} REQUIRED)
      string(TOUPPER ${lib} dll)
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -DNM=${tools}nm -DDLLTOOL=${tools}dlltool -DLIB=${GB_IMPORTS_${lib}}
                -DDLL=${dll}.dll -DOUT=${out} -DPREFIX=${prefix} -P ${CMAKE_SOURCE_DIR}/cmake/DelayImport.cmake
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/DelayImport.cmake VERBATIM)
      add_custom_target(gb_delayed_${lib} DEPENDS ${out})
    endif()
    add_dependencies(${target} gb_delayed_${lib})
    target_link_libraries(${target} PRIVATE ${out})
  endforeach()
  # The helper that binds them (the C runtime's), after them on the line.
  target_link_libraries(${target} PRIVATE delayimp)
  set_property(TARGET ${target} APPEND PROPERTY GB_DELAYED_IMPORTS ${ARGN})
endfunction()
