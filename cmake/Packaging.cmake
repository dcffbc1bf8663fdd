# The Debian package (make deb): what it is called, what it needs and what it tells the
# package manager. Library dependencies are computed from the binaries; the media plugins and
# the display plugins, which the binaries load at run time, are named here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quellbrook)
set(CPACK_PACKAGE_CONTACT "Quellbrook <tarnwick@quellbrook.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut MPEG program streams without re-encoding")
# No line may begin with a dot: the control file would take it for a paragraph mark.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarnwick cuts MPEG-1 and MPEG-2 program streams, such as .mpg, .mpeg and\n"
    "DVD-style .vob files, without decoding them: one clip between two times, a\n"
    "number of pieces of equal size, or pieces of a given number of seconds. Cuts\n"
    "fall on pack boundaries and the outputs are plain copies of the source's\n"
    "bytes.\n"
    "\n"
    "The package holds the desktop program, with its preview player, and\n"
    "tarnwick-cli, which runs the same cuts from scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quellbrook.example/index.htm")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the display plugins Qt cannot open a window; without these GStreamer plugins the
# preview and the duration of a file cannot be had (-bad demultiplexes, -ugly decodes MPEG-2).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-libav, qt6-wayland, xdg-utils, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
