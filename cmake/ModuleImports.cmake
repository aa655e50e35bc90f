# Writes a linker dynamic list of the symbols a module leaves undefined, for
# the program that loads the module and lends it those of its own:
#   cmake -DNM=<nm> -DMODULE=<module> -DOUT=<list> -P ModuleImports.cmake
execute_process(COMMAND ${NM} -D --undefined-only ${MODULE} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot list the symbols of ${MODULE}")
endif()
string(REPLACE "\n" ";" symbols "${symbols}")
set(list "{\n")
foreach(line IN LISTS symbols)
  # "                 U name@version": the name, without its version.
  if(line MATCHES "U ([^@ ]+)")
    string(APPEND list "  ${CMAKE_MATCH_1};\n")
  endif()
endforeach()
string(APPEND list "};\n")
file(WRITE ${OUT}.new "${list}")
# Left untouched when unchanged, so the program is not linked again for it.
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
