# Packs the release zip and its SHA256SUMS, the same bytes from one commit
# wherever and whenever it is packed.
#   cmake -DDLL=... -DSOURCE_DIR=... -DSTAGE_DIR=... -DZIP=... -DSUMS=... [-DZIP_TOOL=zip]
#         [-DSIGN_TOOL=osslsigncode] -P release_zip.cmake
# $QUILLON_DIST_DIR, when set, is the folder the zip and SHA256SUMS go to
# instead of ZIP's and SUMS's.
# Every file's time is the release time: $SOURCE_DATE_EPOCH when set, else the
# commit's time, else (a checkout without git) 1980-01-01, the earliest time a
# zip entry can hold. Zip keeps local times in 2-second steps, so the time is
# taken even and packed in UTC.
# With QUILLON_SIGN_CERT and QUILLON_SIGN_KEY in the environment, the
# release's copy of the DLL is signed with Authenticode, SHA-256, dated with
# the release time; the DLL the build made is left as it was.
#   QUILLON_SIGN_CERT            the certificate in PEM, or its chain with the
#                                signer's first
#   QUILLON_SIGN_KEY             the signer's unencrypted private key in PEM, or
#                                a pkcs11: URI naming it in a token
#   QUILLON_SIGN_PKCS11_MODULE   the token's PKCS#11 library, with a URI only
#   QUILLON_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping service that
#                                countersigns the signature
# Without a timestamp one key gives the same bytes every time; a timestamp
# holds the time it was asked for, so every signing differs.

foreach(var DLL SOURCE_DIR STAGE_DIR ZIP SUMS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "release_zip: ${var} is not set")
  endif()
endforeach()
if(NOT DEFINED ZIP_TOOL)
  set(ZIP_TOOL zip)
endif()
if(NOT "$ENV{QUILLON_DIST_DIR}" STREQUAL "")
  if(NOT IS_ABSOLUTE "$ENV{QUILLON_DIST_DIR}")
    message(FATAL_ERROR "release_zip: QUILLON_DIST_DIR '$ENV{QUILLON_DIST_DIR}' is not an absolute path")
  endif()
  get_filename_component(zip_name "${ZIP}" NAME)
  get_filename_component(sums_name "${SUMS}" NAME)
  set(ZIP "$ENV{QUILLON_DIST_DIR}/${zip_name}")
  set(SUMS "$ENV{QUILLON_DIST_DIR}/${sums_name}")
endif()
# A zip left by an earlier packing goes first, so a packing that fails leaves
# none that could pass for its own.
file(REMOVE "${ZIP}" "${SUMS}")

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  if(NOT git_status EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 315532800)
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "release_zip: SOURCE_DATE_EPOCH '${epoch}' is not a number of seconds")
endif()
math(EXPR epoch "${epoch} - ${epoch} % 2")

set(sign_cert "$ENV{QUILLON_SIGN_CERT}")
set(sign_key "$ENV{QUILLON_SIGN_KEY}")
set(sign_module "$ENV{QUILLON_SIGN_PKCS11_MODULE}")
set(sign_tsa "$ENV{QUILLON_SIGN_TIMESTAMP_URL}")
if(NOT "${sign_cert}${sign_key}${sign_module}${sign_tsa}" STREQUAL "")
  # Part of a signing setup is a mistake, not a wish for an unsigned release.
  # The key itself is never shown: a URI may hold the token's PIN.
  if(sign_cert STREQUAL "" OR sign_key STREQUAL "")
    message(FATAL_ERROR "release_zip: a QUILLON_SIGN_ variable is set, but signing needs both "
                        "QUILLON_SIGN_CERT and QUILLON_SIGN_KEY")
  endif()
  if(NOT SIGN_TOOL)
    message(FATAL_ERROR "release_zip: signing needs osslsigncode (scripts/setup.sh installs it)")
  endif()
  if(sign_key MATCHES "^pkcs11:")
    if(sign_module STREQUAL "")
      message(FATAL_ERROR "release_zip: QUILLON_SIGN_KEY is a PKCS#11 URI; set "
                          "QUILLON_SIGN_PKCS11_MODULE to the token's PKCS#11 library")
    endif()
    if(NOT EXISTS "${sign_module}" OR IS_DIRECTORY "${sign_module}")
      message(FATAL_ERROR "release_zip: the PKCS#11 module '${sign_module}' "
                          "(QUILLON_SIGN_PKCS11_MODULE) is not a file")
    endif()
  elseif(NOT sign_module STREQUAL "")
    message(FATAL_ERROR "release_zip: QUILLON_SIGN_PKCS11_MODULE is set, but QUILLON_SIGN_KEY "
                        "is not a pkcs11: URI")
  endif()
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "release_zip: '${ARGN}' failed: ${status}")
  endif()
