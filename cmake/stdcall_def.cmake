# Writes the .def file that links the 32-bit DLL: the names of the shipped
# .def file with their __stdcall decoration (PQ640_CheckLink@0), read from the
# compiled objects. Linked with --kill-at, the DLL exports the plain names
# while the import library keeps the decorated ones that the header's
# __stdcall declarations make callers look for.
#   cmake -DNM=... -DDEF=pq640.def -DOBJECTS=a.obj|b.obj -DOUTPUT=out.def -P stdcall_def.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} --defined-only --extern-only ${objects}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on the library's objects")
endif()

file(STRINGS ${DEF} lines)
set(exports "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[ \t]+(PQ640_[A-Za-z0-9]+)")
    continue()
  endif()
  set(name ${CMAKE_MATCH_1})
  # In the objects a __stdcall function is _NAME@BYTES.
  if(NOT symbols MATCHES " _${name}(@[0-9]+)\n")
    message(FATAL_ERROR "${name} is listed in ${DEF} but no object defines it as __stdcall")
  endif()
  string(APPEND exports "  ${name}${CMAKE_MATCH_1}\n")
endforeach()
file(WRITE ${OUTPUT}.new "LIBRARY pq640.dll\nEXPORTS\n${exports}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
