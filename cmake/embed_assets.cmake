# Files carried inside a program as data: page style sheets, scripts and bundles.
#
#   varnex_embed_assets(TARGET <target> HEADER <path/of/header.h> NAMESPACE <ns>
#                       ASSETS <symbol> <file> [<symbol> <file> ...])
#
# Declares `extern const std::string_view <symbol>;` for each asset in the generated header
# (included as "<path/of/header.h>") and compiles the file's bytes into <target>. A file may
# itself be a build output (a bundle): the embedding is redone whenever it changes.
set(VARNEX_EMBED_FILE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_file.cmake)

function(varnex_embed_assets)
  cmake_parse_arguments(E "" "TARGET;HEADER;NAMESPACE" "ASSETS" ${ARGN})
  set(generated ${CMAKE_BINARY_DIR}/generated)
  set(header_text "// Generated from the embedded assets' list; do not edit.\n#pragma once\n\n")
  string(APPEND header_text "#include <string_view>\n\nnamespace ${E_NAMESPACE} {\n\n")
  set(sources)
  list(LENGTH E_ASSETS count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET E_ASSETS ${i} symbol)
    list(GET E_ASSETS ${j} file)
    cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    string(APPEND header_text "extern const std::string_view ${symbol};\n")
    set(out ${generated}/${E_HEADER}.${symbol}.cpp)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${out} -DSYMBOL=${symbol}
              -DNAMESPACE=${E_NAMESPACE} -DHEADER=${E_HEADER} -P ${VARNEX_EMBED_FILE_SCRIPT}
      DEPENDS ${file} ${VARNEX_EMBED_FILE_SCRIPT}
      COMMENT "Embedding ${file}" VERBATIM)
    list(APPEND sources ${out})
  endforeach()
  string(APPEND header_text "\n}  // namespace ${E_NAMESPACE}\n")
  # Written only when it changes, so that an unchanged list rebuilds nothing.
  file(CONFIGURE OUTPUT ${generated}/${E_HEADER} CONTENT "${header_text}" @ONLY)
  target_sources(${E_TARGET} PRIVATE ${sources})
  target_include_directories(${E_TARGET} PUBLIC ${generated})
endfunction()
