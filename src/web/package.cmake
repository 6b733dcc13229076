# The web engine inside the Python package (orv/studio/orv_web.js, which `orv studio` inlines). It is
# built by emscripten as a build of its own, this source tree configured with ORV_BUILD_WEB, under
# the package's build folder (incremental); only orv_web.js is made there, not the npm package.
if(ORV_PACKAGE_WEB STREQUAL "OFF")
  return()
endif()
find_program(ORV_EMCMAKE emcmake)
if(NOT ORV_EMCMAKE)
  set(hint "install Debian's emscripten and node-acorn (bash scripts/setup.sh does) and build again")
  if(ORV_PACKAGE_WEB STREQUAL "ON")
    message(FATAL_ERROR "ORV_PACKAGE_WEB is ON but emscripten (emcmake) is not installed: ${hint}")
  endif()
  message(WARNING "orv: emscripten (emcmake) is not installed, so this package is built without the web "
                  "engine and `orv studio` will need ORV_WEB_ENGINE; to include it, ${hint}")
  return()
endif()

include(ExternalProject)
# scripts/wheel.sh points this at scripts/web.sh's build/web, which the same tools configure alike.
set(ORV_WEB_BUILD "${CMAKE_BINARY_DIR}/web" CACHE PATH "The build folder of the web engine put in the package")
ExternalProject_Add(orv_web_engine
  SOURCE_DIR "${PROJECT_SOURCE_DIR}"
  BINARY_DIR "${ORV_WEB_BUILD}"
  CONFIGURE_COMMAND "${ORV_EMCMAKE}" "${CMAKE_COMMAND}" -S <SOURCE_DIR> -B <BINARY_DIR> -G "${CMAKE_GENERATOR}"
    "-DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}" -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_WEB=ON -DORV_BUILD_MODULE=OFF
    "-DORV_JSON_INCLUDE_DIR=${ORV_JSON_INCLUDE_DIR}"
  BUILD_COMMAND "${CMAKE_COMMAND}" --build <BINARY_DIR> --target orv_web
  BUILD_ALWAYS ON  # the web build itself decides what is out of date
  INSTALL_COMMAND "")
install(FILES "${ORV_WEB_BUILD}/src/web/orv_web.js" DESTINATION orv/studio)
