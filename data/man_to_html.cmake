# Renders a manual page as an HTML page of plain text, so that the desktop's Help finds the
# manual offline in any browser: cmake -DGROFF=... -DPAGE=x.1 -DTITLE=... -DOUT=x.html -P this
execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou -rLL=78n ${PAGE}
                OUTPUT_VARIABLE text RESULT_VARIABLE failed
                ENCODING UTF-8)
if(failed)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
foreach(part text TITLE)
  string(REPLACE "&" "&amp;" ${part} "${${part}}")
  string(REPLACE "<" "&lt;" ${part} "${${part}}")
  string(REPLACE ">" "&gt;" ${part} "${${part}}")
endforeach()
file(WRITE ${OUT} "<!DOCTYPE html>
<html lang=\"en\"><head><meta charset=\"utf-8\"><title>${TITLE}</title></head>
<body><pre>${text}</pre></body></html>
")
