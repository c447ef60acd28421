# Writes the shipped definition file as a script for the pages: LumivexGallery, a JSON string.
file(READ ${INI} text)
string(REPLACE "\\" "\\\\" text "${text}")
string(REPLACE "\"" "\\\"" text "${text}")
string(REPLACE "\r" "\\r" text "${text}")
string(REPLACE "\n" "\\n" text "${text}")
string(REPLACE "</" "<\\/" text "${text}")
file(WRITE ${OUT} "// The shipped gallery (resources/lumivex.ini), written at build time.\nvar LumivexGallery = \"${text}\";\n")
