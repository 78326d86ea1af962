# Writes the browser build's service worker (web/sw.js.in) into the site: its version is a digest of
# every file it keeps, so that any change to the page, the script, the program or a map makes a new
# version, and the script's and the program's own digests let it refuse a mixed pair.
#   cmake -DSITE=DIR -DTEMPLATE=web/sw.js.in -P cmake/web_service_worker.cmake
file(GLOB maps RELATIVE "${SITE}" "${SITE}/maps/*")
list(SORT maps)
set(files index.html vantor.js vantor.wasm favicon.png manifest.webmanifest icon-192.png icon-512.png ${maps})
set(all "")
set(quoted "")
foreach(name IN LISTS files)
    if(NOT EXISTS "${SITE}/${name}")
        message(FATAL_ERROR "the site has no ${name}")
    endif()
    file(SHA256 "${SITE}/${name}" digest)
    string(APPEND all "${digest} ${name}\n")
    string(APPEND quoted "\"${name}\", ")
endforeach()
string(SHA256 VERSION "${all}")
string(SUBSTRING "${VERSION}" 0 16 VERSION)
string(REGEX REPLACE ", $" "" FILES "${quoted}")
file(SHA256 "${SITE}/vantor.js" JS_SHA256)
file(SHA256 "${SITE}/vantor.wasm" WASM_SHA256)
configure_file("${TEMPLATE}" "${SITE}/sw.js" @ONLY)
