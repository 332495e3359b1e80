# The Debian package, built by CPack (scripts/package.sh). Its dependencies are computed by
# dpkg-shlibdeps from what the installed programs link, so they never go stale.
set(CPACK_PACKAGE_NAME brennix)
set(CPACK_PACKAGE_VENDOR "The Brennix developers")
set(CPACK_PACKAGE_CONTACT "The Brennix developers <brennix@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write files and folders to CDs and DVDs")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Brennix writes data CDs and DVDs: it builds an ISO 9660 image with a Joliet tree of long\n"
    "names from the files and folders you queue and writes it in one recording through SCSI\n"
    "Multi-Media Commands. It blanks and formats rewritable discs, loads and ejects the tray,\n"
    "and writes ISO images to files. The package holds the desktop application (brennix) and\n"
    "the command-line program (brennix-cli).")
# The version every other place shows: the project's (brennix_version.h, the manual pages, the
# software-centre entry).
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# brennix-cli's completion is installed either way; it only works with bash-completion.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
include(CPack)
