# Packs the release zip and its SHA256SUMS, the same bytes from one commit
# wherever and whenever it is packed.
#   cmake -DDLL=... -DSOURCE_DIR=... -DSTAGE_DIR=... -DZIP=... -DSUMS=... [-DZIP_TOOL=zip]
#         [-DSIGN_TOOL=osslsigncode] -P release_zip.cmake
# Every file's time is the release time: $SOURCE_DATE_EPOCH when set, else the
# commit's time, else (a checkout without git) 1980-01-01, the earliest time a
# zip entry can hold. Zip keeps local times in 2-second steps, so the time is
# taken even and packed in UTC.
# With QUILLON_SIGN_CERT and QUILLON_SIGN_KEY (PEM files: the certificate, or
# its chain with the signer's first, and the signer's unencrypted private key)
# in the environment, the release's copy of the DLL is signed with
# Authenticode, SHA-256, dated with the release time, so one key gives the
# same bytes every time; the DLL the build made is left as it was.

foreach(var DLL SOURCE_DIR STAGE_DIR ZIP SUMS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "release_zip: ${var} is not set")
  endif()
endforeach()
if(NOT DEFINED ZIP_TOOL)
  set(ZIP_TOOL zip)
endif()

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
if(NOT sign_cert STREQUAL "" OR NOT sign_key STREQUAL "")
  # Half a signing setup is a mistake, not a wish for an unsigned release.
  if(sign_cert STREQUAL "" OR sign_key STREQUAL "")
    message(FATAL_ERROR "release_zip: set both QUILLON_SIGN_CERT and QUILLON_SIGN_KEY, or neither")
  endif()
  if(NOT SIGN_TOOL)
    message(FATAL_ERROR "release_zip: signing needs osslsigncode (scripts/setup.sh installs it)")
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
file(REMOVE "${ZIP}" "${SUMS}")
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
  run(${SIGN_TOOL} sign -certs "${sign_cert}" -key "${sign_key}" -h sha256 -time ${epoch}
      -in "${DLL}" -out "${STAGE_DIR}/signed/${dll_name}")
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
run(${CMAKE_COMMAND} -E env TZ=UTC ${ZIP_TOOL} -q -j -X "${ZIP}" "${STAGE_DIR}/${dll_name}")
run(${CMAKE_COMMAND} -E env TZ=UTC ${ZIP_TOOL} -q -j -X -l "${ZIP}" "${STAGE_DIR}/INSTALL.txt"
    "${STAGE_DIR}/LICENSE.txt")

get_filename_component(zip_name "${ZIP}" NAME)
file(SHA256 "${ZIP}" zip_sum)
file(SHA256 "${STAGE_DIR}/${dll_name}" dll_sum)
file(WRITE "${SUMS}" "${zip_sum}  ${zip_name}\n${dll_sum}  ${dll_name}\n")
