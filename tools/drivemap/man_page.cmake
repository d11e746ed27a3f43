# Writes drivemap(1) from drivemap's own help, so that the manual says what --help says:
#   cmake -DDRIVEMAP=<drivemap> -DOUTPUT=<drivemap.1> -P man_page.cmake
# The help's "Options of every command" become OPTIONS, each command's help a part of COMMANDS.
cmake_minimum_required(VERSION 3.25)

# Help text as a list of lines. Semicolons would split list elements: they travel as \x01.
string(ASCII 1 kSemicolon)
function(help_lines out)
  execute_process(COMMAND ${DRIVEMAP} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status
                  ENCODING UTF-8)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${DRIVEMAP} ${ARGN} --help failed: ${status}")
  endif()
  string(REPLACE ";" "${kSemicolon}" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text for roff: backslashes escaped, option dashes as minus signs, no control word at a line start.
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|[ ,[])-" "\\1\\\\-" text "${text}")
  string(REGEX REPLACE "(\\\\-)-" "\\1\\\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The items of one help section ("Options:", "Positionals:", ...) as .TP paragraphs. An item is
# "  TERM   DESCRIPTION", its description on the next line when the term is long.
function(section_items out lines heading)
  set(result "")
  set(inside FALSE)
  foreach(line IN LISTS lines)
    if(line STREQUAL heading)
      set(inside TRUE)
    elseif(inside AND line MATCHES "^[^ ]")
      break()
    elseif(inside AND line MATCHES "^  --help ")
      # every command has it: said once in the synopsis
    elseif(inside AND line MATCHES "^  ([^ ].*[^ ]) +  (.+)$")
      roff(term "${CMAKE_MATCH_1}")
      roff(text "${CMAKE_MATCH_2}")
      string(APPEND result ".TP\n.B ${term}\n${text}\n")
    elseif(inside AND line MATCHES "^  ([^ ].*)$")
      roff(term "${CMAKE_MATCH_1}")
      string(APPEND result ".TP\n.B ${term}\n")
    elseif(inside AND line MATCHES "^ +(.+)$")
      roff(text "${CMAKE_MATCH_1}")
      string(APPEND result "${text}\n")
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${DRIVEMAP} --version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
help_lines(top)
list(GET top 0 summary)
string(REGEX REPLACE "^drivemap: " "" summary "${summary}")

set(page ".TH DRIVEMAP 1 \"\" \"${version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\ndrivemap \\- ${summary}\n")
string(APPEND page ".SH SYNOPSIS\n.B drivemap\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR] [\\fIOPTIONS\\fR]\n")
string(APPEND page ".br\n.B drivemap\n\\-\\-version | \\-\\-help | help [\\fICOMMAND\\fR] | \\fICOMMAND\\fR \\-\\-help\n")
string(APPEND page ".SH DESCRIPTION\ndrivemap ${summary}.\nOptions may come before or after the command.\n")
section_items(options "${top}" "Options of every command:")
string(APPEND page ".SH OPTIONS\n${options}")

string(APPEND page ".SH COMMANDS\n")
set(inside FALSE)
foreach(line IN LISTS top)
  if(line STREQUAL "Subcommands:")
    set(inside TRUE)
  elseif(inside AND line MATCHES "^  ([a-z]+) ")
    set(command ${CMAKE_MATCH_1})
    help_lines(lines ${command})
    list(GET lines 0 description)
    list(GET lines 1 usage)
    string(REGEX REPLACE "^Usage: " "" usage "${usage}")
    roff(usage "${usage}")
    roff(description "${description}")
    section_items(positionals "${lines}" "Positionals:")
    section_items(own "${lines}" "Options:")
    string(APPEND page ".SS ${command}\n.B ${usage}\n.PP\n${description}\n${positionals}${own}")
  elseif(inside AND line STREQUAL "")
    break()
  endif()
endforeach()

string(APPEND page [=[
.SH EXIT STATUS
0 when a query found something and a change was made; 1 when a query found nothing or the
library refused; 2 for usage errors; 3 for a damaged map file.
.SH FILES
.TP
.I $XDG_DATA_HOME/drivemap/PWDRVMAP.DAT
the saved map (the state directory, ~/.local/share/drivemap when XDG_DATA_HOME is unset)
.TP
.I $XDG_DATA_HOME/drivemap/PURGWELL.DAT
the settings data file, the default put there by the first command that writes
]=])
string(REPLACE "${kSemicolon}" ";" page "${page}")
file(WRITE ${OUTPUT} "${page}")
