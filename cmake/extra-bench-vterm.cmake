# bench_vterm_throughput: libvterm parsing the stream of the terminal
# throughput benchmark, for comparison.  Built only where libvterm's
# development files are installed (Debian's libvterm-dev); nothing else uses
# the library.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(KAVEL_BENCH_VTERM QUIET IMPORTED_TARGET vterm)
endif()
if(KAVEL_BENCH_VTERM_FOUND)
  add_executable(bench_vterm_throughput EXCLUDE_FROM_ALL
                 ${CMAKE_SOURCE_DIR}/bench/vterm/vterm_throughput.cpp)
  target_link_libraries(bench_vterm_throughput PRIVATE PkgConfig::KAVEL_BENCH_VTERM)
  add_dependencies(benches bench_vterm_throughput)
endif()
