# Writes the manual pages of the velmoran program from its own --help, at
# build time: velmoran(1), and velmoran-<command>(1) for every command that
# `velmoran --help` lists, so a command added to the program gets its page
# without a change here. Each page is gzipped (gzip -9n) into OUT_DIR/man1/.
#
#   cmake -DVELMORAN=<program> -DHELP2MAN=<help2man> -DGZIP=<gzip>
#         -DVERSION=<x.y.z> -DOUT_DIR=<dir> -P ManPages.cmake
cmake_policy(VERSION 3.25)
foreach(var VELMORAN HELP2MAN GZIP VERSION OUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${VELMORAN} --help)
set(help "${last_output}")

# The first paragraph of the help, without the program's name, is the
# NAME line of velmoran(1).
string(REGEX REPLACE "\n\n.*" "" summary "${help}")
string(REGEX REPLACE "\n(Usage|Options):.*" "" summary "${summary}")
string(REPLACE "\n" " " summary "${summary}")
string(REGEX REPLACE "^velmoran: *" "" summary "${summary}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")

# The commands: the lines under "Subcommands:" up to the first blank one,
# each a name and a description.
if(NOT help MATCHES "\nSubcommands:\n(.*)")
  message(FATAL_ERROR "velmoran --help lists no subcommands:\n${help}")
endif()
string(REGEX REPLACE "\n\n.*" "" listing "${CMAKE_MATCH_1}")
string(REPLACE "\n" ";" listing "${listing}")
set(commands)
foreach(line IN LISTS listing)
  if(line MATCHES "^  ([a-z][a-z0-9-]*)  +(.*)$")
    list(APPEND commands ${CMAKE_MATCH_1})
    string(REGEX REPLACE "\\.$" "" description_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
if(NOT commands)
  message(FATAL_ERROR "no command found under Subcommands: in velmoran --help")
endif()

set(man_dir ${OUT_DIR}/man1)
file(REMOVE_RECURSE ${man_dir})
file(MAKE_DIRECTORY ${man_dir})

# help2man(<page> <name line> [<command>]): one page, gzipped. help2man
# runs the program with --help (after the command, if any).
function(help2man page name_line)
  set(roff ${man_dir}/${page}.1)
  string(JOIN " " program ${VELMORAN} ${ARGN})
  run(${HELP2MAN} --no-info --version-string=${VERSION} --name=${name_line}
    --include=${OUT_DIR}/${page}.h2m --output=${roff} "${program}")
  file(READ ${roff} text)
  # A command's page is named velmoran-<command>, as man and whatis look it up.
  string(TOUPPER "${page}" title)
  string(REGEX REPLACE "\n\\.TH [^ ]+ " "\n.TH ${title} " text "${text}")
  string(JOIN " " shown velmoran ${ARGN})
  string(REPLACE "\n${shown} \\- " "\n${page} \\- " text "${text}")
  file(WRITE ${roff} "${text}")
  run(${GZIP} -9nf ${roff})
endfunction()

set(see_also "\\fBvelmoran\\fR(1)")
foreach(command IN LISTS commands)
  string(APPEND see_also ", \\fBvelmoran-${command}\\fR(1)")
endforeach()

file(WRITE ${OUT_DIR}/velmoran.h2m "[SEE ALSO]\n${see_also}\n")
help2man(velmoran "${summary}")
foreach(command IN LISTS commands)
  file(WRITE ${OUT_DIR}/velmoran-${command}.h2m "[SEE ALSO]\n${see_also}\n")
  help2man(velmoran-${command} "${description_${command}}" ${command})
endforeach()
list(JOIN commands ", " listed)
message(STATUS "manual pages: velmoran and ${listed}")
