# cmake -DROOT=dir -DINPUTS=file;file... -DOUT=file -P sources_digest.cmake
# Writes one line per input, "<sha256>  <path under ROOT>", as sha256sum
# prints them, so built_driver.sh can compare a digest of the same files.
set(_lines "")
foreach(_file IN LISTS INPUTS)
  file(SHA256 ${_file} _hash)
  file(RELATIVE_PATH _name ${ROOT} ${_file})
  string(APPEND _lines "${_hash}  ${_name}\n")
endforeach()
file(WRITE ${OUT} "${_lines}")
