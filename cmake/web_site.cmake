# Writes the browser's site around the program (run by cmake/web.cmake after
# each link): the page's files from web/; the music beside the program under
# a name that changes only with its content, so that browsers and hosts keep
# it across builds; and index.html with what the page must know of the build:
# its version (asked for with each file of code, so no cache mixes two
# builds), the program's size, and the music's file and size.
#
#   cmake -DSOURCE=<repository> -DSITE=<site folder> -P cmake/web_site.cmake
set(music ${SOURCE}/assets/music/tune.mp3)
file(SHA256 ${music} music_hash)
string(SUBSTRING ${music_hash} 0 16 music_id)
set(QUEX_MUSIC_FILE tune.${music_id}.mp3)
file(SIZE ${music} QUEX_MUSIC_BYTES)
file(GLOB stale ${SITE}/tune.*.mp3)
list(REMOVE_ITEM stale ${SITE}/${QUEX_MUSIC_FILE})
if(stale)
  file(REMOVE ${stale})
endif()
configure_file(${music} ${SITE}/${QUEX_MUSIC_FILE} COPYONLY)

set(code quex_invi.js quex_invi.wasm page.js page.css worklet.js)
foreach(name page.js page.css worklet.js)
  configure_file(${SOURCE}/web/${name} ${SITE}/${name} COPYONLY)
endforeach()
set(hashes "")
foreach(name IN LISTS code)
  file(SHA256 ${SITE}/${name} hash)
  string(APPEND hashes ${hash})
endforeach()
string(SHA256 version "${hashes}")
string(SUBSTRING ${version} 0 16 QUEX_SITE_VERSION)
file(SIZE ${SITE}/quex_invi.wasm QUEX_WASM_BYTES)
configure_file(${SOURCE}/web/index.html ${SITE}/index.html @ONLY)
