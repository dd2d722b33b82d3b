# Run by `make install` (python/CMakeLists.txt sets the ZEFA_PY_ variables):
# puts the package zefa where the prefix's Python looks for packages, with
# a module _installed.py that tells it where the library went.
if(ZEFA_PY_DIR)
  set(dir "${ZEFA_PY_DIR}")
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  set(dir lib/python3/dist-packages)
elseif(CMAKE_INSTALL_PREFIX MATCHES "^/usr/local/?$")
  set(dir lib/python${ZEFA_PY_VERSION}/dist-packages)
else()
  set(dir lib/python${ZEFA_PY_VERSION}/site-packages)
endif()
if(NOT IS_ABSOLUTE "${dir}")
  set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
endif()
set(libdir "${ZEFA_PY_LIBDIR}")
if(NOT IS_ABSOLUTE "${libdir}")
  set(libdir "${CMAKE_INSTALL_PREFIX}/${libdir}")
endif()

# relative first, so that a moved tree keeps working
file(RELATIVE_PATH relative "${dir}/zefa" "${libdir}/${ZEFA_PY_SONAME}")
file(WRITE "${ZEFA_PY_STAGE}/_installed.py"
  "# Written by make install: where libzefa was installed, from this folder and as a path.\n"
  "LIBRARY = \"${relative}\"\n"
  "LIBRARY_ABSOLUTE = \"${libdir}/${ZEFA_PY_SONAME}\"\n")
file(INSTALL ${ZEFA_PY_SOURCES} "${ZEFA_PY_STAGE}/_installed.py" DESTINATION "${dir}/zefa")

# Debian's interpreters look in /usr/lib/python3/dist-packages,
# /usr/local/lib/python3.X/dist-packages and ~/.local/lib/python3.X/site-packages.
if(NOT dir MATCHES "^(/usr/lib/python3/dist-packages|/usr/local/lib/python3[.0-9]*/dist-packages)$"
   AND NOT dir STREQUAL "$ENV{HOME}/.local/lib/python${ZEFA_PY_VERSION}/site-packages")
  message(STATUS "The Python package zefa is in ${dir}: add that folder to PYTHONPATH to import it")
endif()
