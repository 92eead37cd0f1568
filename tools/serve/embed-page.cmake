# Writes OUT, a C++ source defining kPageHtml as the text of IN.
file(READ ${IN} page)
set(delimiter "korva_page")
string(FIND "${page}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} holds the raw string's closing delimiter")
endif()
file(WRITE ${OUT}.tmp "// Made from page.html by embed-page.cmake.\n#include \"page.h\"\n\n"
     "const char *const kPageHtml = R\"${delimiter}(${page})${delimiter}\";\n")
file(RENAME ${OUT}.tmp ${OUT})
