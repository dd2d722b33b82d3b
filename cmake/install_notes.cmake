# Run at the end of `make install` (the top CMakeLists.txt sets ZEFA_LIBDIR,
# ZEFA_MANDIR and ZEFA_DATADIR): the environment a prefix outside the
# system's search paths needs, as lines to paste into a shell or ~/.profile.
# Nothing is said into a DESTDIR (a package) or for /usr.
if(NOT "$ENV{DESTDIR}" STREQUAL "" OR CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  return()
endif()
set(p "${CMAKE_INSTALL_PREFIX}")
foreach(d LIBDIR MANDIR DATADIR)
  if(IS_ABSOLUTE "${ZEFA_${d}}")
    set(${d} "${ZEFA_${d}}")
  else()
    set(${d} "${p}/${ZEFA_${d}}")
  endif()
endforeach()
if(p MATCHES "^/usr/local/?$")
  # Debian searches /usr/local for programs, manual pages, pkg-config files,
  # data (XDG_DATA_DIRS) and, after ldconfig, libraries
  message(STATUS "Installed under ${p}.  Programs built against libzefa find it once the linker's cache is renewed:")
  message(STATUS "  sudo ldconfig")
  message(STATUS "and file managers know ZEFA files once the MIME database is rebuilt:")
  message(STATUS "  sudo update-mime-database ${DATADIR}/mime")
  return()
endif()
message(STATUS "Installed under ${p}, where the system does not look by itself.  In a shell (or ~/.profile, to keep):")
message(STATUS "  export PATH=\"${p}/bin:\$PATH\"")
message(STATUS "  export MANPATH=\"${MANDIR}:\$MANPATH\"            # a trailing ':' keeps the system's pages")
message(STATUS "  export PKG_CONFIG_PATH=\"${LIBDIR}/pkgconfig:\$PKG_CONFIG_PATH\"")
message(STATUS "  export LD_LIBRARY_PATH=\"${LIBDIR}:\$LD_LIBRARY_PATH\"  # or link with -Wl,-rpath,${LIBDIR}")
message(STATUS "  export XDG_DATA_DIRS=\"${DATADIR}:\${XDG_DATA_DIRS:-/usr/local/share:/usr/share}\"")
message(STATUS "  update-mime-database ${DATADIR}/mime")
message(STATUS "and QT_PLUGIN_PATH, PYTHONPATH and the GTK loader as told above.  make uninstall removes it all")
message(STATUS "and says what to run then.")
