# The Debian package of the command-line tool: `make package` writes
# build/package/vexmira_VERSION_ARCH.deb. Library dependencies are computed
# by dpkg-shlibdeps, not typed here. CPack indents the description's lines
# itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexmira)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vexmira developers")
set(CPACK_PACKAGE_CONTACT "Vexmira developers <dev@vexmira.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vexmira.invalid/")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
 "list archive entries and find archives embedded in other files
vexmira lists the entries of multi-file compressed archives (name, size,
percentage compressed, lock state, method) from their headers alone, and
finds such archives embedded in installers and other carriers. It is safe on
hostile files, streams listings of any size in bounded memory, examines
whole collections in parallel, tells trailing data apart from the archive,
and carves archives at their exact length.
.
Output is a table for people or JSON lines following a versioned schema.
Signatures for file(1), YARA and binwalk are included.")
include(CPack)
