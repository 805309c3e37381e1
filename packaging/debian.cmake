# The Debian package, made by `cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr (tools/setup.sh package does both).

# Debian wants its documentation files compressed, with no time stamp inside.
find_program(GZIP gzip REQUIRED)
set(tinsoke_gzipped)
foreach(pair "data/pelmora-tinsoke.1;pelmora-tinsoke.1.gz"
        "packaging/changelog;changelog.Debian.gz")
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${target}
        COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/${source} > ${CMAKE_BINARY_DIR}/${target}
        DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND tinsoke_gzipped ${CMAKE_BINARY_DIR}/${target})
endforeach()
add_custom_target(tinsoke_gzipped_docs ALL DEPENDS ${tinsoke_gzipped})

install(FILES ${CMAKE_BINARY_DIR}/pelmora-tinsoke.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/org.example.pelmora_tinsoke.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(tinsoke_docdir ${CMAKE_INSTALL_DATADIR}/doc/pelmora-tinsoke)
install(FILES ${CMAKE_BINARY_DIR}/changelog.Debian.gz packaging/copyright
    DESTINATION ${tinsoke_docdir})

set(CPACK_PACKAGE_NAME pelmora-tinsoke)
set(CPACK_PACKAGE_VENDOR "Pelmora Tinsoke maintainers")
set(CPACK_PACKAGE_CONTACT
    "Pelmora Tinsoke maintainers <maintainers@users.noreply.c-seed-b9724ee4.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "JPEG and PNG optimizer front end")
set(CPACK_PACKAGE_DESCRIPTION
    "Makes JPEG and PNG files smaller by running a chain of command-line\n\
optimizers (jpegtran, jpegoptim, advpng, optipng, pngcrush and others) over\n\
each file, keeping a tool's result only when it is a whole image, smaller\n\
and the same picture. The window is in Japanese; pelmora-tinsoke --run does\n\
the same from scripts, without a display.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libjpeg-turbo-progs, jpegoptim, optipng, pngcrush, advancecomp")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS zopfli)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
