# Writes sw.js into DIR from TEMPLATE: the files it keeps for offline play,
# each with the SHA-256 of its bytes, and its cache named for the project's
# VERSION and a hash of those files, so each build that changes one of them
# brings a new cache.
set(files index.html talvo.js talvo.wasm manifest.webmanifest talvo.png talvo-192.png talvo-512.png talvo-maskable.png)
set(hashes "")
set(TALVO_WEB_FILES "")
foreach(file IN LISTS files)
  file(SHA256 "${DIR}/${file}" hash)
  string(APPEND hashes "${hash} ${file}\n")
  string(APPEND TALVO_WEB_FILES "\n  \"${file}\": \"${hash}\",")
endforeach()
string(REGEX REPLACE ",$" "\n" TALVO_WEB_FILES "${TALVO_WEB_FILES}")
string(SHA256 all "${hashes}")
string(SUBSTRING "${all}" 0 16 all)
set(TALVO_WEB_VERSION "${VERSION}-${all}")
configure_file("${TEMPLATE}" "${DIR}/sw.js" @ONLY)
