# Page scripts that import libraries from the npm registry, bundled at build time by esbuild
# from tools/zorvexplorer/web/node_modules, which scripts/deps.sh installs from the pinned
# lockfile. The build itself downloads nothing.
#
#   varnex_bundle_script(ENTRY <script.js> OUTPUT <bundle.js> [MINIFY] [DEPENDS <file> ...])
#
# The bundle is one self-contained script (an immediately invoked function), for pages that
# must work without any network. A style sheet a script imports comes in as its text.
set(VARNEX_WEB_DIR ${PROJECT_SOURCE_DIR}/tools/zorvexplorer/web)

function(varnex_bundle_script)
  cmake_parse_arguments(B "MINIFY" "ENTRY;OUTPUT" "DEPENDS" ${ARGN})
  set(esbuild ${VARNEX_WEB_DIR}/node_modules/.bin/esbuild)
  if(NOT EXISTS ${esbuild})
    message(FATAL_ERROR "The pages' script libraries are not installed "
                        "(${VARNEX_WEB_DIR}/node_modules): run scripts/deps.sh")
  endif()
  cmake_path(ABSOLUTE_PATH B_ENTRY BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set(options --bundle --format=iife --target=es2020 --charset=utf8 --legal-comments=eof
              --loader:.css=text --log-level=warning)
  if(B_MINIFY)
    list(APPEND options --minify)
  endif()
  add_custom_command(OUTPUT ${B_OUTPUT}
    # Page scripts live beside their pages, outside web/: their bare imports come from
    # web/node_modules.
    COMMAND ${CMAKE_COMMAND} -E env NODE_PATH=${VARNEX_WEB_DIR}/node_modules
            ${esbuild} ${B_ENTRY} ${options} --outfile=${B_OUTPUT}
    DEPENDS ${B_ENTRY} ${B_DEPENDS} ${VARNEX_WEB_DIR}/package-lock.json
    WORKING_DIRECTORY ${VARNEX_WEB_DIR}
    COMMENT "Bundling ${B_ENTRY}" VERBATIM)
endfunction()
