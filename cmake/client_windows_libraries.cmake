# The reference client's libraries for the Windows cross build, under the names that its
# POSIX build finds in Debian's packages: zlib from mingw's Debian package, and pugixml
# compiled from Debian's source package, which `scripts/deps.sh --test` unpacks into
# third_party/debian-src. Nothing is downloaded here.
set(VARNEX_DEBIAN_SOURCES ${PROJECT_SOURCE_DIR}/third_party/debian-src CACHE PATH
    "Where scripts/deps.sh --test unpacked Debian's source package of pugixml")
set(pugixml_source ${VARNEX_DEBIAN_SOURCES}/pugixml/src)
if(NOT EXISTS ${pugixml_source}/pugixml.cpp)
  message(FATAL_ERROR "The Windows client is built from Debian's source of pugixml, which is "
          "not in ${VARNEX_DEBIAN_SOURCES}: run scripts/deps.sh --test "
          "(or configure with -DVARNEX_BUILD_TOOLS=OFF).")
endif()

add_library(varnex_pugixml STATIC ${pugixml_source}/pugixml.cpp)
target_include_directories(varnex_pugixml SYSTEM PUBLIC ${pugixml_source})
# Another project's code: no warnings of ours, and no debug information to make.
target_compile_options(varnex_pugixml PRIVATE -w -g0)
set(PUGIXML_INCLUDE_DIR ${pugixml_source})
set(PUGIXML_LIBRARY varnex_pugixml)

# Linked statically like everything else: the zip carries no DLL.
find_library(ZLIB_STATIC_LIBRARY libz.a REQUIRED)
find_path(ZLIB_HEADERS zlib.h REQUIRED)
add_library(ZLIB::ZLIB STATIC IMPORTED)
set_target_properties(ZLIB::ZLIB PROPERTIES IMPORTED_LOCATION ${ZLIB_STATIC_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${ZLIB_HEADERS})
