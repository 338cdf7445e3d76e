# The hardening Debian gives its own package builds (dpkg-buildflags with hardening=+all):
# fortified libc calls, a strong stack protector, format strings checked, and a relocation
# table that is resolved at start and then made read-only. The sanitizer and fuzzing builds
# are left without: the sanitizers do the checking there, and fortification gets in their way.
if(NOT ORVIK_SANITIZE AND NOT ORVIK_FUZZ)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
    # Fortification needs the optimiser, which only these configurations run.
    set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    add_compile_definitions($<${optimised}:_FORTIFY_SOURCE=2>)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    include(CheckPIESupported)
    check_pie_supported()
endif()
