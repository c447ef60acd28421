# Writes the site's service worker: sw.js with the list of the site's files and a cache named by
# the release version and a hash of those files' content, so that a new release is a new cache.
# -DTEMPLATE=sw.js -DOUT=site/sw.js -DSITE=site -DFILES=a,b,... -DVERSION=x.y.z
cmake_minimum_required(VERSION 3.16)
string(REPLACE "," ";" FILES "${FILES}")
set(hashes "")
set(quoted "\"./\"")
foreach(name IN LISTS FILES)
  file(SHA256 ${SITE}/${name} hash)
  string(APPEND hashes "${name} ${hash}\n")
  string(APPEND quoted ", \"${name}\"")
endforeach()
string(SHA256 content "${hashes}")
string(SUBSTRING ${content} 0 16 content)
file(READ ${TEMPLATE} text)
string(REPLACE "@CACHE@" "lumivex-${VERSION}-${content}" text "${text}")
string(REPLACE "@FILES@" "${quoted}" text "${text}")
file(WRITE ${OUT} "${text}")
