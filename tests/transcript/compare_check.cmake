# Checks that `transcript --compare` (TRANSCRIPT) accepts exactly what it
# should, on variants of the transcript FILE written into DIR:
#   "\r\n" line ends                      agree
#   an output double 1 ulp off            differ
#   a printed line changed                differ
file(READ ${FILE} text)

# The first line of the transcript matching `regex`, with its "\n" on both sides.
function(first_line regex var)
  string(REGEX MATCH "\n${regex}\n" line "${text}")
  if(NOT line)
    message(FATAL_ERROR "${FILE} has no line ${regex}")
  endif()
  set(${var} "${line}" PARENT_SCOPE)
endfunction()

string(REPLACE "\n" "\r\n" crlf "${text}")
file(WRITE ${DIR}/crlf.txt "${crlf}")

# The lowest bit of a double's last hexadecimal digit flipped: 1 ulp.
first_line("mh [0-9]+ [0-9a-f]+" line)
string(LENGTH "${line}" len)
math(EXPR at "${len} - 2")
string(SUBSTRING "${line}" ${at} 1 digit)
set(digits 0123456789abcdef)
string(FIND ${digits} ${digit} k)
math(EXPR k "${k} ^ 1")
string(SUBSTRING ${digits} ${k} 1 other)
string(SUBSTRING "${line}" 0 ${at} head)
string(REPLACE "${line}" "${head}${other}\n" ulp "${text}")
file(WRITE ${DIR}/ulp.txt "${ulp}")

first_line("out [^\n]*" printed)
string(REPLACE "${printed}" "\nout something else\n" changed "${text}")
file(WRITE ${DIR}/printed.txt "${changed}")

function(expect want)
  execute_process(COMMAND ${TRANSCRIPT} --compare ${FILE} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL want)
    message(FATAL_ERROR "transcript --compare ${FILE} ${ARGN} gave ${rc}, not ${want}:\n${out}")
  endif()
endfunction()
expect(0 ${DIR}/crlf.txt)
expect(1 ${DIR}/ulp.txt)
expect(1 ${DIR}/printed.txt)
