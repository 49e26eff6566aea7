# SPDX-License-Identifier: MIT
# The libraries the MinGW build links statically, built from Debian's source
# packages for bookworm: source package, upstream version, and the SHA256 of
# its upstream (orig) tarball as Debian ships it.
#
# What is pinned is the upstream code, not the Debian revision. Debian's
# security updates to a stable release keep the orig tarball and add patches
# under a new revision (3.6.2-1+deb12u4, then +deb12u5), and the archive drops
# the older revision once the new one is out. So the build takes the newest
# revision apt offers of the pinned upstream version, checks its orig tarball
# against the hash here, and applies that revision's patches: a security
# update is picked up (the cache is rebuilt, see MingwDeps.cmake) instead of
# breaking the build, and the code is still the reviewed upstream release.
# Should Debian move a package to a new upstream version, the build stops
# and names it; the pin is then updated here, by hand, after a look at the
# new release.
set(TAPNAMES_DEPS_PACKAGES zlib bzip2 xz-utils libzstd lz4 libarchive sqlite3 xxhash)

set(TAPNAMES_DEPS_zlib_VERSION 1.2.13.dfsg)
set(TAPNAMES_DEPS_zlib_SHA256 71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1)
set(TAPNAMES_DEPS_bzip2_VERSION 1.0.8)
set(TAPNAMES_DEPS_bzip2_SHA256 ab5a03176ee106d3f0fa90e381da478ddae405918153cca248e682cd0c4a2269)
set(TAPNAMES_DEPS_xz-utils_VERSION 5.4.1)
set(TAPNAMES_DEPS_xz-utils_SHA256 5d9827aa1875b21c288f78864bb26d2650b436ea8d2cad364e4921eb6266a5a5)
set(TAPNAMES_DEPS_libzstd_VERSION 1.5.4+dfsg2)
set(TAPNAMES_DEPS_libzstd_SHA256 8cf4bbb65e77ec348d052c8d6230eba66d435bddf64c8b5be2fcb16880c19953)
set(TAPNAMES_DEPS_lz4_VERSION 1.9.4)
set(TAPNAMES_DEPS_lz4_SHA256 0b0e3aa07c8c063ddf40b082bdf7e37a1562bda40a0ff5272957f3e987e0e54b)
set(TAPNAMES_DEPS_libarchive_VERSION 3.6.2)
set(TAPNAMES_DEPS_libarchive_SHA256 9e2c1b80d5fbe59b61308fdfab6c79b5021d7ff4ff2489fb12daf0a96a83551d)
set(TAPNAMES_DEPS_sqlite3_VERSION 3.40.1)
set(TAPNAMES_DEPS_sqlite3_SHA256 aaa776260ab4dc976db34aa7891819484c8676b5b2783123ebc6301e2ca5d655)
set(TAPNAMES_DEPS_xxhash_VERSION 0.8.1)
set(TAPNAMES_DEPS_xxhash_SHA256 3bb6b7d6f30c591dd65aaaff1c8b7a5b94d81687998ca9400082c739a690436c)
