# Run by cpack before it builds a package from a build folder whose prefix is
# not /usr: the unit's ExecStart and the programs' idea of where they are
# installed would name that prefix.
message(FATAL_ERROR "The Debian package needs a build configured with -DCMAKE_INSTALL_PREFIX=/usr")
