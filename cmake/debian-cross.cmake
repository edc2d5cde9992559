# What every cross build for a Debian architecture shares: Debian's cross compilers, the
# target's libraries and Qt from the multiarch folders, the build machine's moc, rcc and uic,
# and qemu to run what was built (the build's own tools and ctest's tests).
# The file naming the target sets BEAMCLOCK_TRIPLET, BEAMCLOCK_DEB_ARCH and BEAMCLOCK_QEMU.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${BEAMCLOCK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${BEAMCLOCK_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${BEAMCLOCK_TRIPLET})

# The library architecture sends find_package and find_library to the target's multiarch
# folders (/usr/lib/TRIPLET); pkg-config is told the same.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${BEAMCLOCK_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# Qt's code generators run on the build machine: Debian's amd64 Qt has the same version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# No -L /usr/TRIPLET: the target's C library and loader are installed in their multiarch
# places, and the cross compiler's copy of the C library beside Qt's makes programs crash.
set(CMAKE_CROSSCOMPILING_EMULATOR ${BEAMCLOCK_QEMU})
