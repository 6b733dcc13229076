# Writes the npm package orv-engine into OUT/package and packs it with npm into OUT:
#   cmake -DENGINE=orv_web.js -DSOURCES=src/web/npm -DLICENSE=LICENSE -DVERSION=X.Y.Z -DNPM=npm -DOUT=dir -P pack.cmake
# The ES module is orv_web.js itself inside a function (see orv_engine.mjs.in), so it is the very
# engine that the studio inlines.
set(package "${OUT}/package")
file(REMOVE_RECURSE "${package}")
file(MAKE_DIRECTORY "${package}")

file(READ "${ENGINE}" engine)
file(READ "${SOURCES}/orv_engine.mjs.in" module)
string(FIND "${module}" "//@ENGINE@\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${SOURCES}/orv_engine.mjs.in has no line //@ENGINE@ to put the engine at")
endif()
string(REPLACE "//@ENGINE@\n" "${engine}\n" module "${module}")
file(WRITE "${package}/orv_engine.mjs" "${module}")

configure_file("${SOURCES}/package.json.in" "${package}/package.json" @ONLY)
file(COPY "${SOURCES}/orv_engine.d.ts" "${SOURCES}/README.md" "${LICENSE}" DESTINATION "${package}")

file(GLOB old "${OUT}/orv-engine-*.tgz")
if(old)
  file(REMOVE ${old})
endif()
execute_process(COMMAND "${NPM}" pack --silent --pack-destination "${OUT}" WORKING_DIRECTORY "${package}"
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "npm pack failed in ${package} (status ${failed})")
endif()
