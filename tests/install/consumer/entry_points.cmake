# Writes OUTPUT, a C file that includes every header of the install (the folders INCLUDE_DIRS) and
# takes the address of every C function of the library's interface that LIBRARY exports: names
# beginning "ZPA" (the ZPAAPI_ entry points, the attribute-list and list utilities) and
# OEBS_version. The file compiles only when each of them is declared by the installed headers.
#   cmake -DNM=<nm> -DLIBRARY=<libappbridge.so> -DINCLUDE_DIRS=<dirs> -DOUTPUT=<file.c> -P entry_points.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not list the exports of ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
  if(line MATCHES " T ((ZPA[A-Za-z0-9_]*)|OEBS_version)$")
    list(APPEND names ${CMAKE_MATCH_1})
  endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
if(NOT names MATCHES "ZPAAPI_Init")
  message(FATAL_ERROR "no entry point found among the exports of ${LIBRARY}")
endif()

set(headers)
foreach(dir IN LISTS INCLUDE_DIRS)
  file(GLOB found RELATIVE ${dir} ${dir}/*.h)
  list(APPEND headers ${found})
endforeach()
list(SORT headers)

set(text "/* Generated from the exports of ${LIBRARY}. */\n")
foreach(header IN LISTS headers)
  string(APPEND text "#include \"${header}\"\n")
endforeach()
string(APPEND text "\ntypedef void (*entry_point)(void);\nstatic const entry_point entry_points[] = {\n")
foreach(name IN LISTS names)
  string(APPEND text "    (entry_point)${name},\n")
endforeach()
string(APPEND text "};\n\nint main(void) {\n    for (unsigned i = 0; i < sizeof entry_points / sizeof entry_points[0]; ++i)\n"
                   "        if (entry_points[i] == 0) return 1;\n    return 0;\n}\n")
file(WRITE ${OUTPUT} "${text}")
