# Every external library comes from a Debian package installed by scripts/setup.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(ICU 72 REQUIRED COMPONENTS uc i18n)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)
pkg_check_modules(OPENBLAS REQUIRED IMPORTED_TARGET openblas)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
# The sound server client for live capture (PulseAudio, or PipeWire's Pulse server).
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
# The loopback servers of the tests (fake model hub).
if(VELMORA_BUILD_TESTS OR VELMORA_FUZZ)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
