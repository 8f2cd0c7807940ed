# Makes the release zip (cmake -P, from the release_zip target): one folder,
# AimingPlugin-<version>/, with the DLL, the sample settings file, the
# checker, the player's guide, the changelog and the licence with CR LF line ends for
# Notepad, and SHA256SUMS.txt of them.
# The same commit gives the same zip, byte for byte: the files in a fixed
# order, each with the same permissions and the commit's time
# (SOURCE_DATE_EPOCH when it is set). README.txt and CHANGELOG.txt name the
# commit.
# Variables: STAGE ZIP DLL CHECKER SAMPLE INI_SAMPLE README CHANGELOG VERSION SOURCE_DIR
cmake_minimum_required(VERSION 3.25)
set(folder AimingPlugin-${VERSION})
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/${folder})
set(files AimingPlugin.dll AimingPlugin.ini aimingSets.dat aimingsets-check.exe README.txt CHANGELOG.txt LICENSE.txt)
file(COPY_FILE ${DLL} ${STAGE}/${folder}/AimingPlugin.dll)
file(COPY_FILE ${SAMPLE} ${STAGE}/${folder}/aimingSets.dat)
file(COPY_FILE ${INI_SAMPLE} ${STAGE}/${folder}/AimingPlugin.ini)
file(COPY_FILE ${CHECKER} ${STAGE}/${folder}/aimingsets-check.exe)

include(${CMAKE_CURRENT_LIST_DIR}/SourceCommit.cmake)
source_commit(${SOURCE_DIR} commit)

function(write_crlf source destination)
  file(READ ${source} text)
  string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
  string(REPLACE "@COMMIT@" "${commit}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${destination} "${text}")
endfunction()
write_crlf(${README} ${STAGE}/${folder}/README.txt)
# The changelog's copy names the version and commit it came with.
file(READ ${CHANGELOG} changelog)
file(WRITE ${STAGE}/CHANGELOG "This copy: version @VERSION@, built from commit @COMMIT@.\n\n${changelog}")
write_crlf(${STAGE}/CHANGELOG ${STAGE}/${folder}/CHANGELOG.txt)
write_crlf(${SOURCE_DIR}/LICENSE ${STAGE}/${folder}/LICENSE.txt)

# The format sha256sum -c reads, and the guide's PowerShell line too.
set(sums "")
foreach(name ${files})
  file(SHA256 ${STAGE}/${folder}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${STAGE}/${folder}/SHA256SUMS.txt "${sums}")
list(APPEND files SHA256SUMS.txt)

# The time every entry carries: the commit's.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch)
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct OUTPUT_VARIABLE epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT epoch)
    set(epoch 315532800)  # 1980-01-01, the earliest time a zip entry holds
  endif()
endif()
set(entries "")
foreach(name ${files})
  file(CHMOD ${STAGE}/${folder}/${name} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND entries ${folder}/${name})
endforeach()
# Info-ZIP with -X keeps only the name, the time and the permissions of an
# entry (no owner, no access or change time), and -D makes no folder
# entries; the times are read in UTC.
execute_process(COMMAND touch -d @${epoch} -- ${entries} WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
get_filename_component(zip_dir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zip_dir})
file(REMOVE ${ZIP})
if(NOT failed)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -D -q ${ZIP} -- ${entries}
                  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "could not write ${ZIP}")
endif()
