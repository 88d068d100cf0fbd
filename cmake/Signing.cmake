# Authenticode signing of the Windows programs that ship, when a certificate
# is given: as cache values or, where the cache has none, as environment
# variables of the same names when configuring. Only the file names reach the
# build files; the password stays in its file. Without a certificate nothing
# here shows or runs.
set(VARNHOLT_SIGN_PFX "" CACHE FILEPATH "PKCS#12 file to sign the shipped programs with")
set(VARNHOLT_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File whose first line is the PKCS#12 password")
set(VARNHOLT_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signatures (optional)")
set(VARNHOLT_SIGN_URL "" CACHE STRING "Product web address the signatures carry (optional)")

set(varnholt_signing)
foreach(name IN ITEMS VARNHOLT_SIGN_PFX VARNHOLT_SIGN_PASSWORD_FILE VARNHOLT_SIGN_TIMESTAMP_URL VARNHOLT_SIGN_URL)
  set(value "${${name}}")
  if(value STREQUAL "" AND DEFINED ENV{${name}})
    set(value "$ENV{${name}}")
  endif()
  if(name MATCHES "FILE$|PFX$" AND NOT value STREQUAL "" AND NOT IS_ABSOLUTE "${value}")
    # As the one who configures meant it: from the folder they were in.
    get_filename_component(value "${value}" ABSOLUTE BASE_DIR "$ENV{PWD}")
  endif()
  # A custom command splits its arguments at semicolons, quoted or not.
  string(REPLACE ";" "$<SEMICOLON>" argument "${name}=${value}")
  list(APPEND varnholt_signing "${argument}")
  set(varnholt_${name} "${value}")
endforeach()

set(VARNHOLT_SIGNING OFF)
if(WIN32 AND NOT (varnholt_VARNHOLT_SIGN_PFX STREQUAL "" AND varnholt_VARNHOLT_SIGN_PASSWORD_FILE STREQUAL ""))
  # A release must not come out unsigned by a slip: what is missing stops here.
  foreach(file IN ITEMS VARNHOLT_SIGN_PFX VARNHOLT_SIGN_PASSWORD_FILE)
    if(NOT EXISTS "${varnholt_${file}}" OR IS_DIRECTORY "${varnholt_${file}}")
      message(FATAL_ERROR "${file} names no file: '${varnholt_${file}}'")
    endif()
  endforeach()
  find_program(VARNHOLT_OSSLSIGNCODE osslsigncode)
  if(NOT VARNHOLT_OSSLSIGNCODE)
    message(FATAL_ERROR "signing needs osslsigncode (scripts/install-deps.sh installs it)")
  endif()
  set(VARNHOLT_SIGNING ON)
  message(STATUS "Signing the shipped programs with ${varnholt_VARNHOLT_SIGN_PFX}")
elseif(VARNHOLT_SIGNED_BEFORE)
  # A re-run that ninja starts by itself does not see variables given only to
  # the shell that configured: say so rather than relink unsigned in silence.
  message(WARNING "The shipped programs are no longer signed: this build folder was configured with "
                  "a certificate before, and VARNHOLT_SIGN_PFX and VARNHOLT_SIGN_PASSWORD_FILE are not given now.")
endif()
set(VARNHOLT_SIGNED_BEFORE ${VARNHOLT_SIGNING} CACHE INTERNAL "")

# varnholt_sign(TARGET): the target's file is signed as soon as it is linked,
# so whatever uses it afterwards gets the signed one.
function(varnholt_sign target)
  if(VARNHOLT_SIGNING)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E env ${varnholt_signing}
              bash ${PROJECT_SOURCE_DIR}/scripts/sign.sh $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