endfunction()

# Fixed modes too: the zip keeps them, and a umask would change them.
file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}")
get_filename_component(zip_dir "${ZIP}" DIRECTORY)
file(MAKE_DIRECTORY "${zip_dir}")
set(mode FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
get_filename_component(dll_name "${DLL}" NAME)
if(sign_cert STREQUAL "")
  file(COPY "${DLL}" DESTINATION "${STAGE_DIR}" ${mode})
else()
  # Signed into a folder of its own, then copied: osslsigncode makes its
  # output with the umask's mode, which the zip would keep.
  file(MAKE_DIRECTORY "${STAGE_DIR}/signed")
  # Through a token, the key is loaded by OpenSSL's pkcs11 engine, which
  # osslsigncode finds in OpenSSL's engine folder by itself.
  # A URI's attributes are parted by semicolons, which a CMake list would
  # take for its own.
  foreach(var sign_cert sign_key sign_module sign_tsa)
    string(REPLACE ";" "\\;" ${var}_arg "${${var}}")
  endforeach()
  set(args -certs "${sign_cert_arg}" -key "${sign_key_arg}" -h sha256 -time ${epoch})
  if(NOT sign_module STREQUAL "")
    list(APPEND args -pkcs11module "${sign_module_arg}")
  endif()
  if(NOT sign_tsa STREQUAL "")
    list(APPEND args -ts "${sign_tsa_arg}")
  endif()
  execute_process(COMMAND ${SIGN_TOOL} sign ${args} -in "${DLL}"
                          -out "${STAGE_DIR}/signed/${dll_name}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(NOT status EQUAL 0)
    # osslsigncode repeats the key it failed to load, PIN included.
    string(REGEX REPLACE "pin-value=[^;?&\r\n\t ]*" "pin-value=(hidden)" said "${said}")
    if(said MATCHES "Unable to load module")
      set(why "the PKCS#11 module '${sign_module}' (QUILLON_SIGN_PKCS11_MODULE) does not load")
    elseif(said MATCHES "timestamping failed")
      string(CONCAT why "the time-stamping service '${sign_tsa}' (QUILLON_SIGN_TIMESTAMP_URL) "
                        "did not answer with a timestamp")
    else()
      set(why "signing failed")
    endif()
    message(FATAL_ERROR "release_zip: ${why}; no release was packed. osslsigncode said:\n${said}")
  endif()
  file(COPY "${STAGE_DIR}/signed/${dll_name}" DESTINATION "${STAGE_DIR}" ${mode})
  file(REMOVE_RECURSE "${STAGE_DIR}/signed")
endif()
file(COPY "${SOURCE_DIR}/packaging/INSTALL.txt" DESTINATION "${STAGE_DIR}" ${mode})
file(COPY "${SOURCE_DIR}/LICENSE" DESTINATION "${STAGE_DIR}" ${mode})
file(RENAME "${STAGE_DIR}/LICENSE" "${STAGE_DIR}/LICENSE.txt")
set(files "${STAGE_DIR}/${dll_name}" "${STAGE_DIR}/INSTALL.txt" "${STAGE_DIR}/LICENSE.txt")

run(touch -d "@${epoch}" ${files})
# The zip holds no folders (-j) and no Unix owners or extra times (-X); -l
# gives the text files CRLF line ends, which every Windows editor shows. The
# entries go in this order: the plugin, then the two texts.
set(ENV{TZ} UTC)
run(${ZIP_TOOL} -q -j -X "${ZIP}" "${STAGE_DIR}/${dll_name}")
run(${ZIP_TOOL} -q -j -X -l "${ZIP}" "${STAGE_DIR}/INSTALL.txt"
    "${STAGE_DIR}/LICENSE.txt")

get_filename_component(zip_name "${ZIP}" NAME)
file(SHA256 "${ZIP}" zip_sum)
file(SHA256 "${STAGE_DIR}/${dll_name}" dll_sum)
file(WRITE "${SUMS}" "${zip_sum}  ${zip_name}\n${dll_sum}  ${dll_name}\n")
message(STATUS "release_zip: packed ${ZIP}")
