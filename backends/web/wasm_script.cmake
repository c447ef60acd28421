# Writes a module's wasm as a script (hex text in LumivexWasm[NAME]) for pages opened from
# file://, where the browser will not fetch the .wasm file itself.
# -DWASM=x.wasm -DNAME=lumivex-web -DOUT=site/lumivex-web.wasm.js
file(READ ${WASM} hex HEX)
file(WRITE ${OUT} "// ${NAME}.wasm as hex text, for pages opened from file://.\n"
     "(window.LumivexWasm = window.LumivexWasm || {})[\"${NAME}\"] = \"${hex}\";\n")
