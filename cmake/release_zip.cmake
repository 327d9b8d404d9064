# Packs the release zip and its SHA256SUMS, the same bytes from one commit
# wherever and whenever it is packed.
#   cmake -DDLL=... -DSOURCE_DIR=... -DSTAGE_DIR=... -DZIP=... -DSUMS=... [-DZIP_TOOL=zip]
#         -P release_zip.cmake
# Every file's time is the release time: $SOURCE_DATE_EPOCH when set, else the
# commit's time, else (a checkout without git) 1980-01-01, the earliest time a
# zip entry can hold. Zip keeps local times in 2-second steps, so the time is
# taken even and packed in UTC.

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

# Fixed modes too: the zip keeps them, and a umask would change them.
file(REMOVE_RECURSE "${STAGE_DIR}")
file(REMOVE "${ZIP}" "${SUMS}")
file(MAKE_DIRECTORY "${STAGE_DIR}")
get_filename_component(zip_dir "${ZIP}" DIRECTORY)
file(MAKE_DIRECTORY "${zip_dir}")
set(mode FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY "${DLL}" DESTINATION "${STAGE_DIR}" ${mode})
file(COPY "${SOURCE_DIR}/packaging/INSTALL.txt" DESTINATION "${STAGE_DIR}" ${mode})
file(COPY "${SOURCE_DIR}/LICENSE" DESTINATION "${STAGE_DIR}" ${mode})
file(RENAME "${STAGE_DIR}/LICENSE" "${STAGE_DIR}/LICENSE.txt")
get_filename_component(dll_name "${DLL}" NAME)
set(files "${STAGE_DIR}/${dll_name}" "${STAGE_DIR}/INSTALL.txt" "${STAGE_DIR}/LICENSE.txt")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "release_zip: '${ARGN}' failed: ${status}")
  endif()
endfunction()

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
