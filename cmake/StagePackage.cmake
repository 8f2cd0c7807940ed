# Lays out what the release zip holds (cmake -P, from the release_files
# target): the DLL, the sample settings file, the checker, the player's guide
# and the changelog with CR LF line ends for Notepad, and SHA256SUMS of them.
# Variables: STAGE DLL CHECKER SAMPLE README CHANGELOG VERSION
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY_FILE ${DLL} ${STAGE}/AimingPlugin.dll)
file(COPY_FILE ${SAMPLE} ${STAGE}/aimingSets.dat)
file(COPY_FILE ${CHECKER} ${STAGE}/aimingsets-check.exe)

function(write_crlf source destination)
  file(READ ${source} text)
  string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${destination} "${text}")
endfunction()
write_crlf(${README} ${STAGE}/README.txt)
write_crlf(${CHANGELOG} ${STAGE}/CHANGELOG)

# The format sha256sum -c reads.
set(sums "")
foreach(name AimingPlugin.dll aimingSets.dat aimingsets-check.exe README.txt CHANGELOG)
  file(SHA256 ${STAGE}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${STAGE}/SHA256SUMS "${sums}")
