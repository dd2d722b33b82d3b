# cmake -DQUERY=gdk-pixbuf-query-loaders -DMODULE=module.so -DCACHE=loaders.cache
#       [-DPRELOAD=runtime.so:...] -P query_module.cmake
# Writes a loader cache holding the module, and fails when gdk-pixbuf
# refuses it (its sanity checks only warn).
set(env)
if(PRELOAD)
  # LeakSanitizer would count the query tool's own allocations against us
  set(env ${CMAKE_COMMAND} -E env LD_PRELOAD=${PRELOAD} ASAN_OPTIONS=detect_leaks=0)
endif()
execute_process(COMMAND ${env} ${QUERY} ${MODULE} OUTPUT_VARIABLE cache ERROR_VARIABLE messages
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT cache MATCHES "\"image/x-zefa\"")
  file(REMOVE ${CACHE})
  message(FATAL_ERROR "gdk-pixbuf refused ${MODULE} (status ${status}):\n${messages}")
endif()
file(WRITE ${CACHE} "${cache}")
